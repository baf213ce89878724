#include "sync/code_page.h"

#include <cstdint>

namespace vexil {
namespace {

bool IsScalarValue(uint32_t c) { return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF); }

// The number of continuation bytes that follow a lead byte, or -1 for a byte that cannot lead.
int ContinuationCount(unsigned char lead) {
  if (lead < 0x80) return 0;
  if (lead >= 0xC2 && lead <= 0xDF) return 1;
  if (lead >= 0xE0 && lead <= 0xEF) return 2;
  if (lead >= 0xF0 && lead <= 0xF4) return 3;
  return -1;
}

}  // namespace

std::string WideToNarrow(const std::wstring& text) {
  std::string out;
  for (const wchar_t unit : text) {
    const uint32_t c = static_cast<uint32_t>(unit);
    if (c == 0) break;
    if (!IsScalarValue(c)) return {};
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string WideToUtf8(const std::wstring& text) { return WideToNarrow(text); }

std::wstring NarrowToWide(const std::string& text) {
  std::wstring out;
  size_t i = 0;
  while (i < text.size() && text[i] != '\0') {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const int more = ContinuationCount(lead);
    if (more < 0 || more > static_cast<int>(text.size() - i - 1)) return {};
    uint32_t c = more == 0 ? lead : lead & (0x3F >> more);
    for (int k = 1; k <= more; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return {};
      c = (c << 6) | (next & 0x3F);
    }
    // Overlong forms and surrogates are malformed.
    static constexpr uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (c < kSmallest[more] || !IsScalarValue(c)) return {};
    out += static_cast<wchar_t>(c);
    i += static_cast<size_t>(more) + 1;
  }
  return out;
}

}  // namespace vexil
