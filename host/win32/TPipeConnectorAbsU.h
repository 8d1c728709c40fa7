// How a pipe handler knows its owner: a thread object that takes a handler's report that it
// has ended by itself. Keeps the handler's unit free of the listener's.
#pragma once

#include "ThreadObjectU.h"

class TPipeHandler;

class TPipeConnectorAbs : public TThreadObject {
public:
  // Called on the handler's own thread when it has ended by itself.
  virtual void ListenerDisconnect(TPipeHandler* Obj) = 0;

protected:
  TPipeConnectorAbs() = default;
};
