// game: a minimal host that uses VexilConn as installed, to prove the package works. The same
// source builds a Windows host (game.exe, wmain) and a Linux one (game, main).
//
//   game -GSID:7 -HAPORT:8990 -HAIP:127.0.0.1 -CNFGFILE:game.ini
//
// Drives the exports; with CONSUMER_CHECK_VERSION it first checks the loaded library's version
// against the package version. Built with CONSUMER_WITH_AGENT it connects to an HA agent, answers
// a statistics request, sends a warning, waits for the agent's check request that follows it and
// stops. Prints what it saw; exits 0 when everything held.
#ifdef _WIN32
#include <windows.h>
#else
#include <link.h>

#include <climits>
#include <clocale>
#include <cstdlib>
#include <cstring>
#endif

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <vexilconn/vexilconn.h>

namespace {

#ifdef CONSUMER_CHECK_VERSION
#ifdef _WIN32
constexpr char kLibrary[] = "VexilConn.dll";

// The version resource of the loaded VexilConn.dll as "major.minor.patch", or empty.
std::string LibraryVersion() {
  wchar_t path[MAX_PATH] = {};
  const HMODULE module = GetModuleHandleW(L"VexilConn.dll");
  if (module == nullptr || GetModuleFileNameW(module, path, MAX_PATH) == 0) return {};
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &handle);
  if (size == 0) return {};
  std::vector<unsigned char> info(size);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!GetFileVersionInfoW(path, 0, size, info.data()) ||
      !VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) ||
      fixed == nullptr) {
    return {};
  }
  return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
         std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
         std::to_string(HIWORD(fixed->dwFileVersionLS));
}
#else
constexpr char kLibrary[] = "libvexilconn.so";

// The loaded libvexilconn.so's file, its soname link followed, as an absolute path, or empty.
std::string LibraryPath() {
  std::string path;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* found) {
        if (std::strstr(info->dlpi_name, "/libvexilconn.so") == nullptr) return 0;
        char real[PATH_MAX];
        if (realpath(info->dlpi_name, real) != nullptr) *static_cast<std::string*>(found) = real;
        return 1;
      },
      &path);
  return path;
}

// The version in the loaded library's file name libvexilconn.so.VERSION, or empty.
std::string LibraryVersion() {
  const std::string path = LibraryPath();
  std::printf("loaded %s\n", path.c_str());
  const std::string prefix = "/libvexilconn.so.";
  const size_t at = path.rfind(prefix);
  return at == std::string::npos ? std::string() : path.substr(at + prefix.size());
}
#endif
#endif

bool Check(bool condition, const char* what) {
  std::printf("%s: %s\n", condition ? "ok" : "FAILED", what);
  return condition;
}

#ifdef CONSUMER_WITH_AGENT
// Answers a statistics request with one entry; declines or ignores everything else.
class Game final : public vexil::HostCallback {
 public:
  // Declined: the agent's check only tells the host that the warning arrived.
  int OnCheckRequest(int32_t value) override {
    last_check_.store(value);
    return 0;
  }
  int OnOrder(const char*, const char*, char*, int32_t*, uint32_t, uint32_t) override { return 1; }
  int OnCommand(uint32_t, uint32_t, const char*) override { return 0; }
  int OnCountsRequest(vexil::CountsSink*) override { return 0; }
  int OnRegionRequest(vexil::RegionSink*) override { return 0; }
  int OnStatRequest(vexil::StatSink* sink) override {
    sink->AddStat(1, 2, 10, 20, 30, 40, "players");
    stat_requests_.fetch_add(1);
    return 0;
  }
  int OnRegionRequestExtra(vexil::RegionExtraSink*) override { return 0; }
  int OnStatRequestExtra(vexil::StatExtraSink*) override { return 0; }

  int stat_requests() const { return stat_requests_.load(); }
  int32_t last_check() const { return last_check_.load(); }

 private:
  std::atomic<int> stat_requests_{0};
  std::atomic<int32_t> last_check_{0};
};

// Polls until done() holds or the time is up; the connector's first attempt comes after 5 s.
template <typename Done>
bool WaitFor(Done done) {
  for (int i = 0; i < 300 && !done(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return done();
}
#endif

int Run(int argc, const wchar_t* const* argv) {
  bool good = true;
#ifdef CONSUMER_CHECK_VERSION
  const std::string version = LibraryVersion();
  const std::string claim = std::string(kLibrary) + " version \"" + version +
                            "\" is the package's " + CONSUMER_PACKAGE_VERSION;
  good &= Check(version == CONSUMER_PACKAGE_VERSION, claim.c_str());
#endif
  good &= Check(VexilGetStatus() == vexil::StatusIdle, "status is idle before start");
  good &= Check(VexilGetConfigFileName() == 0, "VexilGetConfigFileName returns 0");
  good &= Check(VexilInitConn(argc, argv) == vexil::kInitOk, "VexilInitConn accepts the options");
#ifdef CONSUMER_WITH_AGENT
  Game game;
  good &= Check(VexilRunConn(&game) == vexil::kRunStarted, "VexilRunConn starts the worker");
  good &= Check(WaitFor([] { return VexilGetStatus() == vexil::StatusConnected; }),
                "connected and registered");
  good &= Check(WaitFor([&game] { return game.stat_requests() > 0; }),
                "the agent's statistics request reached the host");
  good &= Check(VexilSendWarningMsg(3, "consumer warning", "from the consumer", 1, 2) ==
                    vexil::kWarningQueued,
                "warning queued");
  good &= Check(WaitFor([&game] { return game.last_check() == 9; }),
                "the agent's check request after the warning reached the host");
  VexilStopConn();
#endif
  std::printf("%s\n", good ? "consumer passed" : "consumer FAILED");
  return good ? 0 : 1;
}

}  // namespace

#ifdef _WIN32
// wmain: the host passes its own wide command line on, as the library expects.
int wmain(int argc, wchar_t** argv) { return Run(argc, argv); }
#else
// A Linux host converts its command line from the locale's encoding to wide text.
int main(int argc, char** argv) {
  std::setlocale(LC_CTYPE, "");
  std::vector<std::wstring> wide(argc);
  for (int i = 0; i < argc; ++i) {
    const size_t length = std::mbstowcs(nullptr, argv[i], 0);
    if (length == static_cast<size_t>(-1)) continue;
    wide[i].resize(length);
    std::mbstowcs(wide[i].data(), argv[i], length);
  }
  std::vector<const wchar_t*> wide_argv;
  for (const std::wstring& arg : wide) wide_argv.push_back(arg.c_str());
  return Run(argc, wide_argv.data());
}
#endif
