// Starting other programs with UTF-8 arguments, passed exactly as given: run
// (no command processor in between), command_line (the Windows command line
// that gives the arguments back), and popen/pclose (a command processor's
// pipe, with a UTF-8 command).
#ifndef WEXAL_U8PORT_PROCESS_HPP
#define WEXAL_U8PORT_PROCESS_HPP

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include <wexal/u8port/config.hpp>

namespace wexal {
namespace u8port {

struct run_options {
    // Absent: the child inherits this program's environment. Present: exactly
    // these "NAME=value" entries (UTF-8), and nothing else.
    std::optional<std::vector<std::string>> environment;
    // Empty: the child starts in the current directory; else in this one (UTF-8).
    std::string directory;
};

// The UTF-8 command line that the C runtime's split of a Windows program
// turns back into exactly `args` (the first one is the program). The same
// string on every platform. Throws std::system_error with
// std::errc::invalid_argument for an empty list, a NUL inside an argument, or
// a '"' in the program, which no command line can carry.
WEXAL_U8PORT_API std::string command_line(const std::vector<std::string>& args);

// Starts args[0] with `args`, waits for it, and returns its exit code; on
// Linux a program ended by signal N gives -N. A bare program name (no
// directory in it) is searched on PATH only, never in the current directory;
// on Windows ".exe" is added to a name without an extension, and a ".bat" or
// ".cmd" file runs through the command processor with every argument quoted
// so that it reaches %1... as given (an argument that cannot be carried that
// way is refused). Arguments and environment pass as bytes on Linux and as
// UTF-16 on Windows.
//
// Throws std::system_error: with the system's error code when the program
// could not be started (nothing ran), with std::errc::invalid_argument for a
// call refused as command_line refuses it (or a NUL in the environment or
// directory, or an argument a batch file cannot be given), and with
// std::errc::argument_list_too_long for a Windows command line over 32,767
// UTF-16 units with its terminator (8,191 through the command processor),
// which is never cut.
WEXAL_U8PORT_API int run(const std::vector<std::string>& args, const run_options& options = {});

// mingw-w64's <stdio.h> renames popen and pclose to _popen and _pclose by
// macros; the library's own names are kept, and a call the macros rename
// still arrives here through the two forwards below.
#if defined(popen)
#define WEXAL_U8PORT_RENAMED_POPEN
#endif
#pragma push_macro("popen")
#pragma push_macro("pclose")
#undef popen
#undef pclose

// The command processor's pipe with a UTF-8 command: mode "r" reads the
// command's output, "w" writes its input (a 'b' or 't' as the platform takes
// them; Linux ignores both). Null and errno on failure.
WEXAL_U8PORT_API std::FILE* popen(const char* command, const char* mode);

// Closes a stream from popen and waits for the command: its exit code on
// Windows, the wait status elsewhere (as system), -1 on failure.
WEXAL_U8PORT_API int pclose(std::FILE* stream);

#if defined(WEXAL_U8PORT_RENAMED_POPEN)
#undef WEXAL_U8PORT_RENAMED_POPEN
inline std::FILE* _popen(const char* command, const char* mode) { return popen(command, mode); }
inline int _pclose(std::FILE* stream) { return pclose(stream); }
#endif
#pragma pop_macro("pclose")
#pragma pop_macro("popen")

}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_PROCESS_HPP
