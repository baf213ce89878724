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

}  // namespace
}  // namespace vexil
