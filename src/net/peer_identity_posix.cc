#include "net/peer_identity.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/tcp.h>
#include <pwd.h>
#include <sys/time.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "net/peer_identity_posix.h"
#include "sync/code_page.h"
#include "util/strings.h"

namespace vexil {

namespace {

// Owns one descriptor and closes it once.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

 private:
  int fd_;
};

// Owns a directory stream, and through it the descriptor it was opened on.
struct DirectoryCloser {
  void operator()(DIR* directory) const { ::closedir(directory); }
};
using Directory = std::unique_ptr<DIR, DirectoryCloser>;

// Opens name (relative to at, or absolute) as a directory stream; null on failure.
Directory OpenDirectoryAt(int at, const char* name) {
  const int fd = ::openat(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  DIR* directory = ::fdopendir(fd);
  if (directory == nullptr) ::close(fd);  // fdopendir took nothing over
  return Directory(directory);
}

// The target of the link name under at, or empty.
std::string ReadLinkAt(int at, const char* name) {
  char target[PATH_MAX];
  const ssize_t length = ::readlinkat(at, name, target, sizeof target);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof target) return std::string();
  return std::string(target, static_cast<size_t>(length));
}

std::string ErrorText(int error) {
  char text[128];
  return std::string(::strerror_r(error, text, sizeof text));
}

std::string EndText(uint32_t address, uint16_t port) {
  char dotted[INET_ADDRSTRLEN] = "?";
  in_addr value = {};
  value.s_addr = address;
  ::inet_ntop(AF_INET, &value, dotted, sizeof dotted);
  return FormatString("%s:%u", dotted, static_cast<unsigned>(port));
}

// "A:a -> B:b", the socket's own end first.
std::string EndsText(const TcpEnds& ends) {
  return EndText(ends.local_address, ends.local_port) + " -> " +
         EndText(ends.remote_address, ends.remote_port);
}

// The uid the kernel reports for a user that is not mapped in the reader's user namespace.
uint32_t OverflowUid() {
  static const uint32_t overflow = [] {
    uint32_t value = 65534;
    const FileDescriptor file(::open("/proc/sys/kernel/overflowuid", O_RDONLY | O_CLOEXEC));
    char text[16] = {};
    if (file.valid() && ::read(file.get(), text, sizeof text - 1) > 0) {
      char* end = nullptr;
      const unsigned long parsed = std::strtoul(text, &end, 10);
      if (end != text && parsed <= UINT32_MAX) value = static_cast<uint32_t>(parsed);
    }
    return value;
  }();
  return overflow;
}

// Strict parsers for the table's fields: the whole text, nothing left over, in range.
bool ParseHex(const char* begin, size_t length, uint32_t* value) {
  if (length == 0 || length > 8) return false;
  uint32_t result = 0;
  for (size_t i = 0; i < length; ++i) {
    const char c = begin[i];
    uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<uint32_t>(c - 'A' + 10);
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<uint32_t>(c - 'a' + 10);
    } else {
      return false;
    }
    result = (result << 4) | digit;
  }
  *value = result;
  return true;
}

bool ParseDecimal(const std::string& text, uint64_t limit, uint64_t* value) {
  if (text.empty() || text.size() > 20) return false;
  uint64_t result = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (result > (limit - digit) / 10) return false;
    result = result * 10 + digit;
  }
  *value = result;
  return true;
}

// "AAAAAAAA:PPPP" as the kernel prints a socket end: the raw network-order address read as a
// host 32-bit value, then the port in host order.
bool ParseTableEnd(const std::string& text, uint32_t* address, uint16_t* port) {
  uint32_t port_value = 0;
  if (text.size() != 13 || text[8] != ':' || !ParseHex(text.data(), 8, address) ||
      !ParseHex(text.data() + 9, 4, &port_value)) {
    return false;
  }
  *port = static_cast<uint16_t>(port_value);
  return true;
}

