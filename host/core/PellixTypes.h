// The device host's record of one FTDI serial port, as the bus scan and the unclaimed list
// hold it.
#pragma once

#include <cstdint>
#include <string>

namespace pellix {

struct TFTDIDevice {
  static constexpr int32_t InitialTMR = 20000; // ms an unclaimed port is retried

  std::wstring FTDISN;  // adapter serial number from the bus key name; empty in the unclaimed list
  std::wstring SERPORT; // device path, e.g. \\.\COM7; matched exactly, case-sensitively
  int32_t TMR = InitialTMR; // remaining ms; counts down only in the unclaimed list
};

} // namespace pellix
