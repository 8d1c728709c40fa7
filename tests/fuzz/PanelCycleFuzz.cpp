// The control panel's update cycle with a device API library that delivers any bytes at any time
// and answers each call with what the input says, while the operator clicks, types and enters
// delays. The input is a list of steps, each an opcode byte and its arguments:
//   0 kind len bytes[len]  a delivery: the update callback's copy into the queue (kind: the data
//                          as given, a null address, a negative length, length 0)
//   1                      the posted message that handles one queued delivery
//   2, 3                   a tick of the poll or the watchdog timer, if it runs
//   4 result               the initialisation result (once; 0 when the byte is below 128)
//   5 panel action arg     an operator action on a panel
//   6 le32                 the library's result for a later call (pending once these are used up;
//                          given before any other step, the first is the initialisation's)
//   7 le32 on              a device id whose panel cannot be made (on odd), or none
// Invariants: every next-state table sent lists exactly the panels shown, in list order, with ids
// the library reported and version and error 0, and, sent at once, the panels' states; a change
// made while a poll is outstanding goes with the next delivery, which is then applied only if the
// library refuses the table; deliveries are handled in order, each once; one handled as an answer
// is applied in full (or reported as an exception when a panel could not be made) and polling
// resumes; only the known status texts are shown; the panels have distinct ids, ascending while
// every panel could be made.
#include "DelayField.h"
#include "FuzzCheck.h"
#include "PanelFakes.h"
#include "PanelListCheck.h"
#include "SharedPacketQueue.h"
#include "UpdateCycle.h"

#include <cmath>
#include <deque>
#include <limits>
#include <optional>

using namespace q417;

namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

class Harness : public IUpdateCycleWindow {
public:
  Harness() {
    library.onCall = [this](const fakes::TFakeCall& call) {
      if (call.kind == 'I') return;
      if (call.kind == 'C') {
        FUZZ_CHECK(call.ref != 0);
        return;
      }
      ++fUpdates;
      if (call.kind == 'P') {
        FUZZ_CHECK(call.ref != 0);
      } else {
        CheckTable(call.table.data());
        ++fTables;
      }
      fLastResult = call.result;
    };
    panels.onChange = [this] {
      const size_t tables = fTables;
      fSendingAtOnce = true;
      cycle.DeviceChanged();
      fSendingAtOnce = false;
      fChangeWaiting = fTables == tables; // kept until the outstanding poll is answered
      if (fChangeWaiting) FUZZ_CHECK(cycle.Updating() && cycle.LateUpdate());
    };
  }

  void Run(fuzz::TFuzzInput& in) {
    bool created = false;
    while (!in.Empty()) {
      const int step = in.Byte() % 8;
      if (!created && step != 6) { // results given first are the initialisation's
        if (!library.results.empty()) {
          library.initResult = library.results.front();
          library.results.pop_front();
        }
        cycle.FormCreate();
        created = true;
      }
      switch (step) {
      case 0: Deliver(in); break;
      case 1: HandleOne(); break;
      case 2: if (fPoll) cycle.PollTick(); break;
      case 3:
        if (fWatchDog) {
          cycle.WatchDogTick();
          FUZZ_CHECK(fTexts.back() == StatusText::WatchDog);
        }
        break;
      case 4: {
        const int32_t result = in.Byte() < 128 ? 0 : in.Le32();
        if (!fInitDone) cycle.InitDone(result);
        fInitDone = true;
        break;
      }
      case 5: Operate(in); break;
      case 6: library.results.push_back(in.Le32()); break;
      case 7: {
        const int32_t id = in.Le32();
        if (in.Byte() % 2) panels.failOn = id;
        else panels.failOn.reset();
        break;
      }
      }
      const std::vector<int32_t> ids = panels.Ids();
      FUZZ_CHECK(std::set<int32_t>(ids.begin(), ids.end()).size() == ids.size());
      if (!fCreationFailed) FUZZ_CHECK(fuzz::Ascending(ids));
    }
    if (created) cycle.FormClose();
  }

  // The main window.
  void ShowStatus(const std::string& text) override {
    bool known = false;
    for (const char* t : {StatusText::LoadError, StatusText::Initialised, StatusText::InitError, StatusText::NoHandle,
                          StatusText::PollFailed, StatusText::UpdateFailed, StatusText::WatchDog, StatusText::Exception})
      known = known || StartsWith(text, t);
    FUZZ_CHECK(known);
    fTexts.push_back(text);
  }
  void SetPollTimer(bool running) override { fPoll = running; }
  void SetWatchDogTimer(bool running) override { fWatchDog = running; }
  void ApplyPacket(const TBytes& packet) override {
    FUZZ_CHECK(fHead != nullptr && packet == *fHead); // the delivery at the head of the queue
    fuzz::TListSnapshot before(panels);
    ++fApplied;
    try {
      panels.list.ApplyPacket(packet);
    } catch (...) {
      fCreationFailed = true;
      throw; // the cycle reports it
    }
    fuzz::CheckListFollowsPacket(panels, packet, before);
  }
  int32_t DeviceCount() override { return int32_t(panels.list.Count()); }
  void GetDeviceState(int32_t index, TQ417DeviceState& state) override { panels.list.Frame(size_t(index)).GetDeviceState(state); }

private:
  // A table as the library receives it: a count and that many records, read from its first byte.
  void CheckTable(const uint8_t* table) {
    const int32_t n = int32_t(fuzz::ReadLe32(table));
    FUZZ_CHECK(n > 0 && size_t(n) == panels.list.Count());
    for (int32_t i = 0; i < n; ++i) {
      const TQ417DeviceState sent = DecodeDeviceState(table + 4 + 17 * size_t(i));
      FUZZ_CHECK(sent.Q417_DeviceID == panels.At(size_t(i)).DeviceID());
      FUZZ_CHECK(fReported.count(int32_t(sent.Q417_DeviceID)) == 1);
      FUZZ_CHECK(sent.Q417_VersionID == 0 && sent.Q417_Error == 0);
      if (fSendingAtOnce) {
        const TDevicePanelState& shown = panels.At(size_t(i)).State();
        const TQ417State s = sent.Q417_State;
        FUZZ_CHECK(s.Q417_Mode == shown.Mode() && s.Q417_Select == shown.Channel() &&
                   s.Q417_Indicator == shown.Indicator() && s.Q417_Delay == shown.Delay());
      }
    }
  }

