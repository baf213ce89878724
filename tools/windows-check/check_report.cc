#include "windows-check/check_report.h"

#include <cstdio>

namespace vexil::tools {
namespace {

// WSAECONNRESET, spelt out so that the rules build without Winsock.
constexpr int kConnectionReset = 10054;

const char* VerdictWord(Verdict verdict) {
  switch (verdict) {
    case Verdict::kPass:
      return "PASS";
    case Verdict::kNotJudged:
      return "SKIP";
    case Verdict::kFail:
      break;
  }
  return "FAIL";
}

}  // namespace

std::string CheckLine(const CheckResult& result) {
  return std::string(VerdictWord(result.verdict)) + " " + result.name + ": " + result.figures;
}

std::string CheckReport::Summary() const {
  int passed = 0, failed = 0, skipped = 0;
  for (const CheckResult& result : results_) {
    if (result.verdict == Verdict::kPass) ++passed;
    if (result.verdict == Verdict::kFail) ++failed;
    if (result.verdict == Verdict::kNotJudged) ++skipped;
  }
  std::string summary = std::to_string(passed) + " passed, " + std::to_string(failed) + " failed";
  if (skipped > 0) summary += ", " + std::to_string(skipped) + " skipped";
  return summary;
}

int CheckReport::ExitStatus() const {
  if (results_.empty()) return 1;
  for (const CheckResult& result : results_) {
    if (result.verdict == Verdict::kFail) return 1;
  }
  return 0;
}

bool StaysFlat(uint64_t first, uint64_t last, uint64_t slack) { return last <= first + slack; }

Verdict ExitCloseVerdict(ConnectionEnd end, bool under_wine) {
  if (end == ConnectionEnd::kOrderly) return Verdict::kPass;
  if (end == ConnectionEnd::kReset && under_wine) return Verdict::kNotJudged;
  return Verdict::kFail;
}

ConnectionEnd ConnectionEndOf(IoResult last_receive, int error) {
  switch (last_receive) {
    case IoResult::kClosed:
      return ConnectionEnd::kOrderly;
    case IoResult::kFailed:
      return error == kConnectionReset ? ConnectionEnd::kReset : ConnectionEnd::kOtherError;
    case IoResult::kDone:
    case IoResult::kTimedOut:
      break;
  }
  return ConnectionEnd::kStillOpen;
}

std::string ConnectionEndText(ConnectionEnd end, int error) {
  switch (end) {
    case ConnectionEnd::kOrderly:
      return "orderly close (recv returned 0)";
    case ConnectionEnd::kReset:
      return "reset (recv failed with WSAECONNRESET, error 10054)";
    case ConnectionEnd::kOtherError:
      return "recv failed with error " + std::to_string(error);
    case ConnectionEnd::kStillOpen:
      break;
  }
  return "the connection was still open";
}

std::string Duration(double seconds) {
  char text[32];
  if (seconds < 1.0) {
    std::snprintf(text, sizeof text, "%.0f ms", seconds * 1000.0);
  } else {
    std::snprintf(text, sizeof text, "%.1f s", seconds);
  }
  return text;
}

}  // namespace vexil::tools
