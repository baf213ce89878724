#include "net/peer_identity_win.h"
#include "net/peer_identity.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "net/loopback.h"
#include "sync/code_page.h"
#include "sync/win32.h"

// After <windows.h>.
#include <sddl.h>

namespace vexil {
namespace {

// Wine fills in the owner of a TCP table row only for some sockets; where it leaves it out, the
// lookup is unknown for a reason that has nothing to do with our code, and the test says so.
#define SKIP_IF_WINE_HIDES_THE_OWNER(identity)                             \
  do {                                                                     \
    if (testing::RunningUnderWine() && (identity).process_id == 0)         \
      GTEST_SKIP() << "Wine gives no owning process for this connection: " \
                   << WideToNarrow((identity).unknown_why);                \
  } while (false)

struct HandleClose {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using OwnedHandle = std::unique_ptr<void, HandleClose>;

struct LocalFreeRelease {
  void operator()(void* memory) const { ::LocalFree(memory); }
};

std::wstring SidString(PSID sid) {
  wchar_t* text = nullptr;
  if (!::ConvertSidToStringSidW(sid, &text)) return std::wstring();
  const std::unique_ptr<wchar_t, LocalFreeRelease> owned(text);
  return owned.get();
}

// The SID string of this process's user, read independently of the code under test's helpers.
std::wstring OwnUserSid() {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return std::wstring();
  std::vector<uint64_t> buffer(64);
  DWORD size = 0;
  const BOOL read = ::GetTokenInformation(token, TokenUser, buffer.data(),
                                          static_cast<DWORD>(buffer.size() * 8), &size);
  ::CloseHandle(token);
  if (!read) return std::wstring();
  return SidString(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
}

std::wstring OwnExecutable() {
  std::vector<wchar_t> path(32768);
  const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  return std::wstring(path.data(), length);
}

std::wstring ComputerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  return ::GetComputerNameW(name, &length) ? std::wstring(name, length) : std::wstring();
}

bool Contains(const std::wstring& text, const std::wstring& part) {
  return text.find(part) != std::wstring::npos;
}

TEST(LookUpPeer, FindsThisProcessAtBothEndsOfALoopbackConnection) {
  Socket client;
  Socket peer;
  ASSERT_TRUE(testing::ConnectPair("127.0.0.72", client, peer));
  PeerQuery query;
  query.user = true;
  query.executable = true;
  const std::wstring own_user = OwnUserSid();
  ASSERT_FALSE(own_user.empty());
  // The connecting side asks about the accepted end and the accepted side about the connecting
  // end: two different rows of the table, both ours.
  for (Socket* socket : {&client, &peer}) {
    PeerIdentity identity;
    identity.is_service = true;  // stale values from the caller are not kept
    LookUpPeer(socket->handle(), query, &identity);
    SKIP_IF_WINE_HIDES_THE_OWNER(identity);
    EXPECT_EQ(::GetCurrentProcessId(), identity.process_id);
    EXPECT_TRUE(SameExecutable(identity.executable, OwnExecutable()))
        << WideToNarrow(identity.executable);
    EXPECT_EQ(own_user, identity.user);
    EXPECT_FALSE(identity.is_service);
    EXPECT_EQ(L"", identity.unknown_why);
  }
}

TEST(LookUpPeer, FindsOnlyWhatIsAsked) {
  Socket client;
  Socket peer;
  ASSERT_TRUE(testing::ConnectPair("127.0.0.72", client, peer));
  PeerIdentity identity;
  LookUpPeer(client.handle(), PeerQuery(), &identity);
  SKIP_IF_WINE_HIDES_THE_OWNER(identity);
  EXPECT_EQ(::GetCurrentProcessId(), identity.process_id);
  EXPECT_EQ(L"", identity.user);
  EXPECT_EQ(L"", identity.executable);
  EXPECT_EQ(L"", identity.unknown_why);
}

TEST(LookUpPeer, IsUnknownWithAReasonWhenTheTableHasNoRow) {
  // A connected datagram socket has both ends but no TCP table row.
  Socket target;
  Socket datagram;
  ASSERT_EQ(1, target.Create(0, SOCK_DGRAM, std::string("127.0.0.72")));
  std::string address;
  uint16_t port = 0;
  ASSERT_EQ(1, target.GetSockName(address, port));
  ASSERT_EQ(1, datagram.Create(0, SOCK_DGRAM, std::string("127.0.0.72")));
  ASSERT_EQ(1, datagram.Connect(address, port));
  PeerQuery query;
  query.user = true;
  query.executable = true;
  query.service = L"VexilNoSuchService";
  PeerIdentity identity;
  LookUpPeer(datagram.handle(), query, &identity);
  EXPECT_EQ(0u, identity.process_id);
  EXPECT_EQ(L"", identity.user);
  EXPECT_EQ(L"", identity.executable);
  EXPECT_FALSE(identity.is_service);
  std::wstring our_address;
  uint16_t our_port = 0;
  ASSERT_EQ(1, datagram.GetSockName(our_address, our_port));
  // One clause, naming the agent's end first: nothing past the missing row is asked.
  EXPECT_EQ(L"no TCP table row for 127.0.0.72:" + std::to_wstring(port) + L" -> " + our_address +
                L":" + std::to_wstring(our_port),
            identity.unknown_why);
}

TEST(LookUpPeer, IsUnknownWithAReasonForASocketThatIsNotConnected) {
  Socket socket;
  ASSERT_EQ(1, socket.OpenSocket(SOCK_STREAM, 0, AF_INET));
  PeerQuery query;
  query.user = true;
  PeerIdentity identity;
  LookUpPeer(socket.handle(), query, &identity);
  EXPECT_EQ(0u, identity.process_id);
  EXPECT_TRUE(Contains(identity.unknown_why, L"the connection's ends cannot be read"))
      << WideToNarrow(identity.unknown_why);
}

TEST(LookUpPeer, AServiceThatDoesNotExistIsNotTheAgentsButTheRestIsStillFound) {
  Socket client;
  Socket peer;
  ASSERT_TRUE(testing::ConnectPair("127.0.0.72", client, peer));
  PeerQuery query;
  query.user = true;
  query.service = L"VexilNoSuchService";
  PeerIdentity identity;
  LookUpPeer(client.handle(), query, &identity);
  SKIP_IF_WINE_HIDES_THE_OWNER(identity);
  EXPECT_EQ(::GetCurrentProcessId(), identity.process_id);
  EXPECT_EQ(OwnUserSid(), identity.user);
  EXPECT_FALSE(identity.is_service);
  EXPECT_EQ(L"there is no service VexilNoSuchService", identity.unknown_why);
}

// The process half of the lookup, on this process: what Wine's TCP table cannot lead to.
TEST(DescribePeerProcess, ReadsTheExecutableAndUserOfTheHeldProcess) {
  const OwnedHandle process(
      ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ::GetCurrentProcessId()));
  ASSERT_TRUE(process) << ::GetLastError();
  PeerQuery query;
  query.user = true;
  query.executable = true;
  query.service = L"VexilNoSuchService";
  PeerIdentity identity;
  DescribePeerProcess(process.get(), ::GetCurrentProcessId(), query, &identity);
  EXPECT_EQ(::GetCurrentProcessId(), identity.process_id);
  EXPECT_TRUE(SameExecutable(identity.executable, OwnExecutable()))
      << WideToNarrow(identity.executable);
  EXPECT_EQ(OwnUserSid(), identity.user);
  EXPECT_FALSE(identity.is_service);
  EXPECT_EQ(L"there is no service VexilNoSuchService", identity.unknown_why);
}

TEST(DescribePeerProcess, NamesEachThingItCannotRead) {
  // A handle that may only be waited on: neither the image name nor the token can be read.
  const OwnedHandle process(::OpenProcess(SYNCHRONIZE, FALSE, ::GetCurrentProcessId()));
  ASSERT_TRUE(process) << ::GetLastError();
  PeerQuery query;
  query.user = true;
  query.executable = true;
  PeerIdentity identity;
  DescribePeerProcess(process.get(), 4242, query, &identity);
  EXPECT_EQ(L"", identity.executable);
  const std::wstring executable_clause = L"the executable of process 4242 cannot be read (error 5)";
  if (testing::RunningUnderWine() && !identity.user.empty()) {
    EXPECT_EQ(executable_clause, identity.unknown_why);
    GTEST_SKIP() << "Wine opens a process's token through any handle to the process: the refused "
                    "token is not shown";
  }
  EXPECT_EQ(L"", identity.user);
  EXPECT_EQ(executable_clause + L"; the user of process 4242 cannot be read (error 5)",
            identity.unknown_why);
}

TEST(CanonicalUser, NormalisesSidStringsAndRefusesMalformedOnes) {
  std::wstring canonical;
  std::wstring problem;
  ASSERT_TRUE(CanonicalUser(L"S-1-5-18", &canonical, &problem)) << WideToNarrow(problem);
  EXPECT_EQ(L"S-1-5-18", canonical);
  const std::wstring own = OwnUserSid();
  ASSERT_TRUE(CanonicalUser(own, &canonical, &problem)) << WideToNarrow(problem);
  EXPECT_EQ(own, canonical);
  problem.clear();
  EXPECT_FALSE(CanonicalUser(L"S-1-five-18", &canonical, &problem));
  EXPECT_EQ(0u, problem.find(L"S-1-five-18 is not a valid SID (error ")) << WideToNarrow(problem);
}

TEST(CanonicalUser, LooksAccountNamesUpAndRefusesGroupsAndUnknownNames) {
  wchar_t name[257] = {};
  DWORD length = 257;
  ASSERT_TRUE(::GetUserNameW(name, &length));
  std::wstring canonical;
  std::wstring problem;
  ASSERT_TRUE(CanonicalUser(name, &canonical, &problem)) << WideToNarrow(problem);
  EXPECT_EQ(OwnUserSid(), canonical);

  // Qualified with this computer's name, so that only the local accounts are asked.
  const std::wstring unknown = ComputerName() + L"\\vexil-no-such-account-72";
  problem.clear();
  EXPECT_FALSE(CanonicalUser(unknown, &canonical, &problem));
  EXPECT_EQ(0u, problem.find(L"no account named " + unknown + L" (error "))
      << WideToNarrow(problem);

  // The local Administrators group, by whatever name this system's language gives it.
  PSID administrators = nullptr;
  ASSERT_TRUE(::ConvertStringSidToSidW(L"S-1-5-32-544", &administrators));
  const std::unique_ptr<void, LocalFreeRelease> owned(administrators);
  wchar_t group[256] = {};
  DWORD group_length = 256;
  wchar_t domain[256] = {};
  DWORD domain_length = 256;
  SID_NAME_USE use = SidTypeUnknown;
  ASSERT_TRUE(::LookupAccountSidW(nullptr, owned.get(), group, &group_length, domain,
                                  &domain_length, &use));
  problem.clear();
  EXPECT_FALSE(CanonicalUser(group, &canonical, &problem));
  EXPECT_TRUE(Contains(problem, L"names a group or a domain, not a user")) << WideToNarrow(problem);
}

TEST(CanonicalExecutable, ResolvesDotsAndSeparators) {
  EXPECT_EQ(L"C:\\b\\x.exe", CanonicalExecutable(L"C:\\a\\..\\b\\x.exe"));
  EXPECT_EQ(L"C:\\b\\x.exe", CanonicalExecutable(L"C:/b/./x.exe"));
  EXPECT_EQ(L"", CanonicalExecutable(L""));
}

TEST(SameExecutable, IgnoresCaseOnlyCharacterByCharacter) {
  EXPECT_TRUE(SameExecutable(L"C:\\Games\\Agent.EXE", L"c:\\games\\agent.exe"));
  // Case beyond ASCII: the system's case table, not an ASCII fold.
  EXPECT_TRUE(SameExecutable(L"C:\\\u00C4gent\\a.exe", L"C:\\\u00E4GENT\\A.EXE"));
  EXPECT_FALSE(SameExecutable(L"C:\\b\\x.exe", L"C:\\b\\y.exe"));
  EXPECT_FALSE(SameExecutable(L"C:\\b\\x.exe", L"C:\\b\\x.exe2"));
  EXPECT_FALSE(SameExecutable(L"", L"C:\\b\\x.exe"));
  EXPECT_TRUE(kPeerServiceCheckable);
}

}  // namespace
}  // namespace vexil
