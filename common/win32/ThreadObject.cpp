#include "ThreadObject.h"

#include "NVErrorsU.h"

#include <utility>

namespace win32 {

TThreadObject::TThreadObject() : fStop(MakeEvent(true, false)), fStopAcknowledged(MakeEvent(true, false)) {}

TThreadObject::~TThreadObject() { WaitFor(); }

bool TThreadObject::Start(SIZE_T stackReservation, std::shared_ptr<void> owner) noexcept {
  if (!fStop || !fStopAcknowledged || !fTerminated.Valid()) return false;
  fOwner = std::move(owner);
  fThread.Reset(::CreateThread(nullptr, stackReservation, ThreadProc, this, STACK_SIZE_PARAM_IS_A_RESERVATION, &fThreadId));
  if (!fThread) fOwner.reset(); // the caller holds it too: nothing is destroyed here
  return bool(fThread);
}

void TThreadObject::WaitFor() noexcept {
  if (fThread && ::GetCurrentThreadId() != fThreadId) ::WaitForSingleObject(fThread.Get(), INFINITE);
}

int32_t TThreadObject::RequestStopAndWait(DWORD timeoutMs, TAcknowledgement acknowledgement) noexcept {
  const TLock lock(fStopLock);
  if (!Started() || IsTerminated()) return NVERR_ALREADY_TERMINATED;
  RequestStop();
  const bool acknowledged = ::WaitForSingleObject(fStopAcknowledged.Get(), timeoutMs) == WAIT_OBJECT_0;
  if (acknowledgement == TAcknowledgement::Reset) ::ResetEvent(fStopAcknowledged.Get());
  return acknowledged ? NV_OK : NVERR_SHUTDOWN_TIMEOUT;
}

DWORD WINAPI TThreadObject::ThreadProc(void* self) noexcept {
  auto* object = static_cast<TThreadObject*>(self);
  // Released as this function returns, after the last use of the object, which it may destroy.
  const std::shared_ptr<void> owner = std::move(object->fOwner);
  try {
    object->Execute();
  } catch (...) {
  }
  object->MarkTerminated();
  ::SetEvent(object->fStopAcknowledged.Get());
  if (object->fFreeOnTerminate) delete object; // its destructor sees this thread and does not wait
  return 0;
}

} // namespace win32
