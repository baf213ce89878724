// The connector's lines on the host's standard output, beside its log file.
#ifndef VEXIL_LOG_CONSOLE_H_
#define VEXIL_LOG_CONSOLE_H_

namespace vexil {

// Prints one formatted wide text (a wide printf format; %ls for wide strings) to standard output,
// every character of it: the C runtime's wide output would convert in the "C" locale and stop at
// the first character beyond it. Windows: a console is given the wide text itself; redirected
// output gets UTF-8 bytes, as the log, with line feeds as CR LF. POSIX: UTF-8 bytes, so that the
// stream also stays byte-oriented: wide output would fix stdout's orientation for good and the
// host's own printf output would be lost from then on (or, were the host first, ours). Text beyond
// 1023 characters is cut.
void PrintToConsole(const wchar_t* format, ...);

}  // namespace vexil

#endif  // VEXIL_LOG_CONSOLE_H_
