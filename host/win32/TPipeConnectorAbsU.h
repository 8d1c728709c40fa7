// How a pipe handler knows its owner: a thread object that takes a handler's report that it
// has ended by itself. Keeps the handler's unit free of the listener's.
#pragma once

#include "ThreadObject.h"

class TPipeHandler;

class TPipeConnectorAbs : public win32::TThreadObject {
public:
  // The stack each of the host's pipe threads (the listener and every handler) reserves. The
  // client library's calls run on pipe handler threads, so they get the 1 MiB usual for Windows
  // programs; this build's default of 2 MiB is also what Wine commits in full, once per
  // connected client.
  static constexpr SIZE_T PipeThreadStack = 1 << 20;

  // Called on the handler's own thread when it has ended by itself.
  virtual void ListenerDisconnect(TPipeHandler* Obj) = 0;

protected:
  TPipeConnectorAbs() = default;
};