std::vector<std::string> SplitFields(const std::string& line) {
  std::vector<std::string> fields;
  size_t at = 0;
  while (at < line.size()) {
    const size_t begin = line.find_first_not_of(" \t", at);
    if (begin == std::string::npos) break;
    size_t end = line.find_first_of(" \t", begin);
    if (end == std::string::npos) end = line.size();
    fields.push_back(line.substr(begin, end - begin));
    at = end;
  }
  return fields;
}

// Reads the whole file; false with *failure on an error.
bool ReadWholeFile(const char* path, std::string* contents, std::string* failure) {
  const FileDescriptor file(::open(path, O_RDONLY | O_CLOEXEC));
  if (!file.valid()) {
    *failure = std::string(path) + " cannot be read: " + ErrorText(errno);
    return false;
  }
  char chunk[16384];
  for (;;) {
    const ssize_t n = ::read(file.get(), chunk, sizeof chunk);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      *failure = std::string(path) + " cannot be read: " + ErrorText(errno);
      return false;
    }
    contents->append(chunk, static_cast<size_t>(n));
  }
}

// NLMSG_OK, without comparing the signed length with the unsigned one: the length stays signed
// because NLMSG_NEXT may take it below zero past the last message.
bool MessageFits(const nlmsghdr* message, int remaining) {
  return remaining >= static_cast<int>(sizeof(nlmsghdr)) &&
         message->nlmsg_len >= sizeof(nlmsghdr) &&
         message->nlmsg_len <= static_cast<unsigned int>(remaining);
}

// Whether the uid is a user of this namespace, else the clause saying why not.
bool MappedUser(uint32_t uid, std::string* why) {
  if (uid != OverflowUid()) return true;
  *why = "the agent's uid is not mapped in this user namespace";
  return false;
}

}  // namespace

