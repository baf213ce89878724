#include "host/agent_check.h"

#include <utility>

#include "log/conn_log.h"

namespace vexil {
namespace {

constexpr wchar_t kSection[] = L"AGENT";

// The operating system's answers, through net/peer_identity.h.
class OperatingSystemPeers final : public PeerSystem {
 public:
  void LookUp(SOCKET handle, const PeerQuery& query, PeerIdentity* identity) override {
    LookUpPeer(handle, query, identity);
  }
  bool CanonicalUser(const std::wstring& name, std::wstring* canonical,
                     std::wstring* problem) override {
    return vexil::CanonicalUser(name, canonical, problem);
  }
  std::wstring CanonicalExecutable(const std::wstring& path) override {
    return vexil::CanonicalExecutable(path);
  }
  bool SameExecutable(const std::wstring& found, const std::wstring& expected) override {
    return vexil::SameExecutable(found, expected);
  }
  bool ServiceCheckable() const override { return kPeerServiceCheckable; }
};

// Appends item to list, ", " between items.
void AddItem(std::wstring* list, const std::wstring& item) {
  if (!list->empty()) *list += L", ";
  *list += item;
}

std::wstring OrUnknown(const std::wstring& text) { return text.empty() ? L"unknown" : text; }

// Constant-initialised (no guard at first use): it holds nothing, and a guarded static would take
// the thread library's locks on the host's thread at load.
OperatingSystemPeers g_system_peers;

}  // namespace

PeerSystem& SystemPeers() { return g_system_peers; }

AgentCheck::AgentCheck(AgentKeys keys, const std::wstring& untrusted_why, PeerSystem* system)
    : on_(keys.any()), keys_(std::move(keys)), system_(system) {
  if (!on_) return;
  if (!untrusted_why.empty()) {
    misconfigured_why_ = L"its keys are not trusted: " + untrusted_why;
  } else if (!keys_.service.empty() && !system_->ServiceCheckable()) {
    misconfigured_why_ = L"AgentService=" + keys_.service +
                         L" cannot be checked on this platform (it has no services)";
  }
  if (!keys_.exe.empty()) expected_exe_ = system_->CanonicalExecutable(keys_.exe);
}

AgentCheck AgentCheck::FromProfile(const ConnLog& log, PeerSystem* system) {
  AgentKeys keys;
  log.ProfileValue(kSection, L"AgentUser", &keys.user);
  log.ProfileValue(kSection, L"AgentExe", &keys.exe);
  log.ProfileValue(kSection, L"AgentService", &keys.service);
  if (!keys.any()) return AgentCheck();
  std::wstring untrusted_why = log.ProfileUntrustedWhy();
  if (!untrusted_why.empty()) {
    untrusted_why = L"the profile " + log.profile_path() + L" is " + untrusted_why;
  }
  return AgentCheck(std::move(keys), untrusted_why, system);
}

std::vector<std::wstring> AgentCheck::LoadLines() const {
  if (!on_) return {};
  if (!misconfigured_why_.empty()) {
    return {L"Agent check: [AGENT] " + misconfigured_why_ +
            L"; every connection to the HA agent is refused"};
  }
  std::wstring keys;
  if (!keys_.user.empty()) AddItem(&keys, L"AgentUser=" + keys_.user);
  if (!keys_.exe.empty()) AddItem(&keys, L"AgentExe=" + keys_.exe);
  if (!keys_.service.empty()) AddItem(&keys, L"AgentService=" + keys_.service);
  return {L"Agent check on: " + keys +
          L"; a connection whose far end does not match is closed before anything is sent"};
}

bool AgentCheck::ExpectedUser(std::wstring* problem) {
  if (!expected_user_.empty()) return true;
  std::wstring why;
  if (system_->CanonicalUser(keys_.user, &expected_user_, &why) && !expected_user_.empty()) {
    return true;
  }
  expected_user_.clear();
  *problem = L"AgentUser=" + keys_.user + L" names no user (" + why + L")";
  return false;
}

std::wstring AgentCheck::DescribeExpected() const {
  std::wstring expected;
  if (!keys_.user.empty()) {
    std::wstring user = L"user " + expected_user_;
    if (expected_user_ != keys_.user) user += L" (" + keys_.user + L")";
    AddItem(&expected, user);
  }
  if (!keys_.exe.empty()) AddItem(&expected, L"executable " + expected_exe_);
  if (!keys_.service.empty()) AddItem(&expected, L"service " + keys_.service);
  return expected;
}

AgentVerdict AgentCheck::Judge(SOCKET handle) {
  AgentVerdict verdict;
  if (!misconfigured_why_.empty()) {
    verdict.finding =
        L"the agent check refuses every connection ([AGENT] " + misconfigured_why_ + L")";
    return verdict;
  }
  std::wstring problem;
  if (!keys_.user.empty() && !ExpectedUser(&problem)) {
    verdict.finding = problem;
    return verdict;
  }
  PeerQuery query;
  query.user = !keys_.user.empty();
  query.executable = !keys_.exe.empty();
  query.service = keys_.service;
  PeerIdentity found;
  system_->LookUp(handle, query, &found);

  bool matches = true;
  std::wstring described;
  if (query.user) {
    matches = matches && !found.user.empty() && found.user == expected_user_;
    AddItem(&described, L"user " + OrUnknown(found.user));
  }
  if (query.executable) {
    matches = matches && !found.executable.empty() &&
              system_->SameExecutable(found.executable, expected_exe_);
    AddItem(&described, L"executable " + OrUnknown(found.executable));
  }
  if (!query.service.empty()) {
    matches = matches && found.is_service;
    const std::wstring process =
        found.process_id == 0 ? L"unknown" : std::to_wstring(found.process_id);
    AddItem(&described, found.is_service
                            ? L"service " + query.service + L" (process " + process + L")"
                            : L"process " + process + L", not service " + query.service);
  }
  verdict.admitted = matches;
  if (matches) {
    verdict.finding = described;
    return verdict;
  }
  verdict.finding = L"found " + described + L"; expected " + DescribeExpected();
  verdict.unknown_why = found.unknown_why;
  return verdict;
}

}  // namespace vexil
