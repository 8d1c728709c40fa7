// A client library for tests of the device host. Its behaviour comes from the environment of
// the host process, read at each call:
//   PELLIX_CLIENT_TYPE         device type reported by the meta entry (decimal or 0x-hex; default 0x10)
//   PELLIX_CLIENT_NAME         device type name (default "Test Device")
//   PELLIX_CLIENT_META         "none": the meta entry writes nothing; a number: its result code
//   PELLIX_CLIENT_DELAY_MS     both entries sleep this long before they answer (slow calls)
//   PELLIX_CLIENT_LOG          file to which every call appends one line
// The update entry answers with the request's bytes followed by the references it was given,
// each as four little-endian bytes. Built twice: with both entries, and with the meta entry only.
#include "PellixHdr.h"

#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::wstring Env(const wchar_t* name, const wchar_t* fallback) {
  wchar_t value[1024];
  const DWORD n = ::GetEnvironmentVariableW(name, value, 1024);
  return n > 0 && n < 1024 ? std::wstring(value, n) : std::wstring(fallback);
}

long EnvNumber(const wchar_t* name, long fallback) {
  const std::wstring text = Env(name, L"");
  if (text.empty()) return fallback;
  return long(std::wcstoul(text.c_str(), nullptr, 0));
}

void Log(const std::string& line) {
  const std::wstring path = Env(L"PELLIX_CLIENT_LOG", L"");
  if (path.empty()) return;
  if (FILE* f = _wfopen(path.c_str(), L"ab")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

void Delay() {
  const long ms = EnvNumber(L"PELLIX_CLIENT_DELAY_MS", 0);
  if (ms > 0) ::Sleep(DWORD(ms));
}

} // namespace

extern "C" {

int32_t WINAPI _PELLIX_DeviceMeta(uint32_t* DeviceType, wchar_t** DeviceTypeName, int32_t* BaudRate) try {
  Log("meta");
  Delay();
  const std::wstring mode = Env(L"PELLIX_CLIENT_META", L"0");
  if (mode == L"none") return 0;
  if (DeviceType) *DeviceType = uint32_t(EnvNumber(L"PELLIX_CLIENT_TYPE", 0x10));
  if (BaudRate) *BaudRate = 115200;
  if (DeviceTypeName) {
    const std::wstring name = Env(L"PELLIX_CLIENT_NAME", L"Test Device");
    auto* copy = static_cast<wchar_t*>(::CoTaskMemAlloc((name.size() + 1) * sizeof(wchar_t)));
    if (copy) std::memcpy(copy, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
    *DeviceTypeName = copy;
  }
  return int32_t(std::wcstol(mode.c_str(), nullptr, 0));
} catch (...) {
  return 8; // out of memory
}

int32_t WINAPI _PELLIX_DeviceUpdate(TPellixBytes* Request, TPellixBytes* Response, const TNVSerialRefs* SerialRefs,
                                    void** HelperPointer) try {
  Delay();
  if (Request == nullptr || Response == nullptr || SerialRefs == nullptr || HelperPointer == nullptr) return 87;
  Log("update request=" + std::to_string(Request->Length) + " refs=" + std::to_string(SerialRefs->Length));
  const int32_t length = Request->Length + 4 * SerialRefs->Length;
  if (length == 0) return 0;
  auto* out = static_cast<uint8_t*>(::CoTaskMemRealloc(Response->Data, size_t(length)));
  if (out == nullptr) return 8;
  if (Request->Length > 0) std::memcpy(out, Request->Data, size_t(Request->Length));
  for (int32_t i = 0; i < SerialRefs->Length; ++i)
    for (int b = 0; b < 4; ++b) out[Request->Length + 4 * i + b] = uint8_t(uint32_t(SerialRefs->Data[i]) >> (8 * b));
  Response->Data = out;
  Response->Length = length;
  return 0;
} catch (...) {
  return 8;
}

} // extern "C"
