#include "UpdateCycle.h"

#include <exception>

namespace q417 {

std::string TextWithCode(const char* text, int32_t code) {
  return std::string(text) + "(" + std::to_string(code) + ")";
}

TUpdateCycle::TUpdateCycle(IDeviceLibrary& library, IUpdateCycleWindow& window, TSharedPacketQueue& queue)
    : Library(library), Window(window), Queue(queue) {}

void TUpdateCycle::FormCreate() {
  Window.SetPollTimer(false);
  Window.SetWatchDogTimer(true);
  const int32_t r = Library.Initialise(&fQ417Ref);
  if (r != NV_PENDING) Window.ShowStatus(TextWithCode(StatusText::LoadError, r));
}

void TUpdateCycle::FormClose() {
  if (fQ417Ref == 0) return;
  Library.Close(&fQ417Ref);
  fQ417Ref = 0;
}

void TUpdateCycle::InitDone(int32_t result) {
  if (result == 0) {
    Window.ShowStatus(StatusText::Initialised);
    Window.SetPollTimer(true);
  } else {
    Window.ShowStatus(TextWithCode(StatusText::InitError, result));
  }
}

void TUpdateCycle::PollTick() {
  if (fQ417Ref == 0) {
    Window.ShowStatus(StatusText::NoHandle);
    return;
  }
  const int32_t r = Library.Update(fQ417Ref, nullptr);
  if (r == NV_PENDING) {
    Window.SetPollTimer(false);
    Window.SetWatchDogTimer(true);
    fUpdating = true;
  } else {
    Window.ShowStatus(TextWithCode(StatusText::PollFailed, r));
  }
}

void TUpdateCycle::WatchDogTick() { Window.ShowStatus(StatusText::WatchDog); }

void TUpdateCycle::HandleAnswer(const TBytes& packet) {
  Window.SetWatchDogTimer(false);
  Window.SetPollTimer(true);
  fUpdating = false;
  Window.ApplyPacket(packet);
}

void TUpdateCycle::PacketReady() {
  try {
    if (Queue.Count() <= 0) return;
    const std::unique_ptr<TUpdateContr> container = Queue.PopPacket();
    if (!container) return;
    if (fLateUpdate) {
      // The answer to the poll that the table waited for is superseded by the table's own
      // answer, so it is not applied.
      const int32_t r = Library.Update(fQ417Ref, NextStateTable.data());
      fLateUpdate = false;
      if (r != NV_PENDING) {
        // Nothing is outstanding at the library any more: treat the popped packet as the
        // answer it is, so that the devices' own state shows again and polling resumes.
        Window.ShowStatus(TextWithCode(StatusText::UpdateFailed, r));
        HandleAnswer(container->Packet);
      }
    } else {
      HandleAnswer(container->Packet);
    }
  } catch (const std::exception& e) {
    Window.ShowStatus(std::string(StatusText::Exception) + e.what());
  } catch (...) {
    Window.ShowStatus(std::string(StatusText::Exception) + "unknown error");
  }
}

void TUpdateCycle::DeviceChanged() {
  const int32_t n = Window.DeviceCount();
  BuildNextStateTable(NextStateTable, n,
                      [this](int32_t i, TQ417DeviceState& record) { Window.GetDeviceState(i, record); });
  if (n == 0) return;
  if (fUpdating) {
    fLateUpdate = true; // sent when the outstanding poll is answered; later changes rebuild it
    return;
  }
  const int32_t r = Library.Update(fQ417Ref, NextStateTable.data());
  if (r == NV_PENDING) {
    Window.SetPollTimer(false);
    Window.SetWatchDogTimer(true);
  } else {
    Window.ShowStatus(TextWithCode(StatusText::UpdateFailed, r));
  }
  NextStateTable.clear();
  fLateUpdate = false;
}

} // namespace q417