  void Deliver(fuzz::TFuzzInput& in) {
    const uint8_t kind = in.Byte() % 4;
    const std::vector<uint8_t> bytes = in.Bytes(in.Byte());
    const uint8_t* data = bytes.data();
    int32_t length = int32_t(bytes.size());
    if (kind == 1) data = nullptr;
    if (kind == 2) length = -length - 1;
    if (kind == 3) length = 0;
    std::unique_ptr<TUpdateContr> container = MakeUpdateContr(data, length);
    FUZZ_CHECK(container != nullptr);
    const TBytes expected = data != nullptr && length > 0 ? TBytes(bytes) : EmptyPacket();
    FUZZ_CHECK(container->Packet == expected);
    for (int32_t k = 0; k < PacketRecordCount(expected); ++k) fReported.insert(int32_t(PacketRecord(expected, k).Q417_DeviceID));
    queue.PushPacket(std::move(container));
    fDelivered.push_back(expected);
  }

  void HandleOne() {
    const bool queued = !fDelivered.empty();
    const bool late = cycle.LateUpdate();
    const size_t applied = fApplied, updates = fUpdates, texts = fTexts.size();
    const bool failedBefore = fCreationFailed;
    fHead = queued ? &fDelivered.front() : nullptr;
    cycle.PacketReady();
    fHead = nullptr;
    FUZZ_CHECK(queue.Count() == int64_t(fDelivered.size()) - (queued ? 1 : 0));
    if (!queued) {
      FUZZ_CHECK(fApplied == applied && fUpdates == updates && fTexts.size() == texts);
      return;
    }
    fDelivered.pop_front();
    if (late) {
      // The waiting table goes instead; the delivery is applied only when the library refuses it.
      FUZZ_CHECK(fUpdates == updates + 1 && !cycle.LateUpdate());
      FUZZ_CHECK((fApplied > applied) == (fLastResult != NV_PENDING));
    }
    FUZZ_CHECK(!fChangeWaiting || late); // an operator's change waits for the next delivery only
    fChangeWaiting = false;
    if (fApplied > applied) {
      FUZZ_CHECK(fPoll && !fWatchDog && !cycle.Updating()); // polling resumes
      if (fCreationFailed && !failedBefore) FUZZ_CHECK(StartsWith(fTexts.back(), StatusText::Exception));
    } else {
      FUZZ_CHECK(late); // only the answer to a poll that a table waited for is left unapplied
    }
  }

  void Operate(fuzz::TFuzzInput& in) {
    const uint8_t which = in.Byte(), action = in.Byte() % 8, arg = in.Byte();
    if (panels.list.Count() == 0) return;
    fakes::TFakeFrame& frame = panels.At(which % panels.list.Count());
    TDevicePanelState& panel = frame.State();
    switch (action) {
    case 0: panel.OnClickSetMode(arg % 4); break;
    case 1: panel.shChxClick(1 << (arg % 8)); break;
    case 2: panel.JvShape9Click(); break;
    case 3: {
      char16_t key = arg < 200 ? char16_t(u'0' + arg % 10) : char16_t(arg);
      panels.list.FormKeyPress(key);
      break;
    }
    case 4: panel.edDELAYEnter(); break;
    case 5: {
      const double special[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                                -std::numeric_limits<double>::infinity(), 1e300, -1e300, 6553.55, 6553.45};
      frame.view.field = arg < 7 ? special[arg] : in.Le32() / 100.0;
      panel.btOKClick();
      FUZZ_CHECK(panel.Delay() >= 0 && panel.Delay() <= MaxDelayTenths);
      break;
    }
    case 6: panel.btCANCELClick(); break;
    case 7: panels.list.DeviceFrameSelect(&frame); break;
    }
  }

public:
  fakes::TFakeWindow panels;
  fakes::TFakeLibrary library;
  TSharedPacketQueue queue;
  TUpdateCycle cycle{library, *this, queue};

private:
  std::deque<TBytes> fDelivered; // in the queue, oldest first
  const TBytes* fHead = nullptr;  // the delivery being handled
  std::set<int32_t> fReported;    // every id the library delivered
  std::vector<std::string> fTexts;
  bool fPoll = false, fWatchDog = false, fInitDone = false, fCreationFailed = false, fSendingAtOnce = false;
  bool fChangeWaiting = false; // an operator's change not yet sent
  size_t fApplied = 0, fUpdates = 0, fTables = 0;
  int32_t fLastResult = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::TFuzzInput in(data, size);
  Harness harness;
  harness.Run(in);
  return 0;
}
