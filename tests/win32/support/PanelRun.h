// A Q417Panel.exe run beside the device API library's test double, with its own script and
// call log, found on the desktop and read from outside.
#pragma once

#include "HexBytes.h"
#include "TestSupport.h"

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

// One selector's record as tests write it into the double's packets.
struct TSelector {
  int32_t id;
  uint32_t version;
  uint8_t mode, select, indicator;
  uint16_t delay;
};

// An update packet of these selectors in the double's hex form; asTable: a next-state table as
// the panel sends it (version 0).
std::string PacketHex(const std::vector<TSelector>& selectors, bool asTable = false);

class TPanelRun {
public:
  explicit TPanelRun(const std::string& script);

  bool Ready() const { return fStatus != nullptr; }
  HWND Main() const { return fMain; }
  std::string Status() const { return Narrow(ReadStatusBar(fStatus)); }
  bool WaitStatus(const std::string& text, DWORD timeoutMs);
  double SecondsSinceStart() const;
  std::vector<std::string> Log() const { return Lines(fLog.Read()); }
  // Log lines of one event (the word after the time stamp): "init", "update", "deliver", "close".
  std::vector<std::string> Events(const std::string& event) const;
  // The hex bytes of every next-state table sent, in order.
  std::vector<std::string> Tables() const;
  // Waits until more than `count` tables were sent; returns the one at index `count`.
  std::string WaitTable(size_t count, DWORD timeoutMs = 10000) const;
  // Waits until a poll is logged after the last table: the table's answer has been applied.
  bool WaitAnswerApplied(DWORD timeoutMs = 10000) const;
  TChildProcess& Process() { return fProcess; }

private:
  TTempFile fScript, fLog;
  TChildProcess fProcess;
  ULONGLONG fStarted = 0;
  HWND fMain = nullptr, fStatus = nullptr;
};

// A name for a named event that no other test run uses.
std::string UniqueName(const std::string& what);
// Sets (creating if need be) the named event.
void SetNamedEvent(const std::string& name);

} // namespace testing_support
