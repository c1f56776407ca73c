// What starting a program needs before any system call: the checks of an
// argument vector, the quoting that the C runtime's split and the command
// processor undo, and the rules for Windows program names. Pure functions,
// the same on every platform.
#ifndef WEXAL_U8PORT_COMMON_COMMAND_LINE_HPP
#define WEXAL_U8PORT_COMMON_COMMAND_LINE_HPP

#include <string>
#include <system_error>
#include <vector>

#include <wexal/u8port/config.hpp>
#include <wexal/u8port/process.hpp>

namespace wexal {
namespace u8port {
namespace detail {

// Throws std::system_error with the reason.
[[noreturn]] void refuse(std::errc reason, const char* what);

// What no command line can carry (see command_line), refused with
// std::errc::invalid_argument; and a NUL in the environment or directory.
void check_arguments(const std::vector<std::string>& args);
void check_options(const run_options& options);

// One argument after the program, for the runtime's split: quoted when it is
// empty or holds a blank or a quote; inside quotes the backslashes before a
// quote (or before the closing quote) are doubled and the quote escaped.
void append_argument(std::string& line, const std::string& arg);

// One argument of a batch file, for the command processor: between quotes,
// with every '"' doubled and every '%' made unable to start a variable.
// Refuses a line break, which ends a command whatever the quoting.
void append_batch_argument(std::string& line, const std::string& arg);

// Whether a Windows file name runs through the command processor (".bat" or
// ".cmd", trailing dots and spaces ignored as Windows ignores them).
bool is_batch_file(const std::basic_string<wide_char>& file);

// Whether the last component of a Windows program name has an extension.
bool has_extension(const std::basic_string<wide_char>& name);

}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_COMMON_COMMAND_LINE_HPP
