// The one way the programs, libraries and tests read an environment variable.
#pragma once

#include <windows.h>

#include <string>

namespace win32 {

// The variable's value, however long; empty when it is not set.
inline std::wstring EnvironmentVariable(const wchar_t* name) {
  std::wstring value;
  for (DWORD size = 256;;) {
    value.resize(size);
    const DWORD n = ::GetEnvironmentVariableW(name, value.data(), size);
    if (n < size) { // 0 when not set
      value.resize(n);
      return value;
    }
    size = n; // the size it needs, its terminating NUL included; it may have grown meanwhile
  }
}

} // namespace win32
