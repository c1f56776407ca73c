// Starting other programs with UTF-8 arguments, passed exactly as given: run
// (start and wait; no command processor in between), spawn (a child to talk
// to through pipes, wait for or stop), output (run with everything captured),
// command_line and split_command_line (a Windows command line and back), and
// popen/pclose (a command processor's pipe, with a UTF-8 command).
#ifndef WEXAL_U8PORT_PROCESS_HPP
#define WEXAL_U8PORT_PROCESS_HPP

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <istream>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <wexal/u8port/config.hpp>

namespace wexal {
namespace u8port {

// Where a child's standard stream goes: this program's own stream, nowhere
// (the null device), or a pipe to this program.
enum class stdio_mode { inherit, null, pipe };

struct run_options {
    // Absent: the child inherits this program's environment. Present: exactly
    // these "NAME=value" entries (UTF-8), and nothing else; an entry that is
    // empty or has no '=' after a non-empty name is refused.
    std::optional<std::vector<std::string>> environment;
    // Empty: the child starts in the current directory; else in this one (UTF-8).
    std::string directory;
    // The child's standard input, output and error.
    stdio_mode input = stdio_mode::inherit, output = stdio_mode::inherit, error = stdio_mode::inherit;
    // The child's standard error goes where its output goes (as 2>&1).
    bool error_to_output = false;
    // For output(): written to the child's input, which is then closed.
    // Absent: the input mode applies.
    std::optional<std::string> input_text{};
    // For run and output: a child still running when this has passed is killed.
    std::optional<std::chrono::milliseconds> timeout{};
    // Windows, for output(): the captured bytes are in this code page (as
    // MultiByteToWideChar numbers them: 0 the ANSI code page, 1 the OEM one,
    // 65001 UTF-8, or the console's) and are given back in UTF-8. Absent: the
    // bytes unchanged. Ignored elsewhere.
    std::optional<unsigned> output_code_page{};
};

// The UTF-8 command line that the C runtime's split of a Windows program
// turns back into exactly `args` (the first one is the program). The same
// string on every platform. Throws std::system_error with
// std::errc::invalid_argument for an empty list, a NUL inside an argument, or
// a '"' in the program, which no command line can carry.
WEXAL_U8PORT_API std::string command_line(const std::vector<std::string>& args);

// The C runtime's split of a Windows command line into its arguments (the
// first one the program, by the program's simpler rule): the inverse of
// command_line, the same on every platform, for commands read from a file or
// a setting.
WEXAL_U8PORT_API std::vector<std::string> split_command_line(std::string_view line);

// Starts args[0] with `args`, waits for it, and returns its exit code; on
// Linux a program ended by signal N gives -N. A bare program name (no
// directory in it) is searched on PATH only, never in the current directory;
// on Windows ".exe" is added to a name without an extension (a name with a
// dot, such as tool-1.2, has one), a relative name is taken from this
// program's directory, not the child's, and a ".bat" or ".cmd" file runs
// through the command processor with every argument quoted so that it reaches
// %1... as given (an argument that cannot be carried that way is refused).
// Arguments and environment pass as bytes on Linux and as UTF-16 on Windows.
// The child gets its three standard streams and no other handle or file
// descriptor of this program.
//
// Throws std::system_error: with the system's error code when the program
// could not be started (nothing ran) or the directory is missing; with
// std::errc::invalid_argument for a call refused as command_line refuses it
// (or a NUL in the environment or directory, an environment entry as
// described above, or an argument a batch file cannot be given); with
// std::errc::argument_list_too_long for a Windows command line over 32,767
// UTF-16 units with its terminator (8,191 through the command processor),
// which is never cut; with std::errc::timed_out when options.timeout passed
// (the child was killed); and with std::errc::no_child_process when the
// program started but its status was taken elsewhere (Linux: SIGCHLD ignored,
// or another thread reaped it), so that it must not be started again.
WEXAL_U8PORT_API int run(const std::vector<std::string>& args, const run_options& options = {});

// A started program. Movable, not copyable. Its streams given stdio_mode::pipe
// carry the bytes as the child writes and reads them; std::getline works on
// them. Destroying a child that still runs waits for it (closing its input
// first); one that was killed or waited for is released.
class child {
public:
    using id_type = std::int64_t;

    WEXAL_U8PORT_API child() noexcept;
    WEXAL_U8PORT_API child(child&& other) noexcept;
    WEXAL_U8PORT_API child& operator=(child&& other) noexcept;
    child(const child&) = delete;
    child& operator=(const child&) = delete;
    WEXAL_U8PORT_API ~child();

    // The pipes. std::logic_error for a stream that is not a pipe.
    WEXAL_U8PORT_API std::ostream& input();
    WEXAL_U8PORT_API std::istream& output();
    WEXAL_U8PORT_API std::istream& error();
    // Flushes and closes the input pipe: the child reads its end of file.
    WEXAL_U8PORT_API void close_input();

    // The exit code, as run returns it; the same on every later call. Throws
    // std::system_error as run does (std::errc::no_child_process).
    WEXAL_U8PORT_API int wait();
    // The exit code, or nothing if the child still runs after `limit`.
    WEXAL_U8PORT_API std::optional<int> wait_for(std::chrono::milliseconds limit);
    // Stops the child at once (TerminateProcess; SIGKILL); wait then gives
    // its status. Nothing for a child that has ended.
    WEXAL_U8PORT_API void kill();
    WEXAL_U8PORT_API bool running();
    // The process id.
    WEXAL_U8PORT_API id_type id() const;

    // What spawn makes a child of.
    struct state;
    explicit child(std::unique_ptr<state> s) noexcept;

private:
    state& started() const;
    std::unique_ptr<state> state_;
};

// Starts the program exactly as run does and returns at once. Throws as run
// does when nothing could be started.
WEXAL_U8PORT_API child spawn(const std::vector<std::string>& args, const run_options& options = {});

struct run_output {
    int status;  // as run returns it; meaningless when timed_out
    std::string output;
    std::string error;
    bool timed_out;
};

// Runs the program to its end with its output and error captured, both at
// once (never a deadlock, however much either holds), and its input from
// options.input_text when given. With options.timeout, a child still running
// then is killed and what it wrote so far is returned with timed_out set.
// options.output and options.error are taken as pipe. Throws as run does
// when nothing could be started.
WEXAL_U8PORT_API run_output output(const std::vector<std::string>& args, const run_options& options = {});

// The exit code in a status of system or pclose: the status itself on
// Windows; on Linux the exit code, or -N for a command ended by signal N (as
// run gives it), and -1 for -1.
WEXAL_U8PORT_API int exit_code(int status);

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
// Windows, the wait status elsewhere (as system; exit_code reads it), -1 on
// failure or for a stream that popen did not give.
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
