// Test helper, header only (the DLL host test links none of our libraries): the bytes of a file.
#ifndef VEXIL_TESTS_SUPPORT_FILE_BYTES_H_
#define VEXIL_TESTS_SUPPORT_FILE_BYTES_H_

#include <cstdio>
#include <string>

#include "support/test_platform.h"

namespace vexil::testing {

// The whole file as stored (binary read, so CR LF stays two bytes); empty when it cannot be read.
inline std::string FileBytes(const wchar_t* path) {
  std::string bytes;
  FILE* file = OpenFile(path, L"rb");
  if (file == nullptr) return bytes;
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, n);
  std::fclose(file);
  return bytes;
}

}  // namespace vexil::testing

#endif  // VEXIL_TESTS_SUPPORT_FILE_BYTES_H_
