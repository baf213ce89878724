// What vexil-windows-check prints and how it judges what it saw: one line per check, the summary
// line and the exit status, and the rules that turn the figures of a check into its verdict. Free
// of the Windows API, so that the rules are tested on every build.
#ifndef VEXIL_TOOLS_WINDOWS_CHECK_CHECK_REPORT_H_
#define VEXIL_TOOLS_WINDOWS_CHECK_CHECK_REPORT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "ha-agent/agent_socket.h"

namespace vexil::tools {

// kNotJudged: what was seen says nothing about Windows (Wine differs there); printed as SKIP and
// counted as skipped, never as passed.
enum class Verdict { kPass, kFail, kNotJudged };

struct CheckResult {
  Verdict verdict = Verdict::kFail;
  std::string name;
  std::string figures;  // what was measured, and why that verdict
};

// "PASS name: figures", "FAIL name: figures" or "SKIP name: figures".
std::string CheckLine(const CheckResult& result);

class CheckReport {
 public:
  void Add(CheckResult result) { results_.push_back(std::move(result)); }
  const std::vector<CheckResult>& results() const { return results_; }
  // "N passed, M failed", with ", K skipped" only when a check was not judged.
  std::string Summary() const;
  // 0 only when at least one check ran and none failed; a check left unjudged does not fail the
  // run, since the same program is judged fully on Windows.
  int ExitStatus() const;

 private:
  std::vector<CheckResult> results_;
};

// load-unload: flat when the last figure exceeds the first by no more than slack.
bool StaysFlat(uint64_t first, uint64_t last, uint64_t slack);

// exit-without-stop: how the agent's end of the connection ended after the host exited.
enum class ConnectionEnd {
  kOrderly,     // recv returned 0: the host's system sent FIN
  kReset,       // recv failed with WSAECONNRESET (10054)
  kOtherError,  // recv failed with another error
  kStillOpen,   // nothing within the time allowed
};
// An orderly close passes. A reset fails on Windows and is not judged under Wine, whose sockets
// need not end as Windows' do when a process exits; anything else fails everywhere.
Verdict ExitCloseVerdict(ConnectionEnd end, bool under_wine);
// The connection end for the last receive on the agent's side; error is the socket error after a
// failed one.
ConnectionEnd ConnectionEndOf(IoResult last_receive, int error);
// "orderly close (recv returned 0)", "reset (WSAECONNRESET, error 10054)", ...
std::string ConnectionEndText(ConnectionEnd end, int error);

// Seconds with one decimal ("5.0 s"), or milliseconds below one second ("12 ms").
std::string Duration(double seconds);

}  // namespace vexil::tools

#endif  // VEXIL_TOOLS_WINDOWS_CHECK_CHECK_REPORT_H_
