#include "sync/code_page.h"

#include <memory>

#include "sync/win32.h"

namespace vexil {
namespace {

// Outputs of up to this many elements (NUL included) need no heap.
constexpr int kStackElements = 256;

// Measures, then converts into a zeroed stack buffer or, for longer outputs, a heap array of
// exactly the measured size. convert(output, count) is the system conversion of the whole
// NUL-terminated input; with a null output it returns the size needed.
template <typename Out, typename Converter>
std::basic_string<Out> Convert(Converter convert) {
  const int count = convert(nullptr, 0);
  if (count <= 0) return {};
  Out local[kStackElements] = {};
  std::unique_ptr<Out[]> heap;
  Out* output = local;
  if (count > kStackElements) {
    heap.reset(new Out[count]());
    output = heap.get();
  }
  if (convert(output, count) == 0) return {};
  return std::basic_string<Out>(output);
}

}  // namespace

std::string WideToNarrow(const std::wstring& text) {
  return Convert<char>([&text](char* output, int count) {
    return ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, output, count, nullptr, nullptr);
  });
}

std::string WideToUtf8(const std::wstring& text) {
  // Without WC_ERR_INVALID_CHARS an ill-formed sequence is replaced, not a reason to fail.
  return Convert<char>([&text](char* output, int count) {
    return ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, output, count, nullptr, nullptr);
  });
}

std::wstring NarrowToWide(const std::string& text) {
  return Convert<wchar_t>([&text](wchar_t* output, int count) {
    return ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, output, count);
  });
}

}  // namespace vexil
