// The verdict rules and the report of vexil-windows-check: what a user's run prints and how its
// exit status and the Wine exception are decided.
#include <gtest/gtest.h>

#include "windows-check/check_report.h"

namespace {

using vexil::tools::CheckLine;
using vexil::tools::CheckReport;
using vexil::tools::CheckResult;
using vexil::tools::ConnectionEnd;
using vexil::tools::ConnectionEndOf;
using vexil::tools::Duration;
using vexil::tools::ExitCloseVerdict;
using vexil::tools::IoResult;
using vexil::tools::StaysFlat;
using vexil::tools::Verdict;

// The lines a user sends back: the verdict word, the check's name, its figures; the summary in
// the "N passed, M failed" form that CI reads, with the skipped count only when there is one.
TEST(WindowsCheckReport, LinesAndSummary) {
  CheckReport report;
  report.Add({Verdict::kPass, "load-unload", "flat"});
  report.Add({Verdict::kFail, "no-winsock-under-loader-lock", "started"});
  EXPECT_EQ("PASS load-unload: flat", CheckLine(report.results()[0]));
  EXPECT_EQ("FAIL no-winsock-under-loader-lock: started", CheckLine(report.results()[1]));
  EXPECT_EQ("1 passed, 1 failed", report.Summary());
  report.Add({Verdict::kNotJudged, "exit-without-stop", "reset under Wine"});
  EXPECT_EQ("SKIP exit-without-stop: reset under Wine", CheckLine(report.results()[2]));
  EXPECT_EQ("1 passed, 1 failed, 1 skipped", report.Summary());
}

// Exit status 0 only when no check failed; a check left unjudged does not fail the run, and a
// run that checked nothing is no success.
TEST(WindowsCheckReport, ExitStatus) {
  CheckReport report;
  EXPECT_NE(0, report.ExitStatus());
  report.Add({Verdict::kPass, "a", ""});
  report.Add({Verdict::kNotJudged, "b", ""});
  EXPECT_EQ(0, report.ExitStatus());
  report.Add({Verdict::kFail, "c", ""});
  EXPECT_NE(0, report.ExitStatus());
}

// An orderly close passes everywhere; a reset is a failure on Windows but not judged under Wine;
// an error other than a reset, or no end at all, fails under Wine too.
TEST(WindowsCheckVerdicts, ExitClose) {
  for (const bool wine : {false, true}) {
    EXPECT_EQ(Verdict::kPass, ExitCloseVerdict(ConnectionEnd::kOrderly, wine));
    EXPECT_EQ(Verdict::kFail, ExitCloseVerdict(ConnectionEnd::kOtherError, wine));
    EXPECT_EQ(Verdict::kFail, ExitCloseVerdict(ConnectionEnd::kStillOpen, wine));
  }
  EXPECT_EQ(Verdict::kFail, ExitCloseVerdict(ConnectionEnd::kReset, false));
  EXPECT_EQ(Verdict::kNotJudged, ExitCloseVerdict(ConnectionEnd::kReset, true));
}

// Only recv's 0 is an orderly close and only WSAECONNRESET a reset; a receive that timed out or
// still brought bytes means the connection never ended.
TEST(WindowsCheckVerdicts, ConnectionEndOfTheLastReceive) {
  EXPECT_EQ(ConnectionEnd::kOrderly, ConnectionEndOf(IoResult::kClosed, 0));
  EXPECT_EQ(ConnectionEnd::kReset, ConnectionEndOf(IoResult::kFailed, 10054));
  EXPECT_EQ(ConnectionEnd::kOtherError, ConnectionEndOf(IoResult::kFailed, 10053));
  EXPECT_EQ(ConnectionEnd::kStillOpen, ConnectionEndOf(IoResult::kTimedOut, 0));
  EXPECT_EQ(ConnectionEnd::kStillOpen, ConnectionEndOf(IoResult::kDone, 0));
}

// Growth up to the slack is flat, one more is a leak; a shrinking count is flat.
TEST(WindowsCheckVerdicts, HandleFiguresStayFlat) {
  EXPECT_TRUE(StaysFlat(120, 120, 4));
  EXPECT_TRUE(StaysFlat(120, 124, 4));
  EXPECT_FALSE(StaysFlat(120, 125, 4));
  EXPECT_TRUE(StaysFlat(120, 90, 4));
}

TEST(WindowsCheckReport, Durations) {
  EXPECT_EQ("12 ms", Duration(0.012));
  EXPECT_EQ("5.0 s", Duration(5.04));
  EXPECT_EQ("7.1 s", Duration(7.06));
}

}  // namespace
