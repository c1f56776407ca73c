// Long paths on Windows, as pure rules: which names Win32 limits to MAX_PATH
// and the verbatim form that lifts the limit. The system call that resolves
// a name (GetFullPathNameW) is made by the caller.
//
// Only a name that begins with exactly "\\?\" reaches the file system as it
// is, with no length limit; every other form, "\\.\" and "//?/" included, is
// normalised by Win32 and limited to MAX_PATH (Microsoft's documentation on
// file naming; Wine does not enforce the limit).
#ifndef WEXAL_U8PORT_COMMON_LONG_PATH_HPP
#define WEXAL_U8PORT_COMMON_LONG_PATH_HPP

#include <cstddef>
#include <string>

#include <wexal/u8port/config.hpp>

namespace wexal {
namespace u8port {
namespace detail {

// Windows refuses a full path of this many units or more (MAX_PATH counts the
// terminator) unless it comes in the verbatim form.
constexpr std::size_t max_path = 260;

// Whether the name's full path may reach MAX_PATH, so that it must be
// resolved first: false for a verbatim name ("\\?\", and the NT form "\??\"),
// for a short device name ("\\.\pipe\x", "//?/C:/x") and for a short
// absolute one ("C:\..." or "\\server\..."), which resolving never makes
// longer.
bool may_need_long_form(const wide_char* name, std::size_t length) noexcept;

// The name to hand Windows for a full path as Win32 resolves it, when it
// reaches MAX_PATH: the path itself when it already is verbatim (as under a
// current directory in that form), "\\?\" in place of a device prefix,
// "\\?\UNC\server\share\..." for a UNC path, else "\\?\" + the path. Empty
// when the path is short.
std::basic_string<wide_char> verbatim_form(std::basic_string<wide_char> full_path);

}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_COMMON_LONG_PATH_HPP
