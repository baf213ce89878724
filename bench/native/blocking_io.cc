#include "blocking_io.h"

#include <sys/socket.h>
#include <sys/types.h>

#include <cstdio>
#include <cstdlib>

namespace vexil::bench {

void Fail(const char* what) {
  std::perror(what);
  std::_Exit(1);
}

void WriteAll(int fd, const void* data, size_t size) {
  const char* rest = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::send(fd, rest, size, MSG_NOSIGNAL);
    if (n <= 0) Fail("send");
    rest += n;
    size -= static_cast<size_t>(n);
  }
}

void ReadAll(int fd, void* data, size_t size) {
  char* rest = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t n = ::recv(fd, rest, size, 0);
    if (n <= 0) Fail("recv");
    rest += n;
    size -= static_cast<size_t>(n);
  }
}

}  // namespace vexil::bench
