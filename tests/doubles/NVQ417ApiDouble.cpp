// A scriptable stand-in of the device API library for tests: the results, callbacks and packets
// of every call follow a script, and every call is logged. See README.md beside this file.
#define NVQ417API_DECL
#include "Environment.h"
#include "HexBytes.h"
#include "NVQ417Hdr.h"
#include "Q417Packet.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using q417::TBytes;
using testing_support::Hex;
using testing_support::ParseHex;

namespace {

enum class TWhen { Now, Thread, After, Event, Never };

struct TPacketSpec {
  enum Kind { Bytes, Empty, Null, State, Table } kind = Empty;
  TBytes bytes;
  int32_t nullLength = 0;
  int32_t overLength = 0; // HEX+N: the length given is N more than the bytes delivered
};

struct TRule {
  int32_t result = 997;
  TWhen when = TWhen::Thread;
  unsigned delayMs = 0;
  std::string eventName;           // event: the named event that releases the delivery
  int32_t code = 0;                // init: the init-done result
  std::vector<TPacketSpec> packets; // update: one callback each
};

struct TScript {
  int32_t ref = 1;
  TRule init;
  std::vector<TRule> update, poll, table;
  int32_t closeResult = 0;
  TBytes state = q417::EmptyPacket();
  bool fence = false; // every packet delivered right before a page that may not be read
};

// One callback's data as it is handed over.
struct TDelivery {
  TBytes bytes;
  bool isNull = false;
  int32_t length = 0;
  bool fenced = false;
};

// A copy of the bytes at the very end of read-only pages, followed by a page that may not be
// touched at all: a read past the delivered bytes faults the reader at once.
class TFencedCopy {
public:
  explicit TFencedCopy(const TBytes& bytes) {
    SYSTEM_INFO info{};
    ::GetSystemInfo(&info);
    const size_t page = info.dwPageSize;
    const size_t readable = (bytes.size() + page - 1) / page * page;
    fBase = static_cast<uint8_t*>(::VirtualAlloc(nullptr, readable + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (fBase == nullptr) return;
    uint8_t* const end = fBase + readable;
    if (!bytes.empty()) std::memcpy(end - bytes.size(), bytes.data(), bytes.size());
    DWORD old = 0;
    const bool fenced = ::VirtualProtect(end, page, PAGE_NOACCESS, &old) &&
                        (readable == 0 || ::VirtualProtect(fBase, readable, PAGE_READONLY, &old));
    if (fenced) fData = end - bytes.size();
  }
  ~TFencedCopy() {
    if (fBase) ::VirtualFree(fBase, 0, MEM_RELEASE);
  }
  TFencedCopy(const TFencedCopy&) = delete;
  TFencedCopy& operator=(const TFencedCopy&) = delete;

  // Null when the pages could not be had.
  const uint8_t* Data() const { return fData; }

private:
  uint8_t* fBase = nullptr;
  const uint8_t* fData = nullptr;
};


bool ParseWhen(const std::string& token, TRule& rule) {
  if (token == "now") rule.when = TWhen::Now;
  else if (token == "thread") rule.when = TWhen::Thread;
  else if (token == "never") rule.when = TWhen::Never;
  else if (token.rfind("after:", 0) == 0) {
    rule.when = TWhen::After;
    rule.delayMs = unsigned(std::stoul(token.substr(6)));
  } else if (token.rfind("event:", 0) == 0 && token.size() > 6) {
    rule.when = TWhen::Event;
    rule.eventName = token.substr(6);
  } else
    return false;
  return true;
}

bool ParsePacket(const std::string& token, TPacketSpec& packet) {
  if (token == "empty") packet.kind = TPacketSpec::Empty;
  else if (token == "state") packet.kind = TPacketSpec::State;
  else if (token == "table") packet.kind = TPacketSpec::Table;
  else if (token.rfind("null:", 0) == 0) {
    packet.kind = TPacketSpec::Null;
    packet.nullLength = int32_t(std::stol(token.substr(5)));
  } else {
    packet.kind = TPacketSpec::Bytes;
    const size_t plus = token.find('+');
    if (plus != std::string::npos) {
      packet.overLength = int32_t(std::stol(token.substr(plus + 1)));
      if (packet.overLength <= 0) return false;
    }
    return ParseHex(token.substr(0, plus), packet.bytes);
  }
  return true;
}

// Returns 0 or the number of the first line that does not parse.
int ParseScript(const std::string& text, TScript& script) {
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  while (std::getline(lines, line)) {
    ++number;
    line = line.substr(0, line.find('#'));
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string t; words >> t;) w.push_back(t);
    if (w.empty()) continue;
    try {
      const std::string& d = w[0];
      if (d == "ref" && w.size() == 2) script.ref = int32_t(std::stol(w[1]));
      else if (d == "fence" && w.size() == 1) script.fence = true;
      else if (d == "close" && w.size() == 2) script.closeResult = int32_t(std::stol(w[1]));
      else if (d == "state" && w.size() == 2) {
        if (!ParseHex(w[1], script.state)) return number;
      } else if (d == "init" && (w.size() == 2 || w.size() == 4)) {
        TRule rule;
        rule.result = int32_t(std::stol(w[1]));
        rule.when = rule.result == 997 ? TWhen::Thread : TWhen::Never;
        if (w.size() == 4) {
          if (!ParseWhen(w[2], rule)) return number;
          rule.code = int32_t(std::stol(w[3]));
        }
        script.init = rule;
      } else if ((d == "update" || d == "poll" || d == "table") && w.size() >= 2) {
        TRule rule;
        rule.result = int32_t(std::stol(w[1]));
        if (w.size() == 2) {
          rule.when = rule.result == 997 ? TWhen::Thread : TWhen::Never;
          rule.packets.push_back({TPacketSpec::State, {}, 0});
        } else {
          if (!ParseWhen(w[2], rule)) return number;
          for (size_t i = 3; i < w.size(); ++i) {
            TPacketSpec packet;
            if (!ParsePacket(w[i], packet)) return number;
            rule.packets.push_back(packet);
          }
        }
        (d == "update" ? script.update : d == "poll" ? script.poll : script.table).push_back(rule);
      } else
        return number;
    } catch (...) {
      return number;
    }
  }
  return 0;
}

// Applies a next-state table to the simulated selectors.
void ApplyTable(TBytes& state, const TBytes& table) {
  const int32_t n = q417::PacketRecordCount(table);
  const int32_t known = q417::PacketRecordCount(state);
  for (int32_t i = 0; i < n; ++i) {
    const TQ417DeviceState wanted = q417::PacketRecord(table, i);
    for (int32_t k = 0; k < known; ++k) {
      TQ417DeviceState s = q417::PacketRecord(state, k);
      if (s.Q417_DeviceID != wanted.Q417_DeviceID) continue;
      s.Q417_State = wanted.Q417_State;
      if (s.Q417_State.Q417_Mode == 0) s.Q417_State.Q417_Select = 0;
      q417::WritePacketRecord(state, k, s);
    }
  }
}

// One thread that runs scheduled deliveries in due order.
class TScheduler {
public:
  void At(std::chrono::steady_clock::time_point due, std::function<void()> job) {
    std::lock_guard lock(fLock);
    if (!fStarted) {
      fStarted = true;
      std::thread([this] { Run(); }).detach(); // lives as long as the process
    }
    fJobs.emplace(std::make_pair(due, fSeq++), std::move(job));
    fWake.notify_one();
  }

private:
  void Run() {
    std::unique_lock lock(fLock);
    for (;;) {
      if (fJobs.empty()) {
        fWake.wait(lock);
        continue;
      }
      auto first = fJobs.begin();
      if (first->first.first > std::chrono::steady_clock::now()) {
        fWake.wait_until(lock, first->first.first);
        continue;
      }
      auto job = std::move(first->second);
      fJobs.erase(first);
      lock.unlock();
      try {
        job();
      } catch (...) {
      }
      lock.lock();
    }
  }

