// Who owns the far end of a loopback connection, as the Linux lookup finds it: through netlink and
// through /proc/net/tcp, for the user and the process, and where the owner must stay unknown.
#include "net/peer_identity.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "net/loopback.h"
#include "net/peer_identity_posix.h"
#include "net/socket.h"

namespace vexil {
namespace {

using testing::ConnectPair;

// Not used by the other network tests, which may run at the same time.
constexpr char kAddress[] = "127.0.0.71";

// The ends of handle as its own socket sees them.
TcpEnds EndsOf(SOCKET handle) {
  sockaddr_in local = {}, remote = {};
  socklen_t local_length = sizeof local, remote_length = sizeof remote;
  EXPECT_EQ(0, ::getsockname(handle, reinterpret_cast<sockaddr*>(&local), &local_length));
  EXPECT_EQ(0, ::getpeername(handle, reinterpret_cast<sockaddr*>(&remote), &remote_length));
  TcpEnds ends;
  ends.local_address = local.sin_addr.s_addr;
  ends.local_port = ntohs(local.sin_port);
  ends.remote_address = remote.sin_addr.s_addr;
  ends.remote_port = ntohs(remote.sin_port);
  return ends;
}

uint64_t InodeOf(SOCKET handle) {
  struct stat status = {};
  EXPECT_EQ(0, ::fstat(handle, &status));
  return status.st_ino;
}

std::wstring OwnExecutable() {
  char path[PATH_MAX];
  EXPECT_NE(nullptr, ::realpath("/proc/self/exe", path));
  return std::wstring(path, path + std::strlen(path));
}

PeerQuery Ask(bool user, bool executable) {
  PeerQuery query;
  query.user = user;
  query.executable = executable;
  return query;
}

// A fresh directory under the test's temporary directory, removed with everything in it.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::string pattern = ::testing::TempDir() + "peer_identity_XXXXXX";
    EXPECT_NE(nullptr, ::mkdtemp(pattern.data()));
    path_ = pattern;
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }
  std::string Write(const std::string& name, const std::string& contents) const {
    const std::string file = path_ + "/" + name;
    std::ofstream(file) << contents;
    return file;
  }

 private:
  std::string path_;
};

// The far end is a socket of this process: both sources name it, and the process is this one.
class PeerLookupTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(ConnectPair(kAddress, client_, agent_)); }
  Socket client_;
  Socket agent_;
};

TEST_F(PeerLookupTest, FindsOwnUserAndExecutable) {
  PeerIdentity identity;
  LookUpPeer(client_.handle(), Ask(true, true), &identity);
  EXPECT_EQ(std::to_wstring(::getuid()), identity.user);
  EXPECT_EQ(OwnExecutable(), identity.executable);
  EXPECT_EQ(static_cast<uint32_t>(::getpid()), identity.process_id);
  EXPECT_EQ(L"", identity.unknown_why);
}

TEST_F(PeerLookupTest, FindsOnlyWhatIsAsked) {
  PeerIdentity identity;
  LookUpPeer(client_.handle(), Ask(true, false), &identity);
  EXPECT_EQ(std::to_wstring(::getuid()), identity.user);
  EXPECT_EQ(L"", identity.executable);
  EXPECT_EQ(0u, identity.process_id);

  PeerIdentity nothing;
  LookUpPeer(client_.handle(), Ask(false, false), &nothing);
  EXPECT_EQ(L"", nothing.user);
  EXPECT_EQ(L"", nothing.unknown_why);
}

// Both sources must name the agent's socket (its inode), never the connector's own end.
TEST_F(PeerLookupTest, NetlinkAndTableNameTheFarEndsSocket) {
  const TcpEnds ends = EndsOf(agent_.handle());
  SocketRecord by_netlink, in_table;
  std::string failure;
  ASSERT_EQ(SocketSearch::kFound, FindSocketByNetlink(ends, &by_netlink, &failure)) << failure;
  ASSERT_EQ(SocketSearch::kFound, FindSocketInTable("/proc/net/tcp", ends, &in_table, &failure))
      << failure;
  EXPECT_EQ(InodeOf(agent_.handle()), by_netlink.inode);
  EXPECT_EQ(by_netlink.inode, in_table.inode);
  EXPECT_EQ(::getuid(), by_netlink.uid);
  EXPECT_EQ(::getuid(), in_table.uid);
}

