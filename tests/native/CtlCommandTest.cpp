// q417ctl's command line and value rules: a table of lines it takes and of lines it refuses.
#include "CtlCommand.h"
#include "SelectorValues.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace q417ctl;

namespace {

std::vector<std::string> Split(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> args;
  for (std::string arg; in >> arg;) args.push_back(arg);
  return args;
}

std::string Describe(const TCommand& c) {
  static const char* const kinds[] = {"help", "version", "list", "get", "set", "watch"};
  std::string d = kinds[int(c.Kind)];
  if (c.Json) d += " json";
  if (c.Kind == TCommandKind::Get || c.Kind == TCommandKind::Set)
    d += c.AllSelectors ? " all" : " id=" + std::to_string(c.DeviceId);
  const TFieldChanges& f = c.Changes;
  if (f.Mode) d += " mode=" + std::to_string(*f.Mode);
  if (f.Select) d += " select=" + std::to_string(*f.Select);
  if (f.Indicator) d += " indicator=" + std::to_string(*f.Indicator);
  if (f.Delay) d += " delay=" + std::to_string(*f.Delay);
  if (c.Kind == TCommandKind::Set) d += " timeout=" + std::to_string(c.TimeoutMs);
  if (c.ForMs) d += " for=" + std::to_string(*c.ForMs);
  return d;
}

} // namespace

TEST(CtlCommand, LinesItTakes) {
  const struct {
    const char* line;
    const char* command;
  } cases[] = {
      {"list", "list"},
      {"list --json", "list json"},
      {"get 5", "get id=5"},
      {"get -3 --json", "get json id=-3"},
      {"get --json +7", "get json id=7"},
      {"get -2147483648", "get id=-2147483648"},
      {"set 5 channel=3", "set id=5 select=4 timeout=3000"},
      {"set 5 channel=none", "set id=5 select=0 timeout=3000"},
      {"set 5 channel=0 mode=off", "set id=5 mode=0 select=0 timeout=3000"},
      {"set 5 channel=8 mode=3 indicator=on delay=2.5", "set id=5 mode=3 select=128 indicator=1 delay=25 timeout=3000"},
      {"set all mode=0", "set all mode=0 timeout=3000"},
      {"set 9 indicator=0 --timeout 500", "set id=9 indicator=0 timeout=500"},
      {"set 9 --timeout=0 indicator=off --json", "set json id=9 indicator=0 timeout=0"},
      {"set 1 delay=6553.5", "set id=1 delay=65535 timeout=3000"},
      {"set 1 delay=0", "set id=1 delay=0 timeout=3000"},
      {"watch", "watch"},
      {"watch --json --for 2.5", "watch json for=2500"},
      {"watch --for=0", "watch for=0"},
      {"--version", "version"},
      {"--help", "help"},
      {"set 5 channel=99 --help", "help"},
  };
  for (const auto& c : cases) {
    const TParseResult r = ParseCommandLine(Split(c.line));
    EXPECT_TRUE(r.Ok()) << c.line << ": " << r.Error;
    EXPECT_EQ(Describe(r.Command), c.command) << c.line;
  }
}

