// A stand-in for what the system says about a connection's far end, for the agent check's tests.
#ifndef VEXIL_TESTS_HOST_STAND_IN_PEERS_H_
#define VEXIL_TESTS_HOST_STAND_IN_PEERS_H_

#include <atomic>
#include <mutex>
#include <string>

#include "host/agent_check.h"

namespace vexil::testing {

// Says what it is told to, and counts what it was asked.
class StandInPeers : public PeerSystem {
 public:
  void LookUp(SOCKET, const PeerQuery& query, PeerIdentity* identity) override {
    std::lock_guard<std::mutex> guard(lock_);
    ++lookups;
    last_query = query;
    *identity = answer;
  }
  // For a test that changes the answer while a worker asks.
  void SetAnswer(const PeerIdentity& identity) {
    std::lock_guard<std::mutex> guard(lock_);
    answer = identity;
  }
  bool CanonicalUser(const std::wstring& name, std::wstring* canonical,
                     std::wstring* problem) override {
    ++user_resolutions;
    if (name == L"agent") {
      *canonical = L"1001";
      return true;
    }
    if (name == L"1001" || name == L"0") {
      *canonical = name;
      return true;
    }
    *problem = L"no such user";
    return false;
  }
  std::wstring CanonicalExecutable(const std::wstring& path) override { return L"canon:" + path; }
  bool SameExecutable(const std::wstring& found, const std::wstring& expected) override {
    return found == expected;
  }
  bool ServiceCheckable() const override { return services; }

  PeerIdentity answer;
  PeerQuery last_query;
  bool services = false;
  // Counted on the worker, read by the test.
  std::atomic<int> lookups{0};
  std::atomic<int> user_resolutions{0};

 private:
  std::mutex lock_;
};

inline AgentKeys Keys(const wchar_t* user, const wchar_t* exe = L"", const wchar_t* service = L"") {
  AgentKeys keys;
  keys.user = user;
  keys.exe = exe;
  keys.service = service;
  return keys;
}

}  // namespace vexil::testing

#endif  // VEXIL_TESTS_HOST_STAND_IN_PEERS_H_
