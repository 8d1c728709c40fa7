#include "TestSupport.h"

#include "Environment.h"
#include "WideText.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <fstream>
#include <sstream>

namespace testing_support {

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs, DWORD stepMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  for (;;) {
    if (condition()) return true;
    if (::GetTickCount64() >= deadline) return false;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, stepMs, QS_ALLINPUT);
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) continue; // a hosted main window posts it when destroyed
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
}

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH];
  const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring s(path, n);
  return s.substr(0, s.find_last_of(L"\\/") + 1);
}

TTempFile::TTempFile(const wchar_t* prefix) {
  wchar_t folder[MAX_PATH], name[MAX_PATH];
  ::GetTempPathW(MAX_PATH, folder);
  ::GetTempFileNameW(folder, prefix, 0, name); // creates it empty
  fPath = name;
}

TTempFile::~TTempFile() { ::DeleteFileW(fPath.c_str()); }

std::string TTempFile::Read() const {
  std::ifstream in(fPath.c_str(), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void TTempFile::Write(const std::string& text) const {
  std::ofstream out(fPath.c_str(), std::ios::binary | std::ios::trunc);
  out << text;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text.substr(0, text.find_last_of('\n') + 1));
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

namespace {
ULONGLONG Milliseconds(const FILETIME& time) { return (ULONGLONG(time.dwHighDateTime) << 32 | time.dwLowDateTime) / 10000; }
} // namespace

ULONGLONG SystemTimeMs() {
  FILETIME now{};
  ::GetSystemTimePreciseAsFileTime(&now);
  return Milliseconds(now);
}

uint32_t StressSeed() {
  static const uint32_t seed = [] {
    const std::wstring text = win32::EnvironmentVariable(L"Q417_STRESS_SEED");
    const uint32_t value = text.empty() ? 417u : uint32_t(std::wcstoul(text.c_str(), nullptr, 0));
    std::printf("random seed %u (set Q417_STRESS_SEED to replay another)\n", value);
    return value;
  }();
  return seed;
}

TChildProcess::TChildProcess(const std::wstring& exePath, const std::wstring& arguments,
                             const std::vector<std::pair<std::wstring, std::wstring>>& environment,
                             const std::wstring& workingFolder, HANDLE stdOut, HANDLE stdErr) {
  // The child inherits this process's environment as it is at the moment of creation.
  std::vector<std::pair<std::wstring, std::wstring>> saved;
  for (const auto& [name, value] : environment) {
    saved.emplace_back(name, win32::EnvironmentVariable(name.c_str()));
    ::SetEnvironmentVariableW(name.c_str(), value.c_str());
  }
  std::wstring commandLine = L"\"" + exePath + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  const bool redirected = stdOut != nullptr || stdErr != nullptr;
  if (redirected) {
    // The given handles must be inheritable; the child gets them as its standard handles.
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = stdOut ? stdOut : ::GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = stdErr ? stdErr : ::GetStdHandle(STD_ERROR_HANDLE);
  }
  PROCESS_INFORMATION pi{};
  if (::CreateProcessW(exePath.c_str(), commandLine.data(), nullptr, nullptr, redirected ? TRUE : FALSE, 0, nullptr,
                       workingFolder.empty() ? nullptr : workingFolder.c_str(), &si, &pi)) {
    fProcess.Reset(pi.hProcess);
    ::CloseHandle(pi.hThread);
    fId = pi.dwProcessId;
  }
  for (const auto& [name, value] : saved) ::SetEnvironmentVariableW(name.c_str(), value.empty() ? nullptr : value.c_str());
}

TChildProcess::~TChildProcess() {
  if (fProcess && ::WaitForSingleObject(fProcess.Get(), 0) == WAIT_TIMEOUT) {
    ::TerminateProcess(fProcess.Get(), 99);
    // Gone before the next test starts, which may use the same names, files or device type.
    ::WaitForSingleObject(fProcess.Get(), 30000);
  }
}

bool TChildProcess::WaitExit(DWORD timeoutMs) {
  return WaitFor([&] { return ::WaitForSingleObject(fProcess.Get(), 0) == WAIT_OBJECT_0; }, timeoutMs);
}

DWORD TChildProcess::ExitCode() const {
  DWORD code = STILL_ACTIVE;
  ::GetExitCodeProcess(fProcess.Get(), &code);
  return code;
}

ULONGLONG TChildProcess::ExitTimeMs() const {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (::WaitForSingleObject(fProcess.Get(), 0) != WAIT_OBJECT_0 ||
      !::GetProcessTimes(fProcess.Get(), &created, &exited, &kernel, &user))
    return 0;
  return Milliseconds(exited);
}

double TChildProcess::SecondsRun() const {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (::WaitForSingleObject(fProcess.Get(), 0) != WAIT_OBJECT_0 ||
      !::GetProcessTimes(fProcess.Get(), &created, &exited, &kernel, &user))
    return -1;
  return double(Milliseconds(exited) - Milliseconds(created)) / 1000.0;
}

HWND TChildProcess::FindTopWindow(const wchar_t* className) const {
  struct Search {
    DWORD pid;
    const wchar_t* className;
    HWND found;
  } search{fId, className, nullptr};
  ::EnumWindows(
      [](HWND hwnd, LPARAM lParam) -> BOOL {
        auto* s = reinterpret_cast<Search*>(lParam);
        DWORD pid = 0;
        ::GetWindowThreadProcessId(hwnd, &pid);
        wchar_t name[256] = {};
        ::GetClassNameW(hwnd, name, 256);
        if (pid == s->pid && wcscmp(name, s->className) == 0) {
          s->found = hwnd;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

int ProcessHandleCount(DWORD processId) {
  // SystemExtendedHandleInformation: a count, a reserved word, then one entry per open handle of
  // any process.
  struct TEntry {
    void* object;
    ULONG_PTR processId, handle;
    ULONG access;
    USHORT backTrace, type;
    ULONG attributes, reserved;
  };
  using TQuery = LONG(NTAPI*)(ULONG, void*, ULONG, ULONG*);
  constexpr ULONG kExtendedHandleInformation = 64;
  constexpr LONG kLengthMismatch = LONG(0xC0000004);
  const auto query = reinterpret_cast<TQuery>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (query == nullptr) return -1;
  std::vector<ULONG_PTR> buffer(1 << 14); // aligned for the entries
  for (;;) {
    ULONG needed = 0;
    const ULONG size = ULONG(buffer.size() * sizeof(ULONG_PTR));
    const LONG status = query(kExtendedHandleInformation, buffer.data(), size, &needed);
    if (status == kLengthMismatch && buffer.size() < (size_t(1) << 26)) {
      buffer.resize(std::max<size_t>(buffer.size() * 2, needed / sizeof(ULONG_PTR) + 1024));
      continue;
    }
    if (status != 0) return -1;
    break;
  }
  const ULONG_PTR entries = buffer[0]; // buffer[1] is reserved; the entries follow
  const auto* entry = reinterpret_cast<const TEntry*>(buffer.data() + 2);
  int count = 0;
  for (ULONG_PTR i = 0; i < entries; ++i)
    if (entry[i].processId == processId) ++count;
  return count;
}

std::wstring ReadStatusBar(HWND statusBar) {
  DWORD pid = 0;
  ::GetWindowThreadProcessId(statusBar, &pid);
  win32::THandle process(::OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid));
  if (!process) return L"<no process>";
  DWORD_PTR info = 0;
  if (!::SendMessageTimeoutW(statusBar, SB_GETTEXTLENGTHW, 0, 0, SMTO_ABORTIFHUNG, 5000, &info)) return L"<hung>";
  const size_t chars = LOWORD(info) + 1;
  void* remote = ::VirtualAllocEx(process.Get(), nullptr, chars * sizeof(wchar_t), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (!remote) return L"<no memory>";
  std::wstring text(chars, L'\0');
  DWORD_PTR ignored = 0;
  SIZE_T read = 0;
  if (::SendMessageTimeoutW(statusBar, SB_GETTEXTW, 0, LPARAM(remote), SMTO_ABORTIFHUNG, 5000, &ignored))
    ::ReadProcessMemory(process.Get(), remote, text.data(), chars * sizeof(wchar_t), &read);
  ::VirtualFreeEx(process.Get(), remote, 0, MEM_RELEASE);
  text.resize(wcsnlen(text.c_str(), chars));
  return text;
}

std::wstring WindowText(HWND window) {
  wchar_t text[512] = {};
  DWORD_PTR n = 0;
  ::SendMessageTimeoutW(window, WM_GETTEXT, 512, LPARAM(text), SMTO_ABORTIFHUNG, 5000, &n);
  return text;
}

std::string Narrow(const std::wstring& text) { return win32::Narrow(text); }

} // namespace testing_support
