// UTF-8 environment and command calls. Names, values and command lines are
// converted to UTF-16 for the platform; a value read back from the
// environment is converted to UTF-8. A malformed sequence on either side
// becomes U+FFFD.
#ifndef WEXAL_U8PORT_CSTDLIB_HPP
#define WEXAL_U8PORT_CSTDLIB_HPP

#include <optional>
#include <string>
#include <string_view>

#include <wexal/u8port/config.hpp>

namespace wexal {
namespace u8port {

// The value of the variable `name` as UTF-8, or null when it is not set. The
// text lives in one holder shared by every call: it stays valid until the next
// getenv call that finds a value (a call that finds nothing leaves it alone).
// Not safe for concurrent use; copy the value before calling again, or call
// environment_value, which is.
WEXAL_U8PORT_API char* getenv(const char* name);

// The value of the variable `name` as UTF-8 (bytes on Linux), or nothing when
// it is not set; an empty value is a value. Safe from any number of threads at
// once, and beside setenv, unsetenv and putenv on other threads. A name that
// is empty or holds a NUL names no variable.
WEXAL_U8PORT_API std::optional<std::string> environment_value(std::string_view name);

// The program's places, in UTF-8 on Windows (the lossless form of convert.hpp,
// so that handing one back to the library's calls reaches the same file) and
// as bytes elsewhere, whatever their length. Each throws std::system_error
// (with system_category(), see system_error.hpp) when the system cannot say.
//
// The full path of the running program's file (GetModuleFileNameW;
// /proc/self/exe, the target of the link).
WEXAL_U8PORT_API std::string executable_path();
// The directory for temporary files, with no trailing separator unless it is a
// root: GetTempPath2W where the system has it, else GetTempPathW (both read
// TMP, then TEMP, then USERPROFILE, then the Windows directory); elsewhere
// TMPDIR when set and not empty, else "/tmp". It is not checked to exist.
WEXAL_U8PORT_API std::string temp_directory();
// The user's home: USERPROFILE when set and not empty, else the profile folder
// the system holds for the user of this process; elsewhere HOME when set and
// not empty, else the password database's entry for the real user.
WEXAL_U8PORT_API std::string home_directory();

// Sets `name` to `value`. With overwrite 0 an existing variable is kept (and
// that counts as success). A null value removes the variable. Returns 0 on
// success and -1 when the platform refuses; its error code is left in place.
WEXAL_U8PORT_API int setenv(const char* name, const char* value, int overwrite);

// Removes `name`. 0 on success, -1 when the platform refuses (Linux and Wine
// both take the removal of a variable that is not set as a success).
WEXAL_U8PORT_API int unsetenv(const char* name);

// Sets a variable from "NAME=value", split at the first '='; "NAME=" sets an
// empty value. A string without '=' (or null) is refused with -1 and changes
// nothing. The string is only read, never kept.
WEXAL_U8PORT_API int putenv(const char* assignment);

// Runs a command line through the command processor and returns what the
// platform's call returned: on Windows the command's exit code, elsewhere the
// wait status that std::system reports. Null asks whether a command
// processor is available (non-zero when it is).
WEXAL_U8PORT_API int system(const char* command);

#if defined(__cpp_char8_t)
// The same calls with C++20 UTF-8 text (u8"..." literals, std::u8string) in
// any of their string arguments. system(nullptr) still asks for a command
// processor through the const char* form.
template <typename N, detail::if_char8_text_args<N> = 0>
char* getenv(const N& name) {
    return u8port::getenv(detail::utf8_arg(name).get());
}
template <typename N, detail::if_char8_text_args<N> = 0>
std::optional<std::string> environment_value(const N& name) {
    return u8port::environment_value(detail::utf8_arg(name).get());
}
template <typename N, typename V, detail::if_char8_text_args<N, V> = 0>
int setenv(const N& name, const V& value, int overwrite) {
    return u8port::setenv(detail::utf8_arg(name).get(), detail::utf8_arg(value).get(), overwrite);
}
template <typename N, detail::if_char8_text_args<N> = 0>
int unsetenv(const N& name) {
    return u8port::unsetenv(detail::utf8_arg(name).get());
}
template <typename A, detail::if_char8_text_args<A> = 0>
int putenv(const A& assignment) {
    return u8port::putenv(detail::utf8_arg(assignment).get());
}
template <typename C, detail::if_char8_text_args<C> = 0>
int system(const C& command) {
    return u8port::system(detail::utf8_arg(command).get());
}
#endif

}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_CSTDLIB_HPP
