#include "DeviceApiLink.h"

#include "ReadableMemory.h"
#include "WinSync.h"

#include <algorithm>
#include <vector>

namespace q417ctl {
namespace {

// Where the library's answers meet the waiting thread. The library may call back on any thread
// and, after a wait was given up or the library closed, even late: the state is a static with no
// destructor to run (a lock and a condition variable of the system's), and an answer is written
// only into the buffer of the request that is still awaited, each request being told apart by
// the token passed as the callbacks' user data.
struct TAnswers {
  SRWLOCK Lock = SRWLOCK_INIT;
  CONDITION_VARIABLE Arrived = CONDITION_VARIABLE_INIT;
  uintptr_t LastToken = 0;
  uintptr_t Awaited = 0;         // the token of the request waited for, 0 for none
  bool Done = false;             // its answer arrived
  bool Unreadable = false;       // it came with bytes that cannot be read
  int32_t InitResult = 0;        // the initialisation's outcome
  q417::TBytes* Packet = nullptr; // where an update's packet goes
};
TAnswers gAnswers;

BOOL WINAPI InitDone(int32_t result, void* userData) {
  const win32::TSlimExclusive hold(gAnswers.Lock);
  if (reinterpret_cast<uintptr_t>(userData) != gAnswers.Awaited) return TRUE;
  gAnswers.InitResult = result;
  gAnswers.Done = true;
  ::WakeAllConditionVariable(&gAnswers.Arrived);
  return TRUE;
}

void WINAPI UpdateDone(int32_t, const uint8_t* data, int32_t length, void* userData) {
  const win32::TSlimExclusive hold(gAnswers.Lock);
  if (reinterpret_cast<uintptr_t>(userData) != gAnswers.Awaited || gAnswers.Packet == nullptr) return;
  try {
    // No bytes is the empty packet, as the panel takes it; bytes that cannot be read (a bad
    // address, a length beyond what was delivered) are a fault of the library, never read.
    if (length <= 0) *gAnswers.Packet = q417::EmptyPacket();
    else if (win32::Readable(data, length)) gAnswers.Packet->assign(data, data + length);
    else gAnswers.Unreadable = true;
  } catch (...) {
    gAnswers.Packet->clear(); // out of memory: an empty answer, never an exception in the library
  }
  gAnswers.Done = true;
  ::WakeAllConditionVariable(&gAnswers.Arrived);
}

// A new token, awaited from now on; packet: where its answer goes.
void* Await(q417::TBytes* packet) {
  const win32::TSlimExclusive hold(gAnswers.Lock);
  gAnswers.Awaited = ++gAnswers.LastToken;
  gAnswers.Done = false;
  gAnswers.Unreadable = false;
  gAnswers.Packet = packet;
  return reinterpret_cast<void*>(gAnswers.Awaited);
}

void StopAwaiting() {
  const win32::TSlimExclusive hold(gAnswers.Lock);
  gAnswers.Awaited = 0;
  gAnswers.Packet = nullptr;
}

// Waits for the awaited answer; the stop event is looked at between short sleeps of the
// condition variable (it cannot wait on both). The answer stays awaited only while waited for.
// unreadable: whether it came with bytes that could not be read.
TLinkResult WaitAnswer(DWORD timeoutMs, HANDLE stop, bool* unreadable = nullptr) {
  const ULONGLONG start = ::GetTickCount64();
  TLinkResult result = TLinkResult::Ok;
  {
    const win32::TSlimExclusive hold(gAnswers.Lock);
    while (!gAnswers.Done) {
      if (stop && ::WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) {
        result = TLinkResult::Stopped;
        break;
      }
      const ULONGLONG waited = ::GetTickCount64() - start;
      if (timeoutMs != INFINITE && waited >= timeoutMs) {
        result = TLinkResult::NoAnswer;
        break;
      }
      DWORD slice = stop ? 50 : INFINITE;
      if (timeoutMs != INFINITE) slice = std::min<DWORD>(slice, DWORD(timeoutMs - waited));
      hold.Sleep(gAnswers.Arrived, slice);
    }
    if (unreadable) *unreadable = gAnswers.Unreadable;
    gAnswers.Awaited = 0;
    gAnswers.Packet = nullptr;
  }
  return result;
}

std::wstring LibraryPath() {
  std::vector<wchar_t> path(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
    if (n == 0) return L"NVQ417API.dll";
    if (n < path.size()) break;
    path.resize(path.size() * 2);
  }
  std::wstring folder(path.data());
  folder.erase(folder.find_last_of(L"\\/") + 1);
  return folder + L"NVQ417API.dll";
}

template <typename TEntry>
void Resolve(HMODULE library, const char* name, TEntry& entry) {
  entry = reinterpret_cast<TEntry>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

} // namespace

TDeviceApiLink::~TDeviceApiLink() {
  if (fRef != 0 && fClose) {
    int32_t scratch = 0;
    fClose(&fRef, &scratch, nullptr, nullptr);
  }
  StopAwaiting();
  // The library stays loaded until the process ends: a late callback may still be running in it.
  fLibrary.Release();
}

TLinkResult TDeviceApiLink::Fail(std::string text, int32_t code) {
  fError = std::move(text) + " (" + std::to_string(code) + ")";
  return TLinkResult::Failed;
}

TLinkResult TDeviceApiLink::Open(DWORD timeoutMs, HANDLE stop) {
  // Loaded by its full path from q417ctl's folder, as the panel finds the library beside
  // itself. Its own dependencies are searched as for a library linked at load time (its
  // folder, the system's, the PATH), except that the current folder is left out of every search.
  ::SetDllDirectoryW(L"");
  fLibrary.Reset(::LoadLibraryExW(LibraryPath().c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  if (!fLibrary) return Fail("Error loading API library NVQ417API.dll.", int32_t(::GetLastError()));
  Resolve(fLibrary.Get(), "NVQ417_Initialise", fInitialise);
  Resolve(fLibrary.Get(), "_NVQ417_Update", fUpdate);
  Resolve(fLibrary.Get(), "NVQ417_Close", fClose);
  if (!fInitialise || !fUpdate || !fClose)
    return Fail("Error loading API library: NVQ417API.dll lacks an entry point.", int32_t(ERROR_PROC_NOT_FOUND));

  int32_t scratch = 0;
  const int32_t r = fInitialise(&fRef, &scratch, InitDone, Await(nullptr));
  if (r != 997) {
    StopAwaiting();
    return Fail("Error loading API library.", r);
  }
  const TLinkResult waited = WaitAnswer(timeoutMs, stop);
  if (waited == TLinkResult::NoAnswer) {
    fError = "Initialise Error: no answer from the device API library within " + std::to_string(timeoutMs) + " ms.";
    return waited;
  }
  if (waited != TLinkResult::Ok) return waited;
  int32_t result;
  {
    const win32::TSlimExclusive hold(gAnswers.Lock);
    result = gAnswers.InitResult;
  }
  return result == 0 ? TLinkResult::Ok : Fail("Initialise Error.", result);
}

TLinkResult TDeviceApiLink::Update(const q417::TBytes* table, q417::TBytes& packet, DWORD timeoutMs, HANDLE stop) {
  int32_t scratch = 0;
  void* slot = nullptr;
  const int32_t r = fUpdate(fRef, &scratch, table ? table->data() : nullptr, &slot, UpdateDone, Await(&packet));
  if (r != 997) {
    StopAwaiting();
    return Fail(table ? "Update failed." : "Update poll failed.", r);
  }
  bool unreadable = false;
  const TLinkResult waited = WaitAnswer(timeoutMs, stop, &unreadable);
  if (waited == TLinkResult::NoAnswer)
    fError = "No answer from the device API library within " + std::to_string(timeoutMs) + " ms.";
  if (waited == TLinkResult::Ok && unreadable) {
    fError = "The device API library delivered a packet that cannot be read.";
    return TLinkResult::Failed;
  }
  return waited;
}

} // namespace q417ctl
