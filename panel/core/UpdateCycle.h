// The control panel's update cycle: initialising the device API library, polling it for update
// packets, sending the operator's changes as next-state tables (late when a poll is
// outstanding), the watchdog, and every status text. Portable: the window, its timers and the
// library are reached through the two interfaces below, which the Win32 shell implements.
#pragma once

#include "Q417Packet.h"
#include "SharedPacketQueue.h"
#include "NVErrorsU.h"

#include <cstdint>
#include <string>

namespace q417 {

// The status texts, verbatim. A code is appended as "(" signed decimal ")".
namespace StatusText {
inline constexpr const char* LoadError = "Error loading API library. ";
inline constexpr const char* Initialised = "API library Initialised.";
inline constexpr const char* InitError = "Initialise Error. ";
inline constexpr const char* NoHandle = "API not initialised. ( Handle = NULL )";
inline constexpr const char* PollFailed = "Update poll failed. ";
inline constexpr const char* UpdateFailed = "Update failed. ";
inline constexpr const char* WatchDog = "WatchDog: No callback after update.";
inline constexpr const char* Exception = "Exception : ";
} // namespace StatusText

std::string TextWithCode(const char* text, int32_t code);

// The device API library's three operations as the cycle calls them. The shell supplies the
// scratch values, the callbacks and the window as user data.
class IDeviceLibrary {
public:
  virtual ~IDeviceLibrary() = default;
  virtual int32_t Initialise(int32_t* ref) = 0;
  // nextState is the first byte of a next-state table, or null for a plain poll.
  virtual int32_t Update(int32_t ref, const uint8_t* nextState) = 0;
  virtual void Close(int32_t* ref) = 0;
};

// The main window as the cycle sees it.
class IUpdateCycleWindow {
public:
  virtual ~IUpdateCycleWindow() = default;
  virtual void ShowStatus(const std::string& text) = 0;
  // Starting a running timer or stopping a stopped one changes nothing.
  virtual void SetPollTimer(bool running) = 0;
  virtual void SetWatchDogTimer(bool running) = 0;
  virtual void ApplyPacket(const TBytes& packet) = 0;
  virtual int32_t DeviceCount() = 0;
  virtual void GetDeviceState(int32_t index, TQ417DeviceState& state) = 0;
};

class TUpdateCycle {
public:
  // Polling period and watchdog period, fixed by the system.
  static constexpr unsigned PollPeriodMs = 200;
  static constexpr unsigned WatchDogPeriodMs = 5000;

  TUpdateCycle(IDeviceLibrary& library, IUpdateCycleWindow& window, TSharedPacketQueue& queue);

  // Window creation: timers as designed (poll stopped, watchdog running), then initialise.
  void FormCreate();
  void FormClose();
  void PollTick();
  void WatchDogTick();
  // The initialisation result posted by the library's callback.
  void InitDone(int32_t result);
  // One queued packet: sent-late table or applied answer. Errors become the status text.
  void PacketReady();
  // An operator change on any device panel: the whole table is rebuilt and sent or kept.
  void DeviceChanged();

  bool Updating() const { return fUpdating; }
  bool LateUpdate() const { return fLateUpdate; }
  int32_t Q417Ref() const { return fQ417Ref; }
  const TBytes& NextState() const { return NextStateTable; }

private:
  void HandleAnswer(const TBytes& packet);

  IDeviceLibrary& Library;
  IUpdateCycleWindow& Window;
  TSharedPacketQueue& Queue;
  bool fUpdating = false;   // a poll was accepted and its answer is not handled yet
  bool fLateUpdate = false; // a table waits in NextStateTable for the poll's answer
  int32_t fQ417Ref = 0;     // the library's reference for this client, 0 = none
  TBytes NextStateTable;
};

} // namespace q417
