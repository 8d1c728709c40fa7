// The client library of the device host: its path and file name from the command line, its
// module and two entry points, and what its meta entry reported. Written on the main thread
// during start-up only, read-only afterwards.
#pragma once

#include "PellixHdr.h"
#include "WinHandles.h"

#include <cstdint>
#include <string>

namespace ClientSupport {

extern std::wstring LibraryPath;     // the command-line argument, unchanged
extern std::wstring LibraryFileName; // its file-name part, ASCII upper-cased
extern win32::TModule LibraryHandle;
extern TPELLIX_DeviceMeta MetaEntry;
extern TPELLIX_DeviceUpdate UpdateEntry;
extern uint32_t DeviceType;
extern std::wstring DeviceTypeName;
extern int32_t BaudRate; // filled if the library chooses to; the host opens devices at a fixed rate

} // namespace ClientSupport

// Checks the command line and binds the library; false ends the host.
bool InitClientLibrary();
bool BindClientLibrary();
bool LoadClientLibrary();
void FreeClientLibrary();
// Calls the meta entry once; its result code is not examined. The name the library allocated
// becomes DeviceTypeName and is freed here. False when an exception left the entry unhandled
// (one debugger line names it): start-up ends.
bool QueryDeviceMeta();
