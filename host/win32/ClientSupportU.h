// The device host's start-up as a value: the registry debug switch, the client library named on
// the command line with its two entry points, and what its meta entry reported.
#pragma once

#include "PellixHdr.h"
#include "TClientAggregatorU.h"
#include "WinHandles.h"

#include <cstdint>
#include <optional>
#include <string>

// What the host knows of itself once started: its window shows it, the listener is made with it.
struct THostIdentity {
  std::wstring LibraryPath; // the command-line argument, unchanged
  uint32_t DeviceType = 0;
  std::wstring DeviceTypeName;
  TClientEntries Entries;
  int32_t DebugMode = 0; // the registry debug switch: 0, or all bits set
};

// The loaded client library and the identity whose entries point into it.
struct TBoundHost {
  win32::TModule Library; // freed last, once nothing calls the entries any more
  THostIdentity Identity;
};

// Reads the debug switch, checks the command line, binds the client library and calls its meta
// entry once (its result code is not examined; the name it allocated is freed here). Empty when
// the start-up ends: a bad command line, a library that does not load or lacks an entry (nothing
// stays loaded), or a meta entry that an exception left unhandled (one debugger line names it).
std::optional<TBoundHost> BindHost();