SocketSearch FindSocketByNetlink(const TcpEnds& ends, SocketRecord* record, std::string* failure,
                                 SocketRole role) {
  const bool listener = role == SocketRole::kListener;
  const FileDescriptor channel(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
  if (!channel.valid()) {
    *failure = "netlink refused: " + ErrorText(errno);
    return SocketSearch::kUnavailable;
  }
  // The kernel answers an exact lookup at once; the bound only keeps a host from hanging on a
  // kernel that never does.
  const timeval timeout = {1, 0};
  if (::setsockopt(channel.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0) {
    *failure = "netlink refused a receive timeout: " + ErrorText(errno);
    return SocketSearch::kUnavailable;
  }

  constexpr uint32_t kSequence = 1;
  struct {
    nlmsghdr header;
    inet_diag_req_v2 body;
  } request = {};
  request.header.nlmsg_len = sizeof request;
  request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  request.header.nlmsg_flags = NLM_F_REQUEST;
  request.header.nlmsg_seq = kSequence;
  request.body.sdiag_family = AF_INET;
  request.body.sdiag_protocol = IPPROTO_TCP;
  request.body.idiag_states = ~0u;
  request.body.id.idiag_src[0] = ends.local_address;
  request.body.id.idiag_sport = htons(ends.local_port);
  // A listener is found by its own address and port alone: the lookup of a pair that no
  // connection has falls back to the listener there.
  request.body.id.idiag_dst[0] = listener ? 0 : ends.remote_address;
  request.body.id.idiag_dport = listener ? 0 : htons(ends.remote_port);
  request.body.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  request.body.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;

  sockaddr_nl kernel = {};
  kernel.nl_family = AF_NETLINK;
  if (::sendto(channel.get(), &request, sizeof request, 0, reinterpret_cast<sockaddr*>(&kernel),
               sizeof kernel) != static_cast<ssize_t>(sizeof request)) {
    *failure = "netlink refused the request: " + ErrorText(errno);
    return SocketSearch::kUnavailable;
  }

  // One socket's record without attributes, or an error message: far below this.
  alignas(nlmsghdr) char reply[8192];
  sockaddr_nl sender = {};
  socklen_t sender_length = sizeof sender;
  ssize_t length;
  do {
    length = ::recvfrom(channel.get(), reply, sizeof reply, 0, reinterpret_cast<sockaddr*>(&sender),
                        &sender_length);
  } while (length < 0 && errno == EINTR);
  if (length < 0) {
    *failure = "netlink did not answer: " + ErrorText(errno);
    return SocketSearch::kUnavailable;
  }
  if (sender.nl_pid != 0) {
    *failure = "netlink answer not from the kernel";
    return SocketSearch::kUnavailable;
  }
  int remaining = static_cast<int>(length);
  for (const nlmsghdr* message = reinterpret_cast<const nlmsghdr*>(reply);
       MessageFits(message, remaining); message = NLMSG_NEXT(message, remaining)) {
    if (message->nlmsg_seq != kSequence) continue;
    if (message->nlmsg_type == NLMSG_ERROR) {
      if (message->nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr))) break;
      const int error = -static_cast<const nlmsgerr*>(NLMSG_DATA(message))->error;
      // ENOENT is both "no such socket" and "no TCP diagnostics in this kernel".
      *failure = error == ENOENT ? "no socket owns " + EndsText(ends) + " (netlink)"
                                 : "netlink refused the lookup: " + ErrorText(error);
      return SocketSearch::kUnavailable;
    }
    if (message->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
        message->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
      continue;
    }
    const auto* found = static_cast<const inet_diag_msg*>(NLMSG_DATA(message));
    // An exact lookup that misses the connection can still return the listener on the same
    // local port: only a socket with both ends as asked is the agent's.
    const bool matches =
        found->idiag_family == AF_INET && ntohs(found->id.idiag_sport) == ends.local_port &&
        (listener
             ? found->idiag_state == TCP_LISTEN && (found->id.idiag_src[0] == ends.local_address ||
                                                    found->id.idiag_src[0] == INADDR_ANY)
             : found->id.idiag_src[0] == ends.local_address &&
                   found->id.idiag_dst[0] == ends.remote_address &&
                   ntohs(found->id.idiag_dport) == ends.remote_port);
    if (!matches) {
      *failure = "no socket owns " + EndsText(ends) + " (netlink)";
      return SocketSearch::kAbsent;
    }
    // Accepted by nobody yet: it has no inode of its own until the listener's owner accepts it.
    if (found->idiag_inode == 0 && !listener && found->idiag_state == TCP_ESTABLISHED) {
      return SocketSearch::kQueued;
    }
    // Closing and time-wait sockets report inode 0 and uid 0: owned by no process, and their
    // uid must never pass for root's.
    if (found->idiag_inode == 0) {
      *failure = "the socket " + EndsText(ends) + " is closed (netlink)";
      return SocketSearch::kAbsent;
    }
    record->uid = found->idiag_uid;
    record->inode = found->idiag_inode;
    return SocketSearch::kFound;
  }
  *failure = "netlink answer not understood";
  return SocketSearch::kUnavailable;
}

