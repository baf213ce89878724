// The connector's options, read from the host's own command line. Platform-free.
#ifndef VEXIL_HOST_STARTUP_OPTIONS_H_
#define VEXIL_HOST_STARTUP_OPTIONS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vexil {

struct ConnSettings {
  int32_t gsid = 0;       // game-server identifier; changed later by the order "__ISOLATE__"
  std::wstring haip;      // HA agent address as given
  int32_t haport = 0;     // must be non-zero; the agent port itself is fixed
  std::wstring cnfgfile;  // kept; nothing reads it
};

// The value of option name: from the first of argv[1] to argv[argc - 1] that is at least
// length(name) + 3 long and contains name, the text that starts one character (the separator)
// after name; argv[0], the program path, is not searched. Nothing when no element matches. A null
// name raises the internal check and, if resumed, finds nothing. argv must hold argc non-null
// elements.
std::optional<std::wstring> FindOptionValue(int argc, const wchar_t* const* argv,
                                            const wchar_t* name);

// The value of option name converted like the runtime's wide decimal conversion (leading white
// space, optional sign, digits up to the first non-digit, saturated to 32 bits); 0 when absent or
// not numeric.
int32_t FindOptionNumber(int argc, const wchar_t* const* argv, const wchar_t* name);

// Whether one of argv[1] to argv[argc - 1] is at least length(name) + 1 long and contains name.
// A null name raises the internal check and, if resumed, reports no flag.
bool HasOptionFlag(int argc, const wchar_t* const* argv, const wchar_t* name);

enum class StartupOutcome {
  kUnchanged,  // argc is 1: nothing was read
  kDisabled,   // NOUSEVEXIL: the connector is switched off; no other option was read
  kAccepted,   // GSID, HAPORT and HAIP found (CNFGFILE too when present) and stored
  kRejected,   // an option is missing or invalid; what was found before is stored
};

// Reads the options into settings, overwriting only the members it reaches: GSID and HAPORT are
// stored before they are checked, HAIP only when found, CNFGFILE only when present.
StartupOutcome ReadStartupOptions(int argc, const wchar_t* const* argv, ConnSettings* settings);

// What a host developer reads when ReadStartupOptions refused argv: one line that names every
// missing or invalid option with a valid form of it, or says that at least five elements are
// needed. Reads the same elements as ReadStartupOptions and changes nothing.
std::wstring DescribeRefusal(int argc, const wchar_t* const* argv);

// The index of the first of argv[1] to argv[argc - 1] that HasOptionFlag finds name in; 0 when
// none does (argv[0] is never searched).
int FindFlagElement(int argc, const wchar_t* const* argv, const wchar_t* name);

// The line that names the element which switched the connector off.
std::wstring DescribeDisabling(int argc, const wchar_t* const* argv);

// Lines for accepted settings that are not used as given: a HAPORT other than the agent port, a
// HAIP too short to be an address. Empty when everything is used as given.
std::vector<std::wstring> DescribeSubstitutions(const ConnSettings& settings);

// The line that names the command-line element the agent's address was taken from, so that text
// slipped into a command line to send the connector elsewhere shows in the log. Empty when the
// address is not the one given (DescribeSubstitutions says what is used instead).
std::wstring DescribeAgentSource(int argc, const wchar_t* const* argv,
                                 const ConnSettings& settings);

}  // namespace vexil

#endif  // VEXIL_HOST_STARTUP_OPTIONS_H_