  std::mutex fLock;
  std::condition_variable fWake;
  bool fStarted = false;
  uint64_t fSeq = 0;
  std::map<std::pair<std::chrono::steady_clock::time_point, uint64_t>, std::function<void()>> fJobs;
};

class TDouble {
public:
  void SetScript(TScript script) {
    std::lock_guard lock(fLock);
    fScript = std::move(script);
    fScriptLoaded = true;
    fLog.clear();
    fPolls = fTables = fUpdates = 0;
  }

  std::string LogText() {
    std::lock_guard lock(fLock);
    return fLog;
  }

  void Log(const std::string& line) {
    std::lock_guard lock(fLock);
    LogLocked(line);
  }

  int32_t Initialise(int32_t* ref, TNVQ417InitDone initDone, void* user) {
    TRule rule;
    {
      std::lock_guard lock(fLock);
      LoadScriptFromEnvironment();
      if (ref) *ref = fScript.ref;
      rule = fScript.init;
      LogLocked(Format("init ref=%d callback=%s user=%p", fScript.ref, initDone ? "set" : "null", user));
    }
    if (initDone) Schedule(rule, [this, initDone, user, code = rule.code] {
      Log(Format("initdone code=%d", code));
      initDone(code, user);
    });
    return rule.result;
  }

  int32_t Update(int32_t ref, const uint8_t* table, void** slot, TNVQ417UpdateDone done, void* user) {
    TRule rule;
    std::vector<TDelivery> deliveries;
    {
      std::lock_guard lock(fLock);
      TBytes received;
      if (table) {
        int32_t n = q417::PacketDeclaredCount({table, 4});
        n = std::clamp(n, 0, 100000);
        received.assign(table, table + 4 + 17 * size_t(n));
      }
      LogLocked(Format("update ref=%d table=%s slot=%s", ref, table ? Hex(received).c_str() : "null",
                       slot && *slot ? "set" : "null"));
      auto& kind = table ? fScript.table : fScript.poll;
      size_t& counter = table ? fTables : fPolls;
      if (!kind.empty()) rule = kind[std::min(counter, kind.size() - 1)];
      else if (!fScript.update.empty()) rule = fScript.update[std::min(fUpdates, fScript.update.size() - 1)];
      else rule.packets.push_back({TPacketSpec::State, {}, 0});
      ++counter;
      ++fUpdates;
      if (table && rule.result == 997) ApplyTable(fScript.state, received);
      for (const TPacketSpec& packet : rule.packets) {
        TDelivery d;
        switch (packet.kind) {
        case TPacketSpec::Bytes: d.bytes = packet.bytes; break;
        case TPacketSpec::Empty: break;
        case TPacketSpec::Null: d.isNull = true; break;
        case TPacketSpec::State: d.bytes = fScript.state; break;
        case TPacketSpec::Table: d.bytes = table ? received : fScript.state; break;
        }
        d.length = d.isNull ? packet.nullLength
                             : int32_t(std::min<int64_t>(int64_t(d.bytes.size()) + packet.overLength, INT32_MAX));
        d.fenced = !d.isNull && (fScript.fence || packet.overLength > 0);
        deliveries.push_back(std::move(d));
      }
    }
    if (rule.result == 997 && done) {
      Schedule(rule, [this, done, user, deliveries = std::move(deliveries)] {
        for (const TDelivery& d : deliveries) {
          if (d.isNull) {
            Log(Format("deliver length=%d data=null", d.length));
            done(0, nullptr, d.length, user);
            continue;
          }
          if (!d.fenced) {
            Log(Format("deliver length=%d", d.length));
            done(0, d.bytes.data(), d.length, user);
            continue;
          }
          // Freed as soon as the callback returns: a reader that kept the address faults too.
          const TFencedCopy copy(d.bytes);
          Log(Format("deliver length=%d%s", d.length, copy.Data() ? " fenced" : " data=null"));
          done(0, copy.Data(), d.length, user);
        }
      });
    }
    return rule.result;
  }

