// String utilities over std::string and std::wstring, each with a narrow and a wide form under the
// same rules. Nothing here depends on the locale.
#ifndef VEXIL_UTIL_STRINGS_H_
#define VEXIL_UTIL_STRINGS_H_

#include <cstdarg>
#include <string>

namespace vexil {

// The longest text FormatString produces.
constexpr unsigned kMaxFormattedLength = 1024;

// printf-style formatting through the C runtime's counted formatter. A text longer than
// kMaxFormattedLength characters (or an encoding error) is a check failure; if resumed, the first
// kMaxFormattedLength characters are returned. In wide formats, write %ls for a wide string
// argument: the Windows and the native runtimes read a bare %s differently.
std::string FormatString(const char* format, ...);
std::wstring FormatString(const wchar_t* format, ...);
std::string FormatStringV(const char* format, va_list arguments);
std::wstring FormatStringV(const wchar_t* format, va_list arguments);

// In place; only 'A'..'Z' (or 'a'..'z') change, every other unit (above 127 included) stays.
std::string& ToLowerAscii(std::string& text);
std::wstring& ToLowerAscii(std::wstring& text);
std::string& ToUpperAscii(std::string& text);
std::wstring& ToUpperAscii(std::wstring& text);

// In place. TrimLeft does nothing unless the first character is C-locale white space (space, tab,
// LF, VT, FF, CR); then it removes everything before the first character outside " \t\r\n" (so a
// leading VT or FF stops it). TrimRight removes trailing C-locale white space. Trim: TrimRight,
// then TrimLeft.
std::string& TrimLeft(std::string& text);
std::wstring& TrimLeft(std::wstring& text);
std::string& TrimRight(std::string& text);
std::wstring& TrimRight(std::wstring& text);
std::string& Trim(std::string& text);
std::wstring& Trim(std::wstring& text);

// Negative, zero or positive as the standard string compare. The N forms compare at most the first
// n characters of each; the NoCase forms compare ToLowerAscii copies.
int Compare(const std::string& a, const std::string& b);
int Compare(const std::wstring& a, const std::wstring& b);
int CompareNoCase(const std::string& a, const std::string& b);
int CompareNoCase(const std::wstring& a, const std::wstring& b);
int CompareN(const std::string& a, const std::string& b, size_t n);
int CompareN(const std::wstring& a, const std::wstring& b, size_t n);
int CompareNoCaseN(const std::string& a, const std::string& b, size_t n);
int CompareNoCaseN(const std::wstring& a, const std::wstring& b, size_t n);

bool Less(const std::string& a, const std::string& b);
bool LessNoCase(const std::string& a, const std::string& b);
bool LessNoCase(const std::wstring& a, const std::wstring& b);
// a orders before the first a.size() characters of b, ignoring ASCII case.
bool LessNoCasePrefix(const std::string& a, const std::string& b);
bool LessNoCasePrefix(const std::wstring& a, const std::wstring& b);

}  // namespace vexil

#endif  // VEXIL_UTIL_STRINGS_H_
