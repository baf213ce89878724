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
  EXPECT_EQ(3, checks.count());
}

}  // namespace
}  // namespace vexil
