// The agent check's verdicts, with a stand-in for what the system says about a connection.
#include "host/agent_check.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <string>

#include "host/stand_in_peers.h"
#include "log/conn_log.h"
#include "support/test_platform.h"

namespace vexil {
namespace {

using testing::Keys;
using testing::StandInPeers;

constexpr SOCKET kAnySocket = INVALID_SOCKET;

TEST(AgentCheckTest, WithoutKeysItIsOffAndSaysNothing) {
  StandInPeers peers;
  AgentCheck check(Keys(L""), L"the profile is writable by others", &peers);
  EXPECT_FALSE(check.on());
  EXPECT_TRUE(check.LoadLines().empty());
  EXPECT_FALSE(AgentCheck().on());
  EXPECT_EQ(0, peers.user_resolutions);
}

// Every key given must match, and only what a key needs is asked of the system.
TEST(AgentCheckTest, EveryGivenKeyMustMatch) {
  StandInPeers peers;
  peers.answer.user = L"1001";
  peers.answer.executable = L"canon:/opt/agent/ha-agent";
  AgentCheck check(Keys(L"agent", L"/opt/agent/ha-agent"), L"", &peers);
  ASSERT_TRUE(check.on());
  ASSERT_EQ(1u, check.LoadLines().size());
  EXPECT_EQ(
      L"Agent check on: AgentUser=agent, AgentExe=/opt/agent/ha-agent; a connection whose far end "
      L"does not match is closed before anything is sent",
      check.LoadLines()[0]);
  EXPECT_EQ(0, peers.user_resolutions) << "names are resolved on the worker, not at load";

  AgentVerdict verdict = check.Judge(kAnySocket);
  EXPECT_TRUE(verdict.admitted);
  EXPECT_EQ(L"user 1001, executable canon:/opt/agent/ha-agent", verdict.finding);
  EXPECT_TRUE(peers.last_query.user);
  EXPECT_TRUE(peers.last_query.executable);
  EXPECT_TRUE(peers.last_query.service.empty());

  peers.answer.executable = L"canon:/tmp/squatter";
  verdict = check.Judge(kAnySocket);
  EXPECT_FALSE(verdict.admitted);
  EXPECT_EQ(
      L"found user 1001, executable canon:/tmp/squatter; expected user 1001 (agent), executable "
      L"canon:/opt/agent/ha-agent",
      verdict.finding);
  EXPECT_EQ(1, peers.user_resolutions) << "a resolved user is kept";

  peers.answer.executable = L"canon:/opt/agent/ha-agent";
  peers.answer.user = L"0";
  EXPECT_FALSE(check.Judge(kAnySocket).admitted);
}

// What the system cannot tell never matches, whatever the key says, and the reason is logged.
TEST(AgentCheckTest, AnUnknownOwnerIsRefusedWithItsReason) {
  StandInPeers peers;
  peers.answer.unknown_why = L"the agent's uid is not mapped in this user namespace";
  AgentCheck check(Keys(L"0"), L"", &peers);
  const AgentVerdict verdict = check.Judge(kAnySocket);
  EXPECT_FALSE(verdict.admitted);
  EXPECT_EQ(L"found user unknown; expected user 0", verdict.finding);
  EXPECT_EQ(L"the agent's uid is not mapped in this user namespace", verdict.unknown_why);
  EXPECT_FALSE(peers.last_query.executable) << "only what a key needs is asked";

  AgentCheck by_exe(Keys(L"", L"/opt/a"), L"", &peers);
  EXPECT_FALSE(by_exe.Judge(kAnySocket).admitted);
}

TEST(AgentCheckTest, AUserThatNamesNoOneRefusesWithoutAskingAboutTheConnection) {
  StandInPeers peers;
  AgentCheck check(Keys(L"nobody-here"), L"", &peers);
  const AgentVerdict verdict = check.Judge(kAnySocket);
  EXPECT_FALSE(verdict.admitted);
  EXPECT_EQ(L"AgentUser=nobody-here names no user (no such user)", verdict.finding);
  EXPECT_EQ(0, peers.lookups);
  check.Judge(kAnySocket);
  EXPECT_EQ(2, peers.user_resolutions) << "tried again: the user may exist by the next attempt";
}

// The operator asked for protection that cannot be given: every connection is refused, loudly,
// and nothing is asked of the system.
TEST(AgentCheckTest, AKeyThePlatformCannotCheckOrAnUntrustedProfileRefusesEverything) {
  StandInPeers peers;
  AgentCheck service(Keys(L"", L"", L"HaAgent"), L"", &peers);
  ASSERT_TRUE(service.on());
  EXPECT_EQ(std::vector<std::wstring>{L"Agent check: [AGENT] AgentService=HaAgent cannot be "
                                      L"checked on this platform (it has no services); every "
                                      L"connection to the HA agent is refused"},
            service.LoadLines());
  AgentVerdict verdict = service.Judge(kAnySocket);
  EXPECT_FALSE(verdict.admitted);
  EXPECT_EQ(
      L"the agent check refuses every connection ([AGENT] AgentService=HaAgent cannot be "
      L"checked on this platform (it has no services))",
      verdict.finding);

  AgentCheck untrusted(Keys(L"0"), L"the profile /etc/p.INI is writable by others (mode 0666)",
                       &peers);
  EXPECT_EQ(std::vector<std::wstring>{L"Agent check: [AGENT] its keys are not trusted: the "
                                      L"profile /etc/p.INI is writable by others (mode 0666); "
                                      L"every connection to the HA agent is refused"},
            untrusted.LoadLines());
  EXPECT_FALSE(untrusted.Judge(kAnySocket).admitted);
  EXPECT_EQ(0, peers.lookups);
  EXPECT_EQ(0, peers.user_resolutions);
}

TEST(AgentCheckTest, TheServiceKeyIsAskedOfThePlatformThatHasServices) {
  StandInPeers peers;
  peers.services = true;
  peers.answer.process_id = 4321;
  AgentCheck check(Keys(L"", L"", L"HaAgent"), L"", &peers);
  AgentVerdict verdict = check.Judge(kAnySocket);
  EXPECT_EQ(L"HaAgent", peers.last_query.service);
  EXPECT_FALSE(verdict.admitted);
  EXPECT_EQ(L"found process 4321, not service HaAgent; expected service HaAgent", verdict.finding);
  peers.answer.is_service = true;
  verdict = check.Judge(kAnySocket);
  EXPECT_TRUE(verdict.admitted);
  EXPECT_EQ(L"service HaAgent (process 4321)", verdict.finding);
}

// The keys come from the [AGENT] section of the log's profile, without regard to case.
TEST(AgentCheckTest, KeysAreReadFromTheProfile) {
  const std::wstring profile = testing::TempDirectory() + L"agent_check_test.INI";
  FILE* file = testing::OpenFile(profile.c_str(), L"w");
  ASSERT_NE(nullptr, file);
  std::fputs("[LOG]\nERRLEVEL=1\n[agent]\nagentuser = 0\nAgentExe=/opt/agent/ha-agent\n", file);
  std::fclose(file);
  ConnLog log([] { return LogTime(); }, profile.c_str());
  StandInPeers peers;
  peers.answer.user = L"0";
  peers.answer.executable = L"canon:/opt/agent/ha-agent";
  AgentCheck check = AgentCheck::FromProfile(log, &peers);
  ASSERT_TRUE(check.on());
  EXPECT_TRUE(check.Judge(kAnySocket).admitted);
  EXPECT_TRUE(peers.last_query.user && peers.last_query.executable);
  testing::RemoveFile(profile.c_str());
  EXPECT_FALSE(AgentCheck::FromProfile(log, &peers).on());
}

#ifndef _WIN32
// Keys that protect the process are taken only from a profile nobody else can change.
TEST(AgentCheckTest, AProfileOthersCanWriteIsNotTrusted) {
  const std::wstring profile = testing::TempDirectory() + L"agent_check_shared.INI";
  const std::string path = testing::NarrowPath(profile.c_str());
  FILE* file = testing::OpenFile(profile.c_str(), L"w");
  ASSERT_NE(nullptr, file);
  std::fputs("[AGENT]\nAgentUser=0\n", file);
  std::fclose(file);
  ASSERT_EQ(0, ::chmod(path.c_str(), 0666));
  ConnLog log([] { return LogTime(); }, profile.c_str());
  StandInPeers peers;
  AgentCheck check = AgentCheck::FromProfile(log, &peers);
  ASSERT_EQ(1u, check.LoadLines().size());
  EXPECT_EQ(L"Agent check: [AGENT] its keys are not trusted: the profile " + profile +
                L" is writable by others (mode 0666); every connection to the HA agent is refused",
            check.LoadLines()[0]);
  EXPECT_FALSE(check.Judge(kAnySocket).admitted);
  EXPECT_EQ(0, peers.lookups);
  ASSERT_EQ(0, ::chmod(path.c_str(), 0644));
  EXPECT_EQ(
      L"Agent check on: AgentUser=0; a connection whose far end does not match is closed "
      L"before anything is sent",
      AgentCheck::FromProfile(log, &peers).LoadLines()[0]);
  testing::RemoveFile(profile.c_str());
}
#endif

}  // namespace
}  // namespace vexil
