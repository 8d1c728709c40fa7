// The Q417 client library's work without Win32: one request of the device host, a poll or a
// next-state table, served over the selectors behind the host's serial references.
#pragma once

#include "Q417ClientCodes.h"
#include "Q417Packet.h"

#include <cstdint>
#include <span>
#include <string>

namespace q417client {

// The selectors' line protocol (sim/PROTOCOL.md) as the library reaches it; the DLL binds it to
// NVSerial_Command.
class ISelectorLine {
public:
  virtual ~ISelectorLine() = default;
  // Sends one command line to the selector behind ref and returns its answer line. 0, or the
  // serial library's error code, in which case reply means nothing.
  virtual int32_t Command(int32_t ref, const std::string& command, std::string& reply) = 0;
};

// Serves one request. An empty request is a poll; otherwise it is a next-state table whose
// records are applied, each to the selectors behind refs that carry its id (the last record of
// an id wins, unknown ids are ignored), with a SET only where the state differs from what the
// selector's GET reported. response becomes the update packet of every selector that answered, in
// reference order; it stays empty for a request that is not a table. Returns 0 or a code of
// Q417ClientCodes.h. The id behind a reference is read afresh on every call, so a reference
// that now leads to another selector never receives a record meant for the old one.
int32_t ServeRequest(std::span<const uint8_t> request, std::span<const int32_t> refs, ISelectorLine& line,
                     q417::TBytes& response);

} // namespace q417client
