// COM ports registered as the FTDI driver registers them (a bus key naming the port, an entry in
// the serial port map), for tests whose ports lead through ptys to native selector simulators
// (pty_system_test.sh names them in PELLIX_PTY_PORTS).
#pragma once

#include <string>
#include <vector>

namespace testing_support {

// The ports pty_system_test.sh started simulators behind.
std::vector<std::wstring> PtyPorts();
bool AddFTDIPort(const std::wstring& port);
void RemoveFTDIPort(const std::wstring& port);

} // namespace testing_support