TEST(CtlCommand, LinesItRefusesWithTheReason) {
  const struct {
    const char* line;
    const char* reason; // a part of the one-line message
  } cases[] = {
      {"", "no command"},
      {"lst", "unknown command \"lst\""},
      {"list 5", "unexpected argument \"5\""},
      {"list --verbose", "unknown option \"--verbose\""},
      {"get", "needs a selector id"},
      {"get five", "whole number, got \"five\""},
      {"get 2147483648", "got \"2147483648\""},
      {"get 5 6", "unexpected argument \"6\""},
      {"get all", "got \"all\""},
      {"set 5", "at least one FIELD=VALUE"},
      {"set channel=3", "got \"channel=3\""},
      {"set 5 chanel=3", "unknown field \"chanel\""},
      {"set 5 channel", "expected FIELD=VALUE"},
      {"set 5 channel=9", "channel must be 0 to 8 or none, got \"9\""},
      {"set 5 channel=", "got \"\""},
      {"set 5 channel=-1", "channel must be"},
      {"set 5 mode=4", "mode must be 0 to 3 or off"},
      {"set 5 mode=on", "mode must be"},
      {"set 5 indicator=2", "indicator must be on, off, 1 or 0"},
      {"set 5 indicator=true", "indicator must be"},
      {"set 5 delay=6553.6", "within 0 to 6553.5 ms"},
      {"set 5 delay=6553.55", "within 0 to 6553.5 ms"},
      {"set 5 delay=-1", "within 0 to 6553.5 ms"},
      {"set 5 delay=99999999999999999999", "within 0 to 6553.5 ms"},
      {"set 5 delay=2,5", "number of milliseconds"},
      {"set 5 delay=1e3", "number of milliseconds"},
      {"set 5 delay=.", "number of milliseconds"},
      {"set 5 delay=2.5ms", "number of milliseconds"},
      {"set 5 channel=1 channel=2", "channel is given twice"},
      {"set 5 mode=1 --timeout", "--timeout needs"},
      {"set 5 mode=1 --timeout -5", "--timeout must be"},
      {"set 5 mode=1 --timeout 1.5", "--timeout must be"},
      {"set 5 mode=1 --timeout 1 --timeout 2", "--timeout is given twice"},
      {"list --timeout 5", "--timeout is an option of set only"},
      {"watch --for", "--for needs"},
      {"watch --for soon", "--for must be"},
      {"get 5 --for 1", "--for is an option of watch only"},
      {"--version 2", "--version takes no arguments"},
  };
  for (const auto& c : cases) {
    const TParseResult r = ParseCommandLine(Split(c.line));
    EXPECT_FALSE(r.Ok()) << "taken: " << c.line;
    EXPECT_NE(r.Error.find(c.reason), std::string::npos) << c.line << ": " << r.Error;
    EXPECT_EQ(r.Error.find('\n'), std::string::npos) << "one line: " << c.line;
  }
}

TEST(CtlCommand, AMessageStaysOneLineWhateverTheArgumentHolds) {
  const TParseResult r = ParseCommandLine({"set", "5", "channel=3\nq417ctl: done\r\t"});
  ASSERT_FALSE(r.Ok());
  EXPECT_EQ(r.Error, "channel must be 0 to 8 or none, got \"3\\x0Aq417ctl: done\\x0D\\x09\"");
}

TEST(CtlCommand, DelayRoundsTheDecimalTextToTenthsWithTiesToEven) {
  const struct {
    const char* text;
    int tenths;
  } cases[] = {
      {"2.5", 25},    {"2.25", 22},   {"2.35", 24},    {"0.05", 0},     {"0.15", 2},  {"0.1500001", 2},
      {"0.25", 2},    {"0.2500", 2},  {"0.2501", 3},   {"0.24999", 2},  {"7", 70},    {"7.", 70},
      {".5", 5},      {"0", 0},       {"0007.0", 70},  {"6553.5", 65535}, {"6553.54", 65535},
      {"6553.45", 65534}, {"1000.96", 10010},
  };
  for (const auto& c : cases) {
    uint16_t tenths = 0xFFFF;
    EXPECT_EQ(ParseDelayTenths(c.text, tenths), TDelayParse::Ok) << c.text;
    EXPECT_EQ(int(tenths), c.tenths) << c.text;
  }
}

TEST(CtlCommand, ChannelOfAMaskIsOneToEightZeroOrNone) {
  EXPECT_EQ(ChannelOfMask(0), 0);
  for (int k = 1; k <= 8; ++k) EXPECT_EQ(ChannelOfMask(uint8_t(1u << (k - 1))), k);
  EXPECT_EQ(ChannelOfMask(3), std::nullopt);
  EXPECT_EQ(ChannelOfMask(0xFF), std::nullopt);
  EXPECT_EQ(ChannelText(3), "mask 0x03");
  EXPECT_EQ(IndicatorText(7), "7");
  EXPECT_EQ(DelayMsText(65535), "6553.5");
  EXPECT_EQ(DelayMsText(20), "2");
}

TEST(CtlCommand, UsageStatesEveryExitCode) {
  const std::string usage = UsageText();
  for (const char* line : {"  0  done", "  2  bad command line", "  3  no selector", "  4  set was sent",
                           "  5  the device API library failed"})
    EXPECT_NE(usage.find(line), std::string::npos) << line;
}