TEST_F(PeerLookupTest, WithoutNetlinkTheTableGivesTheSameIdentity) {
  PeerLookupSources sources;
  sources.netlink = false;
  PeerIdentity identity;
  LookUpPeerFrom(sources, client_.handle(), Ask(true, true), &identity);
  EXPECT_EQ(std::to_wstring(::getuid()), identity.user);
  EXPECT_EQ(OwnExecutable(), identity.executable);
  EXPECT_EQ(static_cast<uint32_t>(::getpid()), identity.process_id);
  EXPECT_EQ(L"", identity.unknown_why);

  // With neither source readable the owner stays unknown, with the table's failure as the reason.
  sources.tcp_table = "/nonexistent/tcp";
  PeerIdentity unknown;
  LookUpPeerFrom(sources, client_.handle(), Ask(true, true), &unknown);
  EXPECT_EQ(L"", unknown.user);
  EXPECT_EQ(L"", unknown.executable);
  EXPECT_NE(std::wstring::npos, unknown.unknown_why.find(L"/nonexistent/tcp"));
}

// The agent has not accepted the connection yet (it is busy, or slow to start): the connection
// has no inode of its own, and the listener it waits in names the process that will take it.
TEST(PeerLookupQueued, AConnectionNotYetAcceptedIsItsListenersOwners) {
  Socket listener;
  ASSERT_EQ(1, listener.Create(0, SOCK_STREAM, std::string(kAddress)));
  ASSERT_EQ(1, listener.Listen(4));
  std::string address;
  uint16_t port = 0;
  ASSERT_EQ(1, listener.GetSockName(address, port));
  Socket client;
  ASSERT_EQ(1, client.Create(0, SOCK_STREAM, std::string()));
  ASSERT_EQ(1, client.Connect(address, port));
  for (const bool netlink : {true, false}) {
    PeerLookupSources sources;
    sources.netlink = netlink;
    PeerIdentity identity;
    LookUpPeerFrom(sources, client.handle(), Ask(true, true), &identity);
    EXPECT_EQ(std::to_wstring(::getuid()), identity.user) << netlink;
    EXPECT_EQ(OwnExecutable(), identity.executable) << netlink;
    EXPECT_EQ(static_cast<uint32_t>(::getpid()), identity.process_id) << netlink;
    EXPECT_EQ(L"", identity.unknown_why) << netlink;
  }
}

// A closed far end lingers (closing, time-wait) with uid 0 and no inode: that uid is nobody's.
TEST_F(PeerLookupTest, ClosedFarEndHasNoOwner) {
  agent_.Close();
  for (const bool netlink : {true, false}) {
    PeerLookupSources sources;
    sources.netlink = netlink;
    PeerIdentity identity;
    LookUpPeerFrom(sources, client_.handle(), Ask(true, true), &identity);
    EXPECT_EQ(L"", identity.user) << "netlink " << netlink;
    EXPECT_EQ(L"", identity.executable);
    EXPECT_EQ(0u, identity.process_id);
    EXPECT_NE(L"", identity.unknown_why);
  }
}

TEST_F(PeerLookupTest, ExecutableUnknownWhenNoReadableProcessHoldsTheSocket) {
  ScratchDirectory empty_proc;
  PeerLookupSources sources;
  sources.proc_root = empty_proc.path().c_str();
  PeerIdentity identity;
  LookUpPeerFrom(sources, client_.handle(), Ask(true, true), &identity);
  EXPECT_EQ(std::to_wstring(::getuid()), identity.user);
  EXPECT_EQ(L"", identity.executable);
  EXPECT_EQ(0u, identity.process_id);
  EXPECT_NE(std::wstring::npos, identity.unknown_why.find(L"holds the agent's socket"));
}

// An exact lookup that misses a connection can land on the listener of the same port.
TEST(PeerLookupMissing, MadeUpPairToAListeningPortIsAbsent) {
  Socket listener;
  ASSERT_TRUE(listener.Create(0, SOCK_STREAM, std::string(kAddress)));
  ASSERT_TRUE(listener.Listen(1));
  std::string bound;
  uint16_t port = 0;
  ASSERT_TRUE(listener.GetSockName(bound, port));
  TcpEnds ends;
  ends.local_address = ::inet_addr(kAddress);
  ends.local_port = port;
  ends.remote_address = ::inet_addr(kAddress);
  ends.remote_port = 1;

  SocketRecord record;
  std::string failure;
  // kUnavailable where the kernel answers "no such socket" without a record; never kFound.
  EXPECT_NE(SocketSearch::kFound, FindSocketByNetlink(ends, &record, &failure));
  EXPECT_EQ(SocketSearch::kAbsent, FindSocketInTable("/proc/net/tcp", ends, &record, &failure));
  EXPECT_NE(std::string::npos,
            failure.find("127.0.0.71:" + std::to_string(port) + " -> 127.0.0.71:1"))
      << failure;
}