SocketSearch FindSocketInTable(const char* path, const TcpEnds& ends, SocketRecord* record,
                               std::string* failure, SocketRole role) {
  const bool listener = role == SocketRole::kListener;
  // The table's states, in hex as the kernel prints them.
  constexpr uint32_t kEstablished = 0x01, kListen = 0x0A;
  std::string table;
  if (!ReadWholeFile(path, &table, failure)) return SocketSearch::kUnavailable;
  // sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout inode ...
  constexpr size_t kLocal = 1, kRemote = 2, kState = 3, kUid = 7, kInode = 9;
  size_t at = 0;
  while (at < table.size()) {
    size_t end = table.find('\n', at);
    if (end == std::string::npos) end = table.size();
    const std::vector<std::string> fields = SplitFields(table.substr(at, end - at));
    at = end + 1;
    if (fields.size() <= kInode) continue;
    TcpEnds row;
    uint32_t state = 0;
    uint64_t uid = 0, inode = 0;
    if (!ParseTableEnd(fields[kLocal], &row.local_address, &row.local_port) ||
        !ParseTableEnd(fields[kRemote], &row.remote_address, &row.remote_port) ||
        fields[kState].size() != 2 || !ParseHex(fields[kState].data(), 2, &state) ||
        !ParseDecimal(fields[kUid], UINT32_MAX, &uid) ||
        !ParseDecimal(fields[kInode], UINT64_MAX, &inode)) {
      continue;  // the heading, or a row this parser does not understand
    }
    const bool matches = row.local_port == ends.local_port &&
                         (listener ? state == kListen && (row.local_address == ends.local_address ||
                                                          row.local_address == INADDR_ANY)
                                   : row.local_address == ends.local_address &&
                                         row.remote_address == ends.remote_address &&
                                         row.remote_port == ends.remote_port);
    if (!matches) continue;
    // As over netlink: established without an inode waits to be accepted; a time-wait row's
    // uid 0 and inode 0 are no owner.
    if (inode == 0 && !listener && state == kEstablished) return SocketSearch::kQueued;
    if (inode == 0) continue;
    record->uid = static_cast<uint32_t>(uid);
    record->inode = inode;
    return SocketSearch::kFound;
  }
  *failure = "no socket owns " + EndsText(ends) + " (" + path + ")";
  return SocketSearch::kAbsent;
}

