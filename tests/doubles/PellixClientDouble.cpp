// A client library for tests of the device host. Its behaviour comes from the environment of
// the host process, read at each call:
//   PELLIX_CLIENT_TYPE         device type reported by the meta entry (decimal or 0x-hex; default 0x10)
//   PELLIX_CLIENT_NAME         device type name (default "Test Device")
//   PELLIX_CLIENT_META         "none": the meta entry writes nothing; a number: its result code;
//                              a fault below without its "!" ("fault:av", "raise:0xE06D7363"):
//                              the meta entry fails that way
//   PELLIX_CLIENT_DELAY_MS     both entries sleep this long before they answer (slow calls)
//   PELLIX_CLIENT_LOG          file to which every call appends one line
// The update entry answers with the request's bytes followed by the references it was given,
// each as four little-endian bytes, unless the request is one of these commands (ASCII):
//   !sleep:MS     sleep MS milliseconds inside the call, then answer as usual
//   !rc:N         answer as usual with result code N
//   !count        a counter kept behind the host's pointer slot, incremented; answers 4 bytes
//   !overlaps     how many calls so far found another call still inside the library; 4 bytes
//   !size:N       answer with N bytes 0, 1, 2 ... (mod 251)
//   !throw        leave the call by an exception of this toolchain's C++ runtime
//   !fault:av     leave it by an access violation; !fault:div by an integer division by zero;
//                 !fault:ill by an illegal instruction; !raise:CODE by RaiseException(CODE)
//                 (any code: another compiler's C++ exceptions are 0xE06D7363). "@MS" behind
//                 any of them fails only after MS milliseconds. Checked right after the call is
//                 logged, so that the call holds nothing when it fails.
//   !handled:cpp  raise a C++ exception and catch it inside; !handled:seh raise a structured
//                 exception and take it with a frame handler of the library's own. Both answer
//                 "handled" with result 0.
//   !load:NAME    LoadLibraryW(NAME) by bare name: result 0 when it loaded (it is freed again),
//                 otherwise the system's error code
// Built twice: with both entries, and with the meta entry only.
#include "Environment.h"
#include "PellixHdr.h"

#include <excpt.h>
#include <objbase.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

namespace {

std::wstring Env(const wchar_t* name, const wchar_t* fallback) {
  const std::wstring value = win32::EnvironmentVariable(name);
  return value.empty() ? std::wstring(fallback) : value;
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

// The fault a command names ("fault:av", "fault:div", "fault:ill", "raise:CODE", each with an
// optional "@MS" to wait first), raised here; returns (doing nothing) for any other text. No
// allocation: the failing call holds nothing.
void FailAsNamed(const char* text, size_t length) {
  char name[32] = {};
  if (length >= sizeof name) return;
  std::memcpy(name, text, length);
  if (std::strncmp(name, "fault:", 6) != 0 && std::strncmp(name, "raise:", 6) != 0) return;
  if (char* at = std::strchr(name, '@')) {
    *at = '\0';
    ::Sleep(DWORD(std::strtoul(at + 1, nullptr, 10)));
  }
  if (std::strcmp(name, "fault:av") == 0) {
    // Volatile both ways, or the compiler drops a store it can prove is undefined.
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
  } else if (std::strcmp(name, "fault:div") == 0) {
    volatile int numerator = 1, zero = 0; // a known numerator of 1 is divided without a division
    volatile int quotient = numerator / zero;
    (void)quotient;
  } else if (std::strcmp(name, "fault:ill") == 0) {
    __builtin_trap();
  } else if (std::strncmp(name, "raise:", 6) == 0) {
    ::RaiseException(DWORD(std::strtoul(name + 6, nullptr, 0)), 0, 0, nullptr);
  }
}

extern "C" LONG PellixDoubleOwnFilter(EXCEPTION_POINTERS*, void*) { return EXCEPTION_EXECUTE_HANDLER; }

// A structured exception raised and taken by a frame handler of the library's own: the host's
// guard never sees it. Unoptimised and free of C++ cleanups, as <excpt.h>'s primitive needs.
__attribute__((noinline, optimize("O0"))) bool RaiseAndHandle() {
  volatile bool handled = true;
  __try1(PellixDoubleOwnFilter)
  ::RaiseException(0xE0417001, 0, 0, nullptr);
  handled = false; // not reached: the exception is taken by the handler
  __except1
  return handled;
}

} // namespace

extern "C" {

int32_t WINAPI _PELLIX_DeviceMeta(uint32_t* DeviceType, wchar_t** DeviceTypeName, int32_t* BaudRate) try {
  Log("meta");
  Delay();
  const std::wstring mode = Env(L"PELLIX_CLIENT_META", L"0");
  if (mode == L"none") return 0;
  const std::string fault(mode.begin(), mode.end());
  FailAsNamed(fault.data(), fault.size());
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
  if (Request == nullptr || Response == nullptr || SerialRefs == nullptr || HelperPointer == nullptr) return 87;
  Log("update request=" + std::to_string(Request->Length) + " refs=" + std::to_string(SerialRefs->Length));
  if (Request->Length > 1 && Request->Data[0] == '!')
    FailAsNamed(reinterpret_cast<const char*>(Request->Data) + 1, size_t(Request->Length - 1));
  if (Request->Length == 6 && std::memcmp(Request->Data, "!throw", 6) == 0)
    throw std::runtime_error("the library gives up");
  const TInside inside;
  Delay();
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
  if (command == "!handled:cpp" || command == "!handled:seh") {
    bool handled = false;
    if (command == "!handled:seh") handled = RaiseAndHandle();
    else try {
        throw std::logic_error("taken inside");
      } catch (const std::logic_error&) {
        handled = true;
      }
    return handled && Answer(Response, "handled", 7) ? 0 : 8;
  }
  if (command.rfind("!load:", 0) == 0) {
    const std::string name = command.substr(6);
    const HMODULE module = ::LoadLibraryW(std::wstring(name.begin(), name.end()).c_str());
    if (module == nullptr) return int32_t(::GetLastError());
    ::FreeLibrary(module);
    return 0;
  }
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
