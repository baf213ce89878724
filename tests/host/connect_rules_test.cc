#include "host/connect_rules.h"

#include <gtest/gtest.h>

namespace vexil {
namespace {

TEST(ConnectRules, ShortAddressesFallBackToLoopback) {
  EXPECT_EQ(L"127.0.0.1", AgentAddress(L""));
  EXPECT_EQ(L"127.0.0.1", AgentAddress(L"1.2.3.4"));
  EXPECT_EQ(L"10.1.2.3", AgentAddress(L"10.1.2.3"));
  EXPECT_EQ(L"127.0.0.9", AgentAddress(L"127.0.0.9"));
}

TEST(ConnectRules, BaseNameLiesBetweenTheLastBackslashAndTheLastDot) {
  EXPECT_EQ(L"game.server", ExecutableBaseName(L"C:\\srv\\game.server.exe"));
  EXPECT_EQ(L"game", ExecutableBaseName(L"C:\\srv.d\\game.exe"));
  EXPECT_EQ(L"", ExecutableBaseName(L"C:\\srv\\game"));
  EXPECT_EQ(L"", ExecutableBaseName(L"C:\\srv.d\\game")) << "the dot must follow the backslash";
  EXPECT_EQ(L"game", ExecutableBaseName(L"game.exe"));
  EXPECT_EQ(L"", ExecutableBaseName(L""));
  const std::wstring long_name(300, L'x');
  EXPECT_EQ(long_name, ExecutableBaseName(L"C:\\" + long_name + L".exe")) << "no cut";
}

TEST(ConnectRules, PosixNameIsTheWholeFileNameUnlessItHasAnExtension) {
  EXPECT_EQ(L"gameserver", PosixExecutableName(L"/srv/game.d/gameserver"))
      << "no extension: the whole name, never empty";
  EXPECT_EQ(L"game.server", PosixExecutableName(L"/srv/game.server.bin"));
  EXPECT_EQ(L".hidden", PosixExecutableName(L"/srv/.hidden"));
  EXPECT_EQ(L"game", PosixExecutableName(L"game"));
  EXPECT_EQ(L"", PosixExecutableName(L"/srv/"));
}

}  // namespace
}  // namespace vexil