TEST(PeerLookupMissing, UnconnectedSocketIsUnknown) {
  Socket lone;
  ASSERT_TRUE(lone.OpenSocket(SOCK_STREAM, 0, AF_INET));
  PeerIdentity identity;
  LookUpPeer(lone.handle(), Ask(true, false), &identity);
  EXPECT_EQ(L"", identity.user);
  EXPECT_NE(std::wstring::npos, identity.unknown_why.find(L"ends are unknown"));
}

// Rows as the kernel prints them on a little-endian machine: 127.0.0.71 is 4700007F.
TEST(PeerLookupTable, PicksOnlyTheRowWithBothEnds) {
  if (htonl(1) == 1) GTEST_SKIP() << "the crafted rows are little-endian";
  const char* heading =
      "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
      "timeout inode\n";
  const std::string rows =
      std::string(heading) +
      // The reversed pair: the connector's own end.
      "   0: 4700007F:9D90 4700007F:1F1E 01 00000000:00000000 00:00000000 00000000  1001  0 "
      "111 1 0 20 4 30 10 -1\n"
      // Malformed: short address, bad hex, a uid that is no number, too few fields.
      "   1: 700007F:1F1E 4700007F:9D90 01 00000000:00000000 00:00000000 00000000  1002  0 222\n"
      "   2: 4700007G:1F1E 4700007F:9D90 01 00000000:00000000 00:00000000 00000000  1003  0 333\n"
      "   3: 4700007F:1F1E 4700007F:9D90 01 00000000:00000000 00:00000000 00000000  x100  0 444\n"
      "   4: 4700007F:1F1E 4700007F:9D90 01\n"
      // The right pair in time-wait: no owner.
      "   5: 4700007F:1F1E 4700007F:9D90 06 00000000:00000000 03:00001000 00000000     0  0 0 "
      "3 0\n"
      // The right pair.
      "   6: 4700007F:1F1E 4700007F:9D90 01 00000000:00000000 00:00000000 00000000  1005  0 "
      "555 1 0 20 4 30 10 -1";
  ScratchDirectory directory;
  const std::string table = directory.Write("tcp", rows);
  TcpEnds ends;
  ends.local_address = ::inet_addr(kAddress);
  ends.local_port = 0x1F1E;
  ends.remote_address = ::inet_addr(kAddress);
  ends.remote_port = 0x9D90;

  SocketRecord record;
  std::string failure;
  ASSERT_EQ(SocketSearch::kFound, FindSocketInTable(table.c_str(), ends, &record, &failure));
  EXPECT_EQ(1005u, record.uid);
  EXPECT_EQ(555u, record.inode);

  // Without the last row, only rows that must not count remain.
  const std::string without = directory.Write("tcp2", rows.substr(0, rows.rfind("   6:")));
  EXPECT_EQ(SocketSearch::kAbsent, FindSocketInTable(without.c_str(), ends, &record, &failure));
  EXPECT_EQ("no socket owns 127.0.0.71:7966 -> 127.0.0.71:40336 (" + without + ")", failure);

  EXPECT_EQ(SocketSearch::kUnavailable,
            FindSocketInTable((directory.path() + "/none").c_str(), ends, &record, &failure));
}

// A /proc look-alike: the holder is found by the exact link text, under a numeric entry only.
TEST(PeerLookupProcess, FindsTheProcessHoldingTheInode) {
  ScratchDirectory proc;
  const std::string root = proc.path();
  for (const char* directory : {"/self", "/self/fd", "/11", "/12", "/12/fd", "/13", "/13/fd"}) {
    ASSERT_EQ(0, ::mkdir((root + directory).c_str(), 0700));
  }
  // "self" holds it too but is no process id; 11 has no readable fd directory; 13 holds an inode
  // that only starts the same.
  ASSERT_EQ(0, ::symlink("socket:[4242]", (root + "/self/fd/3").c_str()));
  ASSERT_EQ(0, ::symlink("/bin/self", (root + "/self/exe").c_str()));
  ASSERT_EQ(0, ::symlink("/bin/eleven", (root + "/11/exe").c_str()));
  ASSERT_EQ(0, ::symlink("socket:[42420]", (root + "/13/fd/3").c_str()));
  ASSERT_EQ(0, ::symlink("/bin/thirteen", (root + "/13/exe").c_str()));
  ASSERT_EQ(0, ::symlink("pipe:[4242]", (root + "/12/fd/0").c_str()));
  ASSERT_EQ(0, ::symlink("socket:[4242]", (root + "/12/fd/7").c_str()));
  ASSERT_EQ(0, ::symlink("/opt/agent/bin/agent", (root + "/12/exe").c_str()));

  uint32_t process_id = 0;
  std::string executable;
  ASSERT_TRUE(FindSocketHolder(root.c_str(), 4242, &process_id, &executable));
  EXPECT_EQ(12u, process_id);
  EXPECT_EQ("/opt/agent/bin/agent", executable);
  EXPECT_FALSE(FindSocketHolder(root.c_str(), 424, &process_id, &executable));
}

