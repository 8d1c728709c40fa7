// q417ctl's link to the selectors: the device API library NVQ417API, loaded from q417ctl's own
// folder and called through its C interface as the control panel calls it, with each answer
// awaited on the calling thread. Anything the library refuses is a result code; the link never
// throws across its calls.
#pragma once

#include "NVQ417Hdr.h"
#include "Q417Packet.h"
#include "WinHandles.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace q417ctl {

enum class TLinkResult {
  Ok,
  Failed,   // the library could not be loaded, answered a code other than accepted, or delivered
            // bytes that cannot be read; see Error()
  NoAnswer, // accepted, but its answer did not come in time
  Stopped,  // the stop event was set while waiting
};

class TDeviceApiLink {
public:
  TDeviceApiLink() = default;
  ~TDeviceApiLink(); // closes the library's reference
  TDeviceApiLink(const TDeviceApiLink&) = delete;
  TDeviceApiLink& operator=(const TDeviceApiLink&) = delete;

  // Loads the library and initialises it (which may start a device host), waiting up to
  // timeoutMs for the library's answer or until stop (may be null) is set.
  TLinkResult Open(DWORD timeoutMs, HANDLE stop = nullptr);

  // A poll (table null) or a next-state table; packet receives the update packet that answers
  // it. Waits up to timeoutMs (INFINITE allowed) or until stop (may be null) is set.
  TLinkResult Update(const q417::TBytes* table, q417::TBytes& packet, DWORD timeoutMs, HANDLE stop = nullptr);

  // Why the last call failed, in the panel's words with the code: "Update failed. (5)".
  const std::string& Error() const { return fError; }

private:
  TLinkResult Fail(std::string text, int32_t code);

  win32::TModule fLibrary;
  decltype(&NVQ417_Initialise) fInitialise = nullptr;
  decltype(&_NVQ417_Update) fUpdate = nullptr;
  decltype(&NVQ417_Close) fClose = nullptr;
  int32_t fRef = 0;
  std::string fError;
};

} // namespace q417ctl
