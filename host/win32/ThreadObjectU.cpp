#include "ThreadObjectU.h"

TThreadObject::~TThreadObject() { WaitFor(); }

bool TThreadObject::Start() noexcept {
  fThread.Reset(::CreateThread(nullptr, StackReservation, ThreadProc, this, STACK_SIZE_PARAM_IS_A_RESERVATION, &fThreadId));
  return bool(fThread);
}

void TThreadObject::WaitFor() noexcept {
  if (fThread && ::GetCurrentThreadId() != fThreadId) ::WaitForSingleObject(fThread.Get(), INFINITE);
}

DWORD WINAPI TThreadObject::ThreadProc(void* self) noexcept {
  auto* object = static_cast<TThreadObject*>(self);
  try {
    object->Execute();
  } catch (...) {
  }
  if (object->fFreeOnTerminate) delete object; // its destructor sees this thread and does not wait
  return 0;
}
