#include "host/startup_options.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "support/check_recorder.h"

namespace vexil {
namespace {

// An argument vector over string literals.
class Args {
 public:
  Args(std::initializer_list<const wchar_t*> elements) : elements_(elements) {}
  int argc() const { return static_cast<int>(elements_.size()); }
  const wchar_t* const* argv() const { return elements_.data(); }

 private:
  std::vector<const wchar_t*> elements_;
};

StartupOutcome Read(const Args& args, ConnSettings* settings) {
  return ReadStartupOptions(args.argc(), args.argv(), settings);
}

TEST(StartupOptions, AcceptsTheFiveElementCommandLine) {
  ConnSettings settings;
  EXPECT_EQ(StartupOutcome::kAccepted,
            Read({L"srv", L"-GSID:12", L"-HAPORT:8000", L"-HAIP:10.0.0.1", L"x"}, &settings));
  EXPECT_EQ(12, settings.gsid);
  EXPECT_EQ(8000, settings.haport);
  EXPECT_EQ(L"10.0.0.1", settings.haip);
  EXPECT_EQ(L"", settings.cnfgfile);

  EXPECT_EQ(StartupOutcome::kAccepted,
            Read({L"srv", L"/HAIP=1.2.3.4", L"GSID=17", L"-HAPORT:1", L"-CNFGFILE:c:\\a.ini"},
                 &settings));
  EXPECT_EQ(17, settings.gsid);
  EXPECT_EQ(L"1.2.3.4", settings.haip);
  EXPECT_EQ(L"c:\\a.ini", settings.cnfgfile);
}

TEST(StartupOptions, FailuresStoreWhatWasFoundBeforeThem) {
  ConnSettings settings;
  settings.haip = L"old";
  EXPECT_EQ(StartupOutcome::kRejected,
            Read({L"srv", L"-GSID:12", L"-HAPORT:8000", L"x", L"y"}, &settings));
  EXPECT_EQ(12, settings.gsid);
  EXPECT_EQ(8000, settings.haport);
  EXPECT_EQ(L"old", settings.haip);

  // Zero counts as missing; both numbers are stored before either is checked.
  EXPECT_EQ(StartupOutcome::kRejected,
            Read({L"srv", L"-GSID:0", L"-HAPORT:9", L"-HAIP:h", L"x"}, &settings));
  EXPECT_EQ(0, settings.gsid);
  EXPECT_EQ(9, settings.haport);
  EXPECT_EQ(L"old", settings.haip);

  EXPECT_EQ(StartupOutcome::kRejected,
            Read({L"srv", L"-GSID:abc", L"-HAPORT:9", L"-HAIP:h", L"x"}, &settings));

  // Fewer than five elements is refused before anything is read.
  ConnSettings untouched;
  EXPECT_EQ(StartupOutcome::kRejected,
            Read({L"srv", L"-GSID:12", L"-HAPORT:8000", L"-HAIP:10.0.0.1"}, &untouched));
  EXPECT_EQ(0, untouched.gsid);
  EXPECT_EQ(0, untouched.haport);
}

TEST(StartupOptions, OneElementReadsNothing) {
  ConnSettings settings;
  settings.gsid = 5;
  EXPECT_EQ(StartupOutcome::kUnchanged, Read({L"-NOUSEVEXIL"}, &settings));
  EXPECT_EQ(5, settings.gsid);
}

TEST(StartupOptions, ProgramPathDoesNotHideALaterValue) {
  ConnSettings settings;
  EXPECT_EQ(StartupOutcome::kAccepted,
            Read({L"C:\\GSIDsrv\\game.exe", L"-GSID:12", L"-HAPORT:8000", L"-HAIP:10.0.0.1", L"x"},
                 &settings));
  EXPECT_EQ(12, settings.gsid);
}

TEST(StartupOptions, NoUseVexilNeedsOneCharacterBeforeIt) {
  ConnSettings settings;
  EXPECT_EQ(StartupOutcome::kDisabled, Read({L"srv", L"-NOUSEVEXIL"}, &settings));
  EXPECT_EQ(
      StartupOutcome::kDisabled,
      Read({L"srv", L"-GSID:12", L"-HAPORT:8000", L"-HAIP:10.0.0.1", L"/NOUSEVEXIL"}, &settings));
  EXPECT_EQ(0, settings.gsid) << "no other option is read";
  // Neither the bare word, nor argv[0], nor another letter case switches the connector off.
  for (const wchar_t* element : {L"NOUSEVEXIL", L"-nousevexil"}) {
    EXPECT_EQ(StartupOutcome::kAccepted,
              Read({L"srv", element, L"-GSID:1", L"-HAPORT:2", L"-HAIP:h"}, &settings))
        << element;
  }
  EXPECT_EQ(StartupOutcome::kAccepted,
            Read({L"x-NOUSEVEXIL", L"-GSID:1", L"-HAPORT:2", L"-HAIP:h", L"y"}, &settings));
}

std::wstring Refusal(const Args& args) { return DescribeRefusal(args.argc(), args.argv()); }

TEST(StartupMessages, ARefusalNamesEveryBadOptionAndAValidForm) {
  const std::wstring head = L"VexilInitConn refused the options: ";
  EXPECT_EQ(head +
                L"4 command-line elements given, at least 5 are needed (the program, -GSID:N, "
                L"-HAPORT:8990, -HAIP:ADDRESS and one more of any kind)",
            Refusal({L"srv", L"-GSID:42", L"-HAPORT:8990", L"-HAIP:127.0.0.131"}));
  EXPECT_EQ(head +
                L"GSID is missing (give a non-zero number, for example -GSID:12); HAIP is missing "
                L"(give the HA agent's IPv4 address, for example -HAIP:127.0.0.1)",
            Refusal({L"srv", L"GSID=7", L"-HAPORT:8990", L"x", L"y"}));
  EXPECT_EQ(head +
                L"GSID \"0\" is not a non-zero number (give a non-zero number, for example "
                L"-GSID:12); HAPORT \"port\" is not a non-zero number (give -HAPORT:8990)",
            Refusal({L"srv", L"-GSID:0", L"-HAPORT:port", L"-HAIP:10.0.0.1", L"x"}));
  EXPECT_EQ(head + L"HAPORT is missing (give -HAPORT:8990)",
            Refusal({L"srv", L"-GSID:3", L"-HAIP:10.0.0.1", L"x", L"y"}));
}

TEST(StartupMessages, TheDisablingElementIsNamed) {
  const Args args{L"srv", L"-GSID:1", L"-map:C:\\maps\\NOUSEVEXIL_arena", L"-NOUSEVEXIL"};
  ConnSettings settings;
  ASSERT_EQ(StartupOutcome::kDisabled, Read(args, &settings));
  EXPECT_EQ(2, FindFlagElement(args.argc(), args.argv(), L"NOUSEVEXIL"));
  EXPECT_EQ(
      L"NOUSEVEXIL found in command-line element 2 \"-map:C:\\maps\\NOUSEVEXIL_arena\": the "
      L"connector is switched off for this process",
      DescribeDisabling(args.argc(), args.argv()));
  const Args none{L"x-NOUSEVEXIL", L"NOUSEVEXIL"};
  EXPECT_EQ(0, FindFlagElement(none.argc(), none.argv(), L"NOUSEVEXIL"));
  EXPECT_EQ(L"", DescribeDisabling(none.argc(), none.argv()));
}

TEST(StartupMessages, SubstitutionsSayWhatIsUsedInstead) {
  ConnSettings settings;
  settings.haport = 8990;
  settings.haip = L"10.0.0.1";
  EXPECT_TRUE(DescribeSubstitutions(settings).empty());
  settings.haport = 8000;
  settings.haip = L"10.0.1";
  const std::vector<std::wstring> lines = DescribeSubstitutions(settings);
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ(L"HAPORT 8000 is not used: the HA agent is always reached on port 8990", lines[0]);
  EXPECT_EQ(
      L"HAIP \"10.0.1\" is shorter than 8 characters: the HA agent is reached at 127.0.0.1 "
      L"instead",
      lines[1]);
}

// Text slipped into a command line to send the connector elsewhere shows which element it was.
TEST(StartupMessages, TheAgentAddressNamesTheElementItCameFrom) {
  const Args args{L"srv", L"-GSID:1", L"-HAPORT:8990", L"-map:arena", L"-HAIP:127.0.0.66"};
  ConnSettings settings;
  ASSERT_EQ(StartupOutcome::kAccepted, ReadStartupOptions(args.argc(), args.argv(), &settings));
  EXPECT_EQ(
      L"HAIP found in command-line element 4 \"-HAIP:127.0.0.66\": the HA agent is "
      L"reached at 127.0.0.66",
      DescribeAgentSource(args.argc(), args.argv(), settings));
  // A value too short to be used: the substitution line says where the agent is reached.
  const Args short_value{L"srv", L"-GSID:1", L"-HAPORT:8990", L"-HAIP:1.2", L"x"};
  ASSERT_EQ(StartupOutcome::kAccepted,
            ReadStartupOptions(short_value.argc(), short_value.argv(), &settings));
  EXPECT_EQ(L"", DescribeAgentSource(short_value.argc(), short_value.argv(), settings));
}

TEST(OptionLookup, LengthRuleAndFirstMatch) {
  const Args args{L"srv", L"GSID=7", L"-GSID:7", L"-GSID:8"};
  EXPECT_EQ(L"7", FindOptionValue(args.argc(), args.argv(), L"GSID").value());

  const Args empty_value{L"srv", L"-GSID:", L"xGSID="};
  EXPECT_FALSE(FindOptionValue(empty_value.argc(), empty_value.argv(), L"GSID").has_value());

  // The first occurrence within the element is the one read.
  const Args twice{L"srv", L"-GSID:GSID:3"};
  EXPECT_EQ(L"GSID:3", FindOptionValue(twice.argc(), twice.argv(), L"GSID").value());
}

TEST(OptionLookup, NumbersConvertLikeTheRuntime) {
  const struct {
    const wchar_t* element;
    int32_t expected;
  } cases[] = {
      {L"-GSID:12abc", 12},
      {L"-GSID: \t42", 42},
      {L"-GSID:-7", -7},
      {L"-GSID:+9", 9},
      {L"-GSID:x1", 0},
      {L"-GSID:2147483647", 2147483647},
      {L"-GSID:99999999999", 2147483647},
      {L"-GSID:-99999999999", -2147483647 - 1},
  };
  for (const auto& c : cases) {
    const Args args{L"srv", c.element};
    EXPECT_EQ(c.expected, FindOptionNumber(args.argc(), args.argv(), L"GSID")) << c.element;
  }
  const Args absent{L"srv"};
  EXPECT_EQ(0, FindOptionNumber(absent.argc(), absent.argv(), L"GSID"));
}

TEST(OptionLookup, NullNameRaisesTheCheckAndFindsNothing) {
  testing::CheckRecorder checks;
  const Args args{L"srv", L"-GSID:1"};
  EXPECT_FALSE(FindOptionValue(args.argc(), args.argv(), nullptr).has_value());
  EXPECT_FALSE(HasOptionFlag(args.argc(), args.argv(), nullptr));
  EXPECT_EQ(0, FindOptionNumber(args.argc(), args.argv(), nullptr));
  EXPECT_EQ(0, FindFlagElement(args.argc(), args.argv(), nullptr));
  EXPECT_EQ(4, checks.count());
}

}  // namespace
}  // namespace vexil
