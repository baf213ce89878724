#include "net/peer_identity_win.h"
#include "net/peer_identity.h"

#include "sync/win32.h"

// After <windows.h>.
#include <iphlpapi.h>
#include <sddl.h>

#include <climits>
#include <cstddef>
#include <memory>
#include <type_traits>
#include <vector>

#include "util/strings.h"

namespace vexil {
namespace {

// Every handle and allocation below has one owner, which releases it.
struct LocalMemoryRelease {
  void operator()(void* memory) const { ::LocalFree(memory); }
};
template <typename T>
using LocalMemory = std::unique_ptr<T, LocalMemoryRelease>;

struct KernelHandleClose {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using KernelHandle = std::unique_ptr<void, KernelHandleClose>;

struct ServiceHandleClose {
  void operator()(SC_HANDLE handle) const { ::CloseServiceHandle(handle); }
};
using ServiceHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ServiceHandleClose>;

// Room for a structure the system fills, aligned for any of its members (pointers included).
class SystemRecord {
 public:
  void Resize(DWORD bytes) { words_.resize((static_cast<size_t>(bytes) + 7) / 8); }
  DWORD size() const { return static_cast<DWORD>(words_.size() * 8); }
  template <typename T>
  T* As() {
    return reinterpret_cast<T*>(words_.data());
  }

