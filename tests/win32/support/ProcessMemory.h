// The committed private memory of a process, read from its address space (Wine does not fill
// in the process memory counters that would say it).
#pragma once

#include <windows.h>

namespace testing_support {

// Bytes; the process handle needs PROCESS_QUERY_INFORMATION.
double CommittedBytes(HANDLE process);

} // namespace testing_support
