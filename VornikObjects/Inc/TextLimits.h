// The lengths Windows documents for the texts the library hands to it, and the one check every such
// hand-over goes through. A value longer than the call it is meant for takes is refused before the
// call with ERR_VALUE_TOO_LONG, naming where the value came from and the limit: it is never cut
// short, and it never reaches a system function that may not expect it (some of Wine's overflow
// their stacks on such texts).
#pragma once

#include <cstddef>
#include <string_view>

#include "UnicodeString.h"

namespace Vrn {

// What a value is handed on as, and the most characters (without the terminating zero) the
// receiving calls document for it.
struct CTextLimit {
  const wchar_t* kind;
  size_t maxLength;
};

// A path for the file functions: 32,767 characters with the "\\?\" prefix (or with long paths
// switched on), the most a counted string of the system holds.
inline constexpr CTextLimit kPathLimit{L"a path", 32767};
// A path for calls that take no longer one than MAX_PATH (terminating zero included): the shell's
// path functions, GetLongPathNameW without the "\\?\" prefix.
inline constexpr CTextLimit kShortPathLimit{L"a path of at most MAX_PATH", 259};
// What ShellExecuteExW opens: Shell32 4.0 copied it into a buffer of MAX_PATH characters, later
// versions into one of INTERNET_MAX_URL_LENGTH; Wine's overflows its stack on about 1,000
// characters. The smaller documented bound holds, for files and addresses alike.
inline constexpr CTextLimit kShellFileLimit{L"a file or address the shell opens", 259};
// The parameters ShellExecuteExW passes on: the shell's buffer of INTERNET_MAX_URL_LENGTH.
inline constexpr CTextLimit kShellParametersLimit{L"the parameters of a shell start", 2083};
// An Internet address for WinINet: INTERNET_MAX_URL_LENGTH, terminating zero included.
inline constexpr CTextLimit kAddressLimit{L"an Internet address", 2083};
// The program of a firewall entry: the path of an existing program, which Windows starts only from
// a path of at most MAX_PATH (Wine's firewall overflows its stack on a longer name).
inline constexpr CTextLimit kFirewallProgramLimit{L"the program of a firewall entry", 259};
// A command line for CreateProcessW: 32,767 characters with its terminating zero.
inline constexpr CTextLimit kCommandLineLimit{L"a command line", 32766};
// Registry key names (each name of a key path) and value names.
inline constexpr CTextLimit kRegistryKeyNameLimit{L"a registry key name", 255};
inline constexpr CTextLimit kRegistryValueNameLimit{L"a registry value name", 16383};
// Window class names and registered message names are atoms, whose names hold 255 characters.
inline constexpr CTextLimit kAtomNameLimit{L"a window class or message name", 255};
// A window title: FindWindowW documents no limit of its own and passes it on as a counted string.
inline constexpr CTextLimit kWindowTitleLimit{L"a window title", 32767};
// Names of mutexes and events: "limited to MAX_PATH characters".
inline constexpr CTextLimit kObjectNameLimit{L"an object name", 260};
// Account names (user and group names, UNLEN), domain and computer names (a DNS name,
// DNS_MAX_NAME_LENGTH) and passwords (PWLEN).
inline constexpr CTextLimit kAccountNameLimit{L"an account name", 256};
inline constexpr CTextLimit kDomainNameLimit{L"a domain or computer name", 255};
inline constexpr CTextLimit kPasswordLimit{L"a password", 256};

// True when the text has at most limit.maxLength characters.
constexpr bool FitsLimit(std::wstring_view text, const CTextLimit& limit) noexcept {
  return text.size() <= limit.maxLength;
}
// Raises ERR_VALUE_TOO_LONG (a CCheckException) when the text does not fit the limit: "A value from
// the property INSTALLDIR is 40000 characters long, too long for a path (at most 32767 characters)."
// The source is the noted value (below) the text is, contains or is part of; "A value" without one.
void CheckLength(std::wstring_view text, const CTextLimit& limit);
// The text for a call that takes at most `limit`: CheckLength first, then its characters.
inline const wchar_t* Checked(const CUnicodeString& text, const CTextLimit& limit) {
  CheckLength(text, limit);
  return text.c_str();
}
// An account given as DOMAIN\user or user: the user part and the domain part.
void CheckAccountName(std::wstring_view account);
// A registry key path: each of its key names and the path as a whole (a counted string).
void CheckRegistryKeyPath(std::wstring_view path);

// Notes that `value` came from `source` ("the property INSTALLDIR"), so that a refusal of the
// value, or of a text built from it, can say where it came from. Kept per thread for the current
// call (the session facade notes every property it reads; the action frame forgets them at the
// start of each call); only the latest notes are kept.
void NoteValueSource(const CUnicodeString& source, const CUnicodeString& value);
void ForgetValueSources() noexcept;

}  // namespace Vrn