 private:
  std::vector<uint64_t> words_;
};

void AddReason(PeerIdentity* identity, const std::wstring& clause) {
  if (!identity->unknown_why.empty()) identity->unknown_why += L"; ";
  identity->unknown_why += clause;
}

std::wstring EndpointText(const sockaddr_in& end) {
  const uint32_t address = ::ntohl(end.sin_addr.s_addr);
  return FormatString(L"%u.%u.%u.%u:%u", address >> 24, (address >> 16) & 0xFF,
                      (address >> 8) & 0xFF, address & 0xFF, ::ntohs(end.sin_port));
}

// The TCP table row for one connection, looked up by its two ends.
struct TcpRowQuery {
  sockaddr_in local;   // the row's local end: the agent's
  sockaddr_in remote;  // the row's remote end: ours
};

enum class RowResult { kFound, kNoRow, kTableFailed };

// Reads the IPv4 TCP table with owning process ids and finds the connection's row. A first
// buffer with room for a typical table saves the size query (each read walks the whole table);
// the table can grow between reads, so a refused read is retried a few times with room to spare.
RowResult FindTcpRowOwner(const TcpRowQuery& query, DWORD* owner, DWORD* error) {
  constexpr int kMostReads = 4;
  constexpr DWORD kSpareRows = 64;
  SystemRecord table;
  DWORD size = sizeof(MIB_TCPTABLE_OWNER_PID) + 4 * kSpareRows * sizeof(MIB_TCPROW_OWNER_PID);
  DWORD result = ERROR_INSUFFICIENT_BUFFER;
  for (int read = 0; read < kMostReads && result == ERROR_INSUFFICIENT_BUFFER; ++read) {
    table.Resize(size);
    size = table.size();
    result =
        ::GetExtendedTcpTable(table.As<void>(), &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0);
    if (result == ERROR_INSUFFICIENT_BUFFER) size += kSpareRows * sizeof(MIB_TCPROW_OWNER_PID);
  }
  if (result != NO_ERROR) {
    *error = result;
    return RowResult::kTableFailed;
  }
  const MIB_TCPTABLE_OWNER_PID* rows = table.As<MIB_TCPTABLE_OWNER_PID>();
  for (DWORD index = 0; index < rows->dwNumEntries; ++index) {
    const MIB_TCPROW_OWNER_PID& row = rows->table[index];
    // The ports are in network byte order in the low 16 bits; the rest is not to be relied on.
    if (row.dwLocalAddr == query.local.sin_addr.s_addr &&
        static_cast<u_short>(row.dwLocalPort) == query.local.sin_port &&
        row.dwRemoteAddr == query.remote.sin_addr.s_addr &&
        static_cast<u_short>(row.dwRemotePort) == query.remote.sin_port) {
      *owner = row.dwOwningPid;
      return RowResult::kFound;
    }
  }
  return RowResult::kNoRow;
}

// Where the row's lookup failed, as a clause; empty when found.
std::wstring RowProblem(RowResult result, DWORD error, const TcpRowQuery& query) {
  const std::wstring ends = EndpointText(query.local) + L" -> " + EndpointText(query.remote);
  switch (result) {
    case RowResult::kFound:
      return std::wstring();
    case RowResult::kNoRow:
      return L"no TCP table row for " + ends;
    case RowResult::kTableFailed:
      break;
  }
  return FormatString(L"the TCP table cannot be read (error %lu) for %ls",
                      static_cast<unsigned long>(error), ends.c_str());
}

// The Win32 path of the process's executable; empty with *error on failure.
std::wstring ProcessImagePath(HANDLE process, DWORD* error) {
  // A path can be longer than MAX_PATH; the system says so with ERROR_INSUFFICIENT_BUFFER.
  for (DWORD capacity = MAX_PATH; capacity <= 32768; capacity *= 4) {
    std::wstring path(capacity, L'\0');
    DWORD length = capacity;
    if (::QueryFullProcessImageNameW(process, 0, &path[0], &length)) {
      path.resize(length);
      return path;
    }
    *error = ::GetLastError();
    if (*error != ERROR_INSUFFICIENT_BUFFER) break;
  }
  return std::wstring();
}

// The SID as a string ("S-1-5-..."); empty with *error on failure.
std::wstring SidText(PSID sid, DWORD* error) {
  wchar_t* text = nullptr;
  if (!::ConvertSidToStringSidW(sid, &text)) {
    *error = ::GetLastError();
    return std::wstring();
  }
  const LocalMemory<wchar_t> owned(text);
  return std::wstring(owned.get());
}

// The SID string of the user of the process's token; empty with *error on failure.
std::wstring ProcessUser(HANDLE process, DWORD* error) {
  HANDLE token_handle = nullptr;
  if (!::OpenProcessToken(process, TOKEN_QUERY, &token_handle)) {
    *error = ::GetLastError();
    return std::wstring();
  }
  const KernelHandle token(token_handle);
  DWORD size = 0;
  ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  if (size == 0) {
    *error = ::GetLastError();
    return std::wstring();
  }
  SystemRecord user;
  user.Resize(size);
  if (!::GetTokenInformation(token.get(), TokenUser, user.As<void>(), user.size(), &size)) {
    *error = ::GetLastError();
    return std::wstring();
  }
  return SidText(user.As<TOKEN_USER>()->User.Sid, error);
}

// Whether the service runs in process_id; when not, or when that cannot be told, *why says so.
bool IsServiceProcess(const std::wstring& service, DWORD process_id, std::wstring* why) {
  const ServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    *why = FormatString(L"the service manager cannot be opened (error %lu)",
                        static_cast<unsigned long>(::GetLastError()));
    return false;
  }
  const ServiceHandle handle(::OpenServiceW(manager.get(), service.c_str(), SERVICE_QUERY_STATUS));
  if (!handle) {
    const DWORD error = ::GetLastError();
    *why = error == ERROR_SERVICE_DOES_NOT_EXIST
               ? FormatString(L"there is no service %ls", service.c_str())
               : FormatString(L"service %ls cannot be opened (error %lu)", service.c_str(),
                              static_cast<unsigned long>(error));
    return false;
  }
  SERVICE_STATUS_PROCESS status = {};
  DWORD needed = 0;
  if (!::QueryServiceStatusEx(handle.get(), SC_STATUS_PROCESS_INFO,
                              reinterpret_cast<BYTE*>(&status), sizeof(status), &needed)) {
    *why = FormatString(L"the status of service %ls cannot be read (error %lu)", service.c_str(),
                        static_cast<unsigned long>(::GetLastError()));
    return false;
  }
  if (status.dwCurrentState != SERVICE_RUNNING) {
    *why = FormatString(L"service %ls is not running", service.c_str());
    return false;
  }
  if (status.dwProcessId != process_id) {
    *why = FormatString(L"service %ls runs as process %lu, not the agent's process %lu",
                        service.c_str(), static_cast<unsigned long>(status.dwProcessId),
                        static_cast<unsigned long>(process_id));
    return false;
  }
  return true;
}

}  // namespace

void DescribePeerProcess(void* process, uint32_t process_id, const PeerQuery& query,
                         PeerIdentity* identity) {
  DWORD error = 0;
  identity->process_id = process_id;
  if (query.executable) {
    identity->executable = ProcessImagePath(process, &error);
    if (identity->executable.empty()) {
      AddReason(identity, FormatString(L"the executable of process %lu cannot be read (error %lu)",
                                       static_cast<unsigned long>(process_id),
                                       static_cast<unsigned long>(error)));
    }
  }
  if (query.user) {
    identity->user = ProcessUser(process, &error);
    if (identity->user.empty()) {
      AddReason(identity, FormatString(L"the user of process %lu cannot be read (error %lu)",
                                       static_cast<unsigned long>(process_id),
                                       static_cast<unsigned long>(error)));
    }
  }
  if (!query.service.empty()) {
    // Still holding the process: the service's process id cannot name another process.
    std::wstring why;
    identity->is_service = IsServiceProcess(query.service, process_id, &why);
    if (!identity->is_service) AddReason(identity, why);
  }
}

void LookUpPeer(SOCKET handle, const PeerQuery& query, PeerIdentity* identity) {
  *identity = PeerIdentity();
  sockaddr_in ours = {};
  sockaddr_in theirs = {};
  int ours_length = sizeof(ours);
  int theirs_length = sizeof(theirs);
  if (::getsockname(handle, reinterpret_cast<sockaddr*>(&ours), &ours_length) != 0 ||
      ::getpeername(handle, reinterpret_cast<sockaddr*>(&theirs), &theirs_length) != 0) {
    AddReason(identity, FormatString(L"the connection's ends cannot be read (error %d)",
                                     ::WSAGetLastError()));
    return;
  }
  if (ours.sin_family != AF_INET || theirs.sin_family != AF_INET) {
    AddReason(identity, L"the connection is not IPv4");
    return;
  }
  // The agent's row in the table: its local end is our far end, its remote end is ours.
  const TcpRowQuery row = {theirs, ours};
  DWORD process_id = 0;
  DWORD error = 0;
  RowResult result = FindTcpRowOwner(row, &process_id, &error);
  if (result != RowResult::kFound) {
    AddReason(identity, RowProblem(result, error, row));
    return;
  }
  if (process_id == 0) {
    AddReason(identity, L"the TCP table names no process for " + EndpointText(row.local) + L" -> " +
                            EndpointText(row.remote));
    return;
  }
  const KernelHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
  if (!process) {
    AddReason(identity, FormatString(L"the agent's process %lu cannot be opened (error %lu)",
                                     static_cast<unsigned long>(process_id),
                                     static_cast<unsigned long>(::GetLastError())));
    return;
  }
  // The process id may have been reused between the table read and the open: while the handle is
  // held it cannot be, so the row read again says whether the open process is the owner.
  DWORD owner_now = 0;
  result = FindTcpRowOwner(row, &owner_now, &error);
  if (result == RowResult::kNoRow) {
    AddReason(identity, L"the TCP table row for " + EndpointText(row.local) + L" -> " +
                            EndpointText(row.remote) + L" went away while it was looked up");
    return;
  }
  if (result != RowResult::kFound) {
    AddReason(identity, RowProblem(result, error, row));
    return;
  }
  if (owner_now != process_id) {
    AddReason(identity, FormatString(L"the owner of the connection changed from process %lu to "
                                     L"%lu while it was looked up",
                                     static_cast<unsigned long>(process_id),
                                     static_cast<unsigned long>(owner_now)));
    return;
  }
  DescribePeerProcess(process.get(), process_id, query, identity);
}

bool CanonicalUser(const std::wstring& name, std::wstring* canonical, std::wstring* problem) {
  DWORD error = 0;
  if (name.compare(0, 2, L"S-") == 0) {
    PSID sid = nullptr;
    if (!::ConvertStringSidToSidW(name.c_str(), &sid)) {
      *problem = FormatString(L"%ls is not a valid SID (error %lu)", name.c_str(),
                              static_cast<unsigned long>(::GetLastError()));
      return false;
    }
    const LocalMemory<void> owned(sid);
    *canonical = SidText(owned.get(), &error);
  } else {
    // Two calls: the first only gives the sizes of the SID and of the domain name.
    DWORD sid_size = 0;
    DWORD domain_length = 0;
    SID_NAME_USE use = SidTypeUnknown;
    ::LookupAccountNameW(nullptr, name.c_str(), nullptr, &sid_size, nullptr, &domain_length, &use);
    error = ::GetLastError();
    if (sid_size == 0 || error != ERROR_INSUFFICIENT_BUFFER) {
      *problem = FormatString(L"no account named %ls (error %lu)", name.c_str(),
                              static_cast<unsigned long>(error));
      return false;
    }
    SystemRecord sid;
    sid.Resize(sid_size);
    std::wstring domain(domain_length, L'\0');
    if (!::LookupAccountNameW(nullptr, name.c_str(), sid.As<void>(), &sid_size, &domain[0],
                              &domain_length, &use)) {
      *problem = FormatString(L"no account named %ls (error %lu)", name.c_str(),
                              static_cast<unsigned long>(::GetLastError()));
      return false;
    }
    // A process's token names a user; a group, an alias or a domain can never match one.
    if (use == SidTypeGroup || use == SidTypeAlias || use == SidTypeDomain) {
      *problem = FormatString(L"%ls names a group or a domain, not a user", name.c_str());
      return false;
    }
    *canonical = SidText(sid.As<void>(), &error);
  }
  if (canonical->empty()) {
    *problem = FormatString(L"the SID of %ls cannot be written as text (error %lu)", name.c_str(),
                            static_cast<unsigned long>(error));
    return false;
  }
  return true;
}

std::wstring CanonicalExecutable(const std::wstring& path) {
  if (path.empty()) return path;
  // Two calls: the first gives the length with the terminating NUL, the second without.
  const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::wstring full(needed, L'\0');
  const DWORD length = ::GetFullPathNameW(path.c_str(), needed, &full[0], nullptr);
  if (length == 0 || length >= needed) return path;
  full.resize(length);
  return full;
}

bool SameExecutable(const std::wstring& found, const std::wstring& expected) {
  if (found.size() > INT_MAX || expected.size() > INT_MAX) return false;
  return ::CompareStringOrdinal(found.c_str(), static_cast<int>(found.size()), expected.c_str(),
                                static_cast<int>(expected.size()), TRUE) == CSTR_EQUAL;
}

const bool kPeerServiceCheckable = true;

}  // namespace vexil
