#include "LibraryCallGuard.h"

#include <excpt.h>

namespace {

// What one call needs. The entry is called from a plain function without destructors or
// handlers of its own: between the guard and the library lies nothing that could take or need
// to see an exception.
struct TUpdateCall {
  TPELLIX_DeviceUpdate entry;
  TPellixBytes* request;
  TPellixBytes* response;
  const TNVSerialRefs* serialRefs;
  void** helperPointer;
  int32_t result;
};

struct TMetaCall {
  TPELLIX_DeviceMeta entry;
  uint32_t* deviceType;
  wchar_t** deviceTypeName;
  int32_t* baudRate;
  int32_t result;
};

void CallUpdate(void* context) {
  auto* c = static_cast<TUpdateCall*>(context);
  c->result = c->entry(c->request, c->response, c->serialRefs, c->helperPointer);
}

void CallMeta(void* context) {
  auto* c = static_cast<TMetaCall*>(context);
  c->result = c->entry(c->deviceType, c->deviceTypeName, c->baudRate);
}

// One guarded call on this thread: where to resume, and what the filter found.
struct TGuard {
  CONTEXT resume;         // captured right before the call
  volatile bool faulted;  // set by the filter before it resumes there
  TLibraryFault* fault;
};

// The guard of the call running on each thread, in a slot of the system's thread-local storage:
// the language's thread_local would enrol every thread that calls in the threads library's
// bookkeeping, two handles more for each client the host serves.
DWORD GuardSlot() {
  static const DWORD slot = ::TlsAlloc();
  return slot;
}

TGuard* CurrentGuard() {
  return GuardSlot() == TLS_OUT_OF_INDEXES ? nullptr : static_cast<TGuard*>(::TlsGetValue(GuardSlot()));
}

// The filter runs while the system looks for a handler, after every frame of the library has
// declined the exception. It does not let the system unwind the library's frames (their own
// unwinding code may depend on the state that just failed, and some compilers' C++ runtimes
// cannot unwind their frames towards a handler of another kind): it resumes, with the
// registers and stack as they were, at the point captured before the call.
LONG ResumeBeforeTheCall(const EXCEPTION_POINTERS* pointers) {
  TGuard* guard = CurrentGuard();
  if (guard == nullptr) return EXCEPTION_CONTINUE_SEARCH;
  if (pointers && pointers->ExceptionRecord) {
    guard->fault->Code = uint32_t(pointers->ExceptionRecord->ExceptionCode);
    guard->fault->Address = uint64_t(reinterpret_cast<uintptr_t>(pointers->ExceptionRecord->ExceptionAddress));
  }
  guard->faulted = true;
  ::RtlRestoreContext(&guard->resume, nullptr);
  return EXCEPTION_CONTINUE_SEARCH; // not reached
}

} // namespace

#if defined(_MSC_VER)

namespace {
bool GuardedInvoke(void (*call)(void*), void* context, TGuard& guard) {
  ::RtlCaptureContext(&guard.resume);
  if (guard.faulted) return false; // resumed here by the filter
  __try {
    call(context);
  } __except (ResumeBeforeTheCall(GetExceptionInformation())) {
  }
  return true;
}
} // namespace

#else

// The filter of the frame handler below, named in its scope table by its plain symbol.
extern "C" __attribute__((used)) LONG q417_LibraryCallFilter(EXCEPTION_POINTERS* pointers, void* /*frame*/) {
  return ResumeBeforeTheCall(pointers);
}

namespace {
// The frame handler of <excpt.h>: the system's C handler with one scope around the call, whose
// filter is asked only once the library's own handlers have declined. Execution comes back to
// the capture point by a restored context, which the compiler cannot know of, so nothing may
// live in registers across it: the function is built without optimisation and keeps its state
// on the stack. It must stay free of C++ cleanups and of noexcept (either would give it a
// handler of the compiler's own) and in the plain text section (the primitive switches back to
// it), and it may hold only this one guarded block (the primitive's labels are fixed).
__attribute__((noinline, optimize("O0"))) bool GuardedInvoke(void (*call)(void*), void* context, TGuard& guard) {
  ::RtlCaptureContext(&guard.resume);
  if (guard.faulted) return false; // resumed here by the filter
  __try1(q417_LibraryCallFilter)
  call(context);
  __except1
  return true;
}
} // namespace

#endif

namespace {
bool Guarded(void (*call)(void*), void* context, TLibraryFault& fault) noexcept {
  TGuard guard{};
  guard.fault = &fault;
  fault = {};
  if (GuardSlot() != TLS_OUT_OF_INDEXES) ::TlsSetValue(GuardSlot(), &guard);
  const bool returned = GuardedInvoke(call, context, guard);
  if (GuardSlot() != TLS_OUT_OF_INDEXES) ::TlsSetValue(GuardSlot(), nullptr);
  return returned;
}
} // namespace

bool GuardedDeviceUpdate(TPELLIX_DeviceUpdate entry, TPellixBytes* request, TPellixBytes* response,
                         const TNVSerialRefs* serialRefs, void** helperPointer, int32_t& result,
                         TLibraryFault& fault) noexcept {
  TUpdateCall call{entry, request, response, serialRefs, helperPointer, 0};
  const bool returned = Guarded(CallUpdate, &call, fault);
  result = call.result;
  return returned;
}

bool GuardedDeviceMeta(TPELLIX_DeviceMeta entry, uint32_t* deviceType, wchar_t** deviceTypeName, int32_t* baudRate,
                       int32_t& result, TLibraryFault& fault) noexcept {
  TMetaCall call{entry, deviceType, deviceTypeName, baudRate, 0};
  const bool returned = Guarded(CallMeta, &call, fault);
  result = call.result;
  return returned;
}
