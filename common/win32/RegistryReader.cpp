#include "RegistryReader.h"

#include "WinHandles.h"

#include <windows.h>

namespace win32 {

namespace {

TRegKey OpenReadOnly(const std::wstring& keyPath) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
  return TRegKey(key);
}

// Registry names are at most 255 characters for keys and 16383 for values.
constexpr DWORD MaxNameChars = 16384;

// The names of a key's subkeys or values, through RegEnumKeyExW or RegEnumValueW.
template <typename Enumerate>
bool EnumNames(const std::wstring& keyPath, std::vector<std::wstring>& names, Enumerate enumerate) {
  names.clear();
  const TRegKey key = OpenReadOnly(keyPath);
  if (!key) return false;
  std::wstring name(MaxNameChars, L'\0');
  for (DWORD i = 0;; ++i) {
    DWORD length = MaxNameChars;
    const LSTATUS status = enumerate(key.Get(), i, name.data(), &length);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status == ERROR_SUCCESS) names.emplace_back(name.c_str(), length);
    else if (status != ERROR_MORE_DATA) break;
  }
  return true;
}

} // namespace

bool TRegistryReader::SubKeyNames(const std::wstring& keyPath, std::vector<std::wstring>& names) {
  return EnumNames(keyPath, names, [](HKEY key, DWORD i, wchar_t* name, DWORD* length) {
    return ::RegEnumKeyExW(key, i, name, length, nullptr, nullptr, nullptr, nullptr);
  });
}

bool TRegistryReader::ValueNames(const std::wstring& keyPath, std::vector<std::wstring>& names) {
  return EnumNames(keyPath, names, [](HKEY key, DWORD i, wchar_t* name, DWORD* length) {
    return ::RegEnumValueW(key, i, name, length, nullptr, nullptr, nullptr, nullptr);
  });
}

bool TRegistryReader::ReadString(const std::wstring& keyPath, const std::wstring& valueName, std::wstring& data) {
  const TRegKey key = OpenReadOnly(keyPath);
  if (!key) return false;
  DWORD type = 0, bytes = 0;
  if (::RegQueryValueExW(key.Get(), valueName.c_str(), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) return false;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
  bytes = DWORD(text.size() * sizeof(wchar_t));
  if (::RegQueryValueExW(key.Get(), valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &bytes) !=
      ERROR_SUCCESS)
    return false;
  // The stored data need not end with a NUL, and may hold one early: the string ends at the first.
  text.resize(bytes / sizeof(wchar_t));
  data.assign(text.c_str());
  return true;
}

} // namespace win32