  int32_t Close(int32_t* ref, void* a3, void* a4) {
    std::lock_guard lock(fLock);
    LogLocked(Format("close ref=%d arg3=%s arg4=%s", ref ? *ref : 0, a3 ? "set" : "null", a4 ? "set" : "null"));
    return fScript.closeResult;
  }

private:
  template <typename... A>
  static std::string Format(const char* format, A... args) {
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, format, args...);
    return buffer;
  }

  void LogLocked(const std::string& line) {
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - fLoaded).count();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%.1f ", ms);
    std::string full = stamp + line + "\n";
    fLog += full;
    if (const std::wstring path = win32::EnvironmentVariable(L"NVQ417_DOUBLE_LOG"); !path.empty()) {
      if (FILE* f = _wfopen(path.c_str(), L"ab")) {
        std::fwrite(full.data(), 1, full.size(), f);
        std::fclose(f);
      }
    }
  }

  void LoadScriptFromEnvironment() {
    if (fScriptLoaded) return;
    fScriptLoaded = true;
    const std::wstring path = win32::EnvironmentVariable(L"NVQ417_DOUBLE_SCRIPT");
    if (path.empty()) return;
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    TScript script;
    if (const int bad = ParseScript(text.str(), script)) LogLocked(Format("script error line=%d", bad));
    else fScript = std::move(script);
  }