bool FindSocketHolder(const char* proc_root, uint64_t inode, uint32_t* process_id,
                      std::string* executable) {
  const std::string wanted = FormatString("socket:[%llu]", static_cast<unsigned long long>(inode));
  const Directory processes = OpenDirectoryAt(AT_FDCWD, proc_root);
  if (!processes) return false;
  while (const dirent* entry = ::readdir(processes.get())) {
    uint64_t pid = 0;
    if (!ParseDecimal(entry->d_name, UINT32_MAX, &pid) || pid == 0) continue;
    // Everything about the process is read relative to this descriptor: once the process is
    // gone, reads through it fail rather than reach a newer process given the same id.
    const FileDescriptor process(
        ::openat(::dirfd(processes.get()), entry->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!process.valid()) continue;
    // Another user's descriptors are unreadable without privilege: such a process is skipped.
    const Directory descriptors = OpenDirectoryAt(process.get(), "fd");
    if (!descriptors) continue;
    while (const dirent* held = ::readdir(descriptors.get())) {
      const int at = ::dirfd(descriptors.get());
      if (ReadLinkAt(at, held->d_name) != wanted) continue;
      const std::string exe = ReadLinkAt(process.get(), "exe");
      // The descriptor still names the socket after exe was read: the process that held it is
      // the one whose executable was read.
      if (exe.empty() || ReadLinkAt(at, held->d_name) != wanted) break;
      *process_id = static_cast<uint32_t>(pid);
      *executable = exe;
      return true;
    }
  }
  return false;
}

void LookUpPeerFrom(const PeerLookupSources& sources, SOCKET handle, const PeerQuery& query,
                    PeerIdentity* identity) {
  std::vector<std::string> why;
  const auto finish = [&] {
    std::string joined;
    for (const std::string& clause : why) joined += (joined.empty() ? "" : "; ") + clause;
    identity->unknown_why = NarrowToWide(joined);
  };
  if (!query.service.empty()) why.push_back("services are not checked on this system");
  if (!query.user && !query.executable) return finish();

  // The agent's socket has our ends reversed.
  sockaddr_in ours = {}, theirs = {};
  socklen_t ours_length = sizeof ours, theirs_length = sizeof theirs;
  if (::getsockname(handle, reinterpret_cast<sockaddr*>(&ours), &ours_length) != 0 ||
      ::getpeername(handle, reinterpret_cast<sockaddr*>(&theirs), &theirs_length) != 0) {
    why.push_back("the connection's ends are unknown: " + ErrorText(errno));
    return finish();
  }
  if (ours.sin_family != AF_INET || theirs.sin_family != AF_INET) {
    why.push_back("the connection is not IPv4");
    return finish();
  }
  TcpEnds agent;
  agent.local_address = theirs.sin_addr.s_addr;
  agent.local_port = ntohs(theirs.sin_port);
  agent.remote_address = ours.sin_addr.s_addr;
  agent.remote_port = ntohs(ours.sin_port);

  SocketRecord record;
  std::string failure;
  SocketSearch search = SocketSearch::kUnavailable;
  if (sources.netlink) search = FindSocketByNetlink(agent, &record, &failure);
  // Netlink refused, or it could not tell a missing socket from missing TCP diagnostics.
  if (search == SocketSearch::kUnavailable) {
    search = FindSocketInTable(sources.tcp_table, agent, &record, &failure);
  }
  // Not accepted yet (the agent has not come round to it): the listener it waits in names the
  // process that will take it. Every listener sharing a port must have the same owner.
  if (search == SocketSearch::kQueued) {
    search = SocketSearch::kUnavailable;
    if (sources.netlink) {
      search = FindSocketByNetlink(agent, &record, &failure, SocketRole::kListener);
    }
    if (search == SocketSearch::kUnavailable) {
      search =
          FindSocketInTable(sources.tcp_table, agent, &record, &failure, SocketRole::kListener);
    }
  }
  if (search != SocketSearch::kFound) {
    why.push_back(failure);
    return finish();
  }

  if (query.user) {
    std::string unmapped;
    if (MappedUser(record.uid, &unmapped)) {
      identity->user = NarrowToWide(FormatString("%u", record.uid));
    } else {
      why.push_back(unmapped);
    }
  }
  if (query.executable) {
    uint32_t process_id = 0;
    std::string executable;
    if (FindSocketHolder(sources.proc_root, record.inode, &process_id, &executable)) {
      identity->process_id = process_id;
      identity->executable = NarrowToWide(executable);
    } else {
      why.push_back("no process of ours or readable to us holds the agent's socket");
    }
  }
  finish();
}

void LookUpPeer(SOCKET handle, const PeerQuery& query, PeerIdentity* identity) {
  LookUpPeerFrom(PeerLookupSources(), handle, query, identity);
}

// A decimal uid is taken as it is, even the overflow uid: LookUpPeer never reports that one, so
// a profile naming it matches no agent.
bool CanonicalUser(const std::wstring& name, std::wstring* canonical, std::wstring* problem) {
  const std::string narrow = WideToNarrow(name);
  uint64_t uid = 0;
  if (ParseDecimal(narrow, UINT32_MAX - 1, &uid)) {  // (uid_t) -1 is no user
    *canonical = NarrowToWide(FormatString("%llu", static_cast<unsigned long long>(uid)));
    return true;
  }
  if (!narrow.empty()) {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    if (size <= 0) size = 16384;
    // Grown on ERANGE up to a bound, so that a broken user database cannot exhaust memory.
    for (; size <= (1L << 20); size *= 2) {
      std::vector<char> buffer(static_cast<size_t>(size));
      passwd entry = {};
      passwd* found = nullptr;
      const int error = ::getpwnam_r(narrow.c_str(), &entry, buffer.data(), buffer.size(), &found);
      if (error == ERANGE) continue;
      if (error == 0 && found != nullptr) {
        *canonical = NarrowToWide(FormatString("%u", static_cast<unsigned>(found->pw_uid)));
        return true;
      }
      break;
    }
  }
  *problem = L"no user named " + name;
  return false;
}

std::wstring CanonicalExecutable(const std::wstring& path) {
  char resolved[PATH_MAX];
  if (::realpath(WideToNarrow(path).c_str(), resolved) == nullptr) return path;
  return NarrowToWide(resolved);
}

bool SameExecutable(const std::wstring& found, const std::wstring& expected) {
  return found == expected;
}

const bool kPeerServiceCheckable = false;

}  // namespace vexil