// Without a uid map every uid is unmapped, the far end's owner included: the lookup must say
// so instead of reporting the overflow uid as a user.
TEST_F(PeerLookupTest, UnmappedOwnerInAUserNamespaceIsUnknown) {
  // The child exits kNoNamespace + errno when it cannot enter a namespace.
  constexpr int kPassed = 0, kFailed = 1, kNoNamespace = 100;
  const pid_t child = ::fork();
  ASSERT_NE(-1, child);
  if (child == 0) {
    if (::unshare(CLONE_NEWUSER) != 0) ::_exit(kNoNamespace + std::min(errno, 155));
    bool passed = true;
    for (const bool netlink : {true, false}) {
      PeerLookupSources sources;
      sources.netlink = netlink;
      PeerIdentity identity;
      LookUpPeerFrom(sources, client_.handle(), Ask(true, false), &identity);
      passed = passed && identity.user.empty() &&
               identity.unknown_why == L"the agent's uid is not mapped in this user namespace";
    }
    ::_exit(passed ? kPassed : kFailed);
  }
  int status = 0;
  pid_t waited = 0;
  for (int i = 0; i < 1000 && waited == 0; ++i) {
    waited = ::waitpid(child, &status, WNOHANG);
    if (waited == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (waited == 0) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    FAIL() << "the child did not finish";
  }
  ASSERT_TRUE(WIFEXITED(status));
  // EPERM, ENOSPC: namespaces are off. EINVAL: also a runtime (ThreadSanitizer's) that starts a
  // thread in every forked child, as unshare takes a single-threaded caller only.
  if (WEXITSTATUS(status) >= kNoNamespace) {
    GTEST_SKIP() << "no user namespace: unshare: "
                 << std::strerror(WEXITSTATUS(status) - kNoNamespace);
  }
  EXPECT_EQ(kPassed, WEXITSTATUS(status));
}

TEST(CanonicalUser, DecimalUidsAndNames) {
  std::wstring canonical, problem;
  ASSERT_TRUE(CanonicalUser(L"0", &canonical, &problem));
  EXPECT_EQ(L"0", canonical);
  ASSERT_TRUE(CanonicalUser(L"0010", &canonical, &problem));
  EXPECT_EQ(L"10", canonical);
  ASSERT_TRUE(CanonicalUser(L"root", &canonical, &problem));
  EXPECT_EQ(L"0", canonical);
  // Accepted, though no far end is ever reported with the overflow uid.
  ASSERT_TRUE(CanonicalUser(L"65534", &canonical, &problem));
  EXPECT_EQ(L"65534", canonical);
}

TEST(CanonicalUser, NamesOfNoUserFail) {
  for (const wchar_t* name : {L"vexil-no-such-user", L"", L"4294967295", L"99999999999"}) {
    std::wstring canonical, problem;
    EXPECT_FALSE(CanonicalUser(name, &canonical, &problem)) << canonical;
    EXPECT_EQ(std::wstring(L"no user named ") + name, problem);
  }
}

TEST(CanonicalExecutable, ResolvesLinksOrKeepsThePath) {
  ScratchDirectory directory;
  const std::string target = directory.Write("agent", "");
  const std::string link = directory.path() + "/agent-link";
  ASSERT_EQ(0, ::symlink(target.c_str(), link.c_str()));
  char resolved[PATH_MAX];
  ASSERT_NE(nullptr, ::realpath(target.c_str(), resolved));
  const std::wstring wide_link(link.begin(), link.end());
  EXPECT_EQ(std::wstring(resolved, resolved + std::strlen(resolved)),
            CanonicalExecutable(wide_link));
  EXPECT_EQ(L"/no/such/agent", CanonicalExecutable(L"/no/such/agent"));
}

}  // namespace
}  // namespace vexil