  void Schedule(const TRule& rule, std::function<void()> job) {
    switch (rule.when) {
    case TWhen::Now: job(); break;
    case TWhen::Thread: fScheduler.At(std::chrono::steady_clock::now(), std::move(job)); break;
    case TWhen::After:
      fScheduler.At(std::chrono::steady_clock::now() + std::chrono::milliseconds(rule.delayMs), std::move(job));
      break;
    case TWhen::Event: {
      // Released by a test that sets the named event; gives up after a minute. The event is made
      // here, inside the call, so that it exists by the time the caller sees the call's result.
      HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, rule.eventName.c_str());
      if (!event) break;
      std::thread([event, job = std::move(job)] {
        const bool released = ::WaitForSingleObject(event, 60000) == WAIT_OBJECT_0;
        ::CloseHandle(event);
        if (released) job();
      }).detach();
      break;
    }
    case TWhen::Never: break;
    }
  }

  std::mutex fLock;
  TScript fScript;
  bool fScriptLoaded = false;
  std::string fLog;
  size_t fPolls = 0, fTables = 0, fUpdates = 0;
  std::chrono::steady_clock::time_point fLoaded = std::chrono::steady_clock::now();
  TScheduler fScheduler;
};

// Never destroyed: its thread may still deliver while the process ends.
TDouble& Double() {
  static TDouble* instance = new TDouble();
  return *instance;
}

} // namespace

extern "C" {

int32_t WINAPI NVQ417_Initialise(int32_t* Ref, int32_t*, TNVQ417InitDone InitDone, void* UserData) {
  try {
    return Double().Initialise(Ref, InitDone, UserData);
  } catch (...) {
    return -1;
  }
}

int32_t WINAPI _NVQ417_Update(int32_t Ref, int32_t*, const uint8_t* NextState, void** Slot,
                              TNVQ417UpdateDone UpdateDone, void* UserData) {
  try {
    return Double().Update(Ref, NextState, Slot, UpdateDone, UserData);
  } catch (...) {
    return -1;
  }
}

int32_t WINAPI NVQ417_Close(int32_t* Ref, int32_t*, void* Reserved1, void* Reserved2) {
  try {
    return Double().Close(Ref, Reserved1, Reserved2);
  } catch (...) {
    return -1;
  }
}

int32_t WINAPI NVQ417Double_SetScript(const char* text) {
  try {
    TScript script;
    if (const int bad = ParseScript(text ? text : "", script)) return bad;
    Double().SetScript(std::move(script));
    return 0;
  } catch (...) {
    return -1;
  }
}

int32_t WINAPI NVQ417Double_GetLog(char* buffer, int32_t size) {
  try {
    const std::string log = Double().LogText();
    if (buffer && size > 0) {
      const size_t n = std::min(log.size(), size_t(size - 1));
      std::memcpy(buffer, log.data(), n);
      buffer[n] = '\0';
    }
    return int32_t(log.size());
  } catch (...) {
    return -1;
  }
}

} // extern "C"
