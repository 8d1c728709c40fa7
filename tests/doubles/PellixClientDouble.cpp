// A client library for tests of the device host. Its behaviour comes from the environment of
// the host process, read at each call:
//   PELLIX_CLIENT_TYPE         device type reported by the meta entry (decimal or 0x-hex; default 0x10)
//   PELLIX_CLIENT_NAME         device type name (default "Test Device")
//   PELLIX_CLIENT_META         "none": the meta entry writes nothing; a number: its result code
//   PELLIX_CLIENT_DELAY_MS     both entries sleep this long before they answer (slow calls)
//   PELLIX_CLIENT_LOG          file to which every call appends one line
// The update entry answers with the request's bytes followed by the references it was given,
// each as four little-endian bytes, unless the request is one of these commands (ASCII):
//   !sleep:MS     sleep MS milliseconds inside the call, then answer as usual
//   !rc:N         answer as usual with result code N
//   !count        a counter kept behind the host's pointer slot, incremented; answers 4 bytes
//   !overlaps     how many calls so far found another call still inside the library; 4 bytes
//   !size:N       answer with N bytes 0, 1, 2 ... (mod 251)
//   !throw        leave the call by an exception
// Built twice: with both entries, and with the meta entry only.
#include "PellixHdr.h"

#include <objbase.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
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

std::atomic<int> gInside{0};
std::atomic<int32_t> gOverlaps{0};

// Counts the calls that find another call inside the library.
struct TInside {
  TInside() {
    if (gInside.fetch_add(1) != 0) ++gOverlaps;
  }
  ~TInside() { --gInside; }
};

bool Answer(TPellixBytes* response, const void* data, size_t size) {
  if (size == 0) return true;
  auto* out = static_cast<uint8_t*>(::CoTaskMemRealloc(response->Data, size));
  if (out == nullptr) return false;
  std::memcpy(out, data, size);
  response->Data = out;
  response->Length = int32_t(size);
  return true;
}

// The number after a command's colon.
long Argument(const std::string& command) { return std::strtol(command.c_str() + command.find(':') + 1, nullptr, 0); }

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
  const TInside inside;
  Delay();
  if (Request == nullptr || Response == nullptr || SerialRefs == nullptr || HelperPointer == nullptr) return 87;
  Log("update request=" + std::to_string(Request->Length) + " refs=" + std::to_string(SerialRefs->Length));
  const std::string command = Request->Length > 0 && Request->Data[0] == '!'
                                  ? std::string(reinterpret_cast<const char*>(Request->Data), size_t(Request->Length))
                                  : std::string();
  int32_t result = 0;
  if (command == "!count") {
    // The library's own state, kept by the host from one call to the next, whichever client calls.
    if (*HelperPointer == nullptr) *HelperPointer = new int32_t(0);
    const int32_t count = ++*static_cast<int32_t*>(*HelperPointer);
    return Answer(Response, &count, 4) ? 0 : 8;
  }
  if (command == "!overlaps") {
    const int32_t overlaps = gOverlaps;
    return Answer(Response, &overlaps, 4) ? 0 : 8;
  }
  if (command.rfind("!size:", 0) == 0) {
    std::string bytes(size_t(Argument(command)), '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(i % 251);
    return Answer(Response, bytes.data(), bytes.size()) ? 0 : 8;
  }
  if (command == "!throw") throw std::runtime_error("the library gives up");
  if (command.rfind("!sleep:", 0) == 0) ::Sleep(DWORD(Argument(command)));
  if (command.rfind("!rc:", 0) == 0) result = int32_t(Argument(command));

  std::string out(reinterpret_cast<const char*>(Request->Data), size_t(Request->Length > 0 ? Request->Length : 0));
  for (int32_t i = 0; i < SerialRefs->Length; ++i)
    for (int b = 0; b < 4; ++b) out += char(uint32_t(SerialRefs->Data[i]) >> (8 * b));
  return Answer(Response, out.data(), out.size()) ? result : 8;
} catch (const std::runtime_error&) {
  throw; // "!throw": the host sees a call that does not return normally
} catch (...) {
  return 8;
}

} // extern "C"
