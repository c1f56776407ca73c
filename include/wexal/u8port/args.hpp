// UTF-8 command-line arguments and environment for main().
//
//     int main(int argc, char** argv) {
//         wexal::u8port::args utf8(argc, argv);  // from here on argv is UTF-8, on Windows too
//         ...
//     }
//
// On Windows main's argv holds the arguments in the ANSI code page, which
// loses every character outside it and best-fit maps some (a fullwidth quote
// becomes a plain one). args replaces argc, argv (and envp) in place with the
// runtime's own split of the wide command line converted to UTF-8, so every
// argument parser keeps working unchanged. Elsewhere argv already holds the
// bytes the program was given: args changes nothing and allocates nothing.
#ifndef WEXAL_U8PORT_ARGS_HPP
#define WEXAL_U8PORT_ARGS_HPP

#include <string>
#include <vector>

#include <wexal/u8port/config.hpp>

#if defined(_WIN32) && defined(__MINGW32__)
// The calling module's globbing setting: what the library goes by when the
// runtime keeps no record of main's narrow arguments to tell whether the
// program's command line was globbed.
extern "C" int _dowildcard;
#endif

namespace wexal {
namespace u8port {

namespace detail {
// How the calling module's start-up splits a command line. new_mode is no
// longer read (the program's new mode is left as it is) and stays for the
// layout.
struct startup_settings {
    int expand_wildcards;
    int new_mode;
};

inline startup_settings program_startup_settings() noexcept {
#if defined(_WIN32) && defined(__MINGW32__)
    return {_dowildcard, 0};
#else
    return {0, 0};
#endif
}

WEXAL_U8PORT_API std::vector<std::string> command_line_arguments(startup_settings settings);
}  // namespace detail

// Replaces argc, argv (and envp) with UTF-8 ones for the life of the object.
// argv[argc] and the last envp entry are null, as the runtime's are. All
// strings and the pointer array live in one block owned by the object: they
// are gone when it is destroyed (for main's object, before atexit handlers and
// static destructors run). The destructor puts back exactly the count and
// pointers it found, so objects nest and unwind in reverse order. Throws
// std::bad_alloc, leaving the variables untouched, when the block cannot be
// had. The runtime's own __argv and GetCommandLineA stay narrow, and the
// program's new mode (_set_new_mode) stays as it is. argv may be a suffix of
// main's: args(argc - 1, argv + 1) gives the same suffix of the UTF-8 split.
// An argv that is not main's (nor a suffix of it) is left as it is, argc and
// envp too. With msvcrt.dll each object (and command_line_arguments) asks the
// runtime to split its command line again, which may rebuild the runtime's
// own wide argv: make them from one thread at a time.
class args {
public:
    args(int& argc, char**& argv) : args(argc, argv, nullptr, detail::program_startup_settings()) {}
    args(int& argc, char**& argv, char**& envp) : args(argc, argv, &envp, detail::program_startup_settings()) {}
    WEXAL_U8PORT_API ~args();

    // The object owns the strings that the variables point at.
    args(const args&) = delete;
    args& operator=(const args&) = delete;

private:
    WEXAL_U8PORT_API args(int& argc, char**& argv, char*** envp, detail::startup_settings settings);

    int& argc_;
    char**& argv_;
    char*** envp_;  // null when main has no envp
    int old_argc_;
    char** old_argv_;
    char** old_envp_;
    char** block_;  // the pointer array and, after it, the strings; null when nothing was replaced
};

// The program's arguments as UTF-8, for code without main's variables (WinMain,
// a library, a DLL): the same split and conversion as args gives, globbed
// where main's arguments were, whichever module asks. Elsewhere main's argv as
// it is now, also without /proc.
inline std::vector<std::string> command_line_arguments() {
    return detail::command_line_arguments(detail::program_startup_settings());
}

}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_ARGS_HPP
