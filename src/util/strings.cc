#include "util/strings.h"

#include <cstdio>
#include <cwchar>

#include "sync/check.h"

namespace vexil {
namespace {

// The runtime's counted formatters, each writing at most kMaxFormattedLength characters into a
// buffer of kMaxFormattedLength + 1. Negative when the text does not fit (or cannot be encoded);
// what fits is left in the buffer either way.
int FormatInto(char* buffer, const char* format, va_list arguments) {
#ifdef _WIN32
  return ::_vsnprintf(buffer, kMaxFormattedLength, format, arguments);
#else
  const int n = std::vsnprintf(buffer, kMaxFormattedLength + 1, format, arguments);
  return n > static_cast<int>(kMaxFormattedLength) ? -1 : n;
#endif
}

int FormatInto(wchar_t* buffer, const wchar_t* format, va_list arguments) {
#ifdef _WIN32
  return ::_vsnwprintf(buffer, kMaxFormattedLength, format, arguments);
#else
  return std::vswprintf(buffer, kMaxFormattedLength + 1, format, arguments);
#endif
}

template <typename Char>
std::basic_string<Char> Format(const Char* format, va_list arguments) {
  // Zeroed, so the text is terminated however the formatter stopped.
  Char buffer[kMaxFormattedLength + 1] = {};
  if (FormatInto(buffer, format, arguments) < 0) {
    CheckFailed();
    buffer[kMaxFormattedLength] = 0;
  }
  return std::basic_string<Char>(buffer);
}

template <typename Char>
Char LowerAscii(Char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<Char>(c + ('a' - 'A')) : c;
}

template <typename Char>
std::basic_string<Char>& Lower(std::basic_string<Char>& text) {
  for (Char& c : text) c = LowerAscii(c);
  return text;
}

template <typename Char>
std::basic_string<Char>& Upper(std::basic_string<Char>& text) {
  for (Char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<Char>(c - ('a' - 'A'));
  }
  return text;
}

// The C-locale isspace set, without the locale and without the sign trap of plain char.
template <typename Char>
bool IsCSpace(Char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

template <typename Char>
bool IsTrimSpace(Char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

template <typename Char>
std::basic_string<Char>& Left(std::basic_string<Char>& text) {
  if (text.empty() || !IsCSpace(text.front())) return text;
  size_t first = 0;
  while (first < text.size() && IsTrimSpace(text[first])) ++first;
  text.erase(0, first);
  return text;
}

template <typename Char>
std::basic_string<Char>& Right(std::basic_string<Char>& text) {
  while (!text.empty() && IsCSpace(text.back())) text.pop_back();
  return text;
}

template <typename Char>
int CompareFirst(const std::basic_string<Char>& a, const std::basic_string<Char>& b, size_t n) {
  return a.compare(0, n, b, 0, n);
}

template <typename Char>
int NoCaseFirst(std::basic_string<Char> a, std::basic_string<Char> b, size_t n) {
  return CompareFirst(Lower(a), Lower(b), n);
}

}  // namespace

std::string FormatString(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::string text = Format(format, arguments);
  va_end(arguments);
  return text;
}

std::wstring FormatString(const wchar_t* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::wstring text = Format(format, arguments);
  va_end(arguments);
  return text;
}

std::string FormatStringV(const char* format, va_list arguments) {
  return Format(format, arguments);
}
std::wstring FormatStringV(const wchar_t* format, va_list arguments) {
  return Format(format, arguments);
}

std::string& ToLowerAscii(std::string& text) { return Lower(text); }
std::wstring& ToLowerAscii(std::wstring& text) { return Lower(text); }
std::string& ToUpperAscii(std::string& text) { return Upper(text); }
std::wstring& ToUpperAscii(std::wstring& text) { return Upper(text); }

std::string& TrimLeft(std::string& text) { return Left(text); }
std::wstring& TrimLeft(std::wstring& text) { return Left(text); }
std::string& TrimRight(std::string& text) { return Right(text); }
std::wstring& TrimRight(std::wstring& text) { return Right(text); }
std::string& Trim(std::string& text) { return Left(Right(text)); }
std::wstring& Trim(std::wstring& text) { return Left(Right(text)); }

int Compare(const std::string& a, const std::string& b) { return a.compare(b); }
int Compare(const std::wstring& a, const std::wstring& b) { return a.compare(b); }
int CompareNoCase(const std::string& a, const std::string& b) {
  return NoCaseFirst(a, b, std::string::npos);
}
int CompareNoCase(const std::wstring& a, const std::wstring& b) {
  return NoCaseFirst(a, b, std::wstring::npos);
}
int CompareN(const std::string& a, const std::string& b, size_t n) { return CompareFirst(a, b, n); }
int CompareN(const std::wstring& a, const std::wstring& b, size_t n) {
  return CompareFirst(a, b, n);
}
int CompareNoCaseN(const std::string& a, const std::string& b, size_t n) {
  return NoCaseFirst(a, b, n);
}
int CompareNoCaseN(const std::wstring& a, const std::wstring& b, size_t n) {
  return NoCaseFirst(a, b, n);
}

bool Less(const std::string& a, const std::string& b) { return Compare(a, b) < 0; }
bool LessNoCase(const std::string& a, const std::string& b) { return CompareNoCase(a, b) < 0; }
bool LessNoCase(const std::wstring& a, const std::wstring& b) { return CompareNoCase(a, b) < 0; }
bool LessNoCasePrefix(const std::string& a, const std::string& b) {
  return CompareNoCaseN(a, b, a.size()) < 0;
}
bool LessNoCasePrefix(const std::wstring& a, const std::wstring& b) {
  return CompareNoCaseN(a, b, a.size()) < 0;
}

}  // namespace vexil
