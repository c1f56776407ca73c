// main's arguments on Linux: argv already holds the bytes the program was
// given, so args changes nothing and allocates nothing.
#include <wexal/u8port/args.hpp>

#include <fstream>

namespace wexal {
namespace u8port {
namespace {

// main's arguments as the C library handed them to the program: glibc passes
// argc, argv and envp to each function in .init_array, also in a library
// loaded later, so this needs no /proc. Elsewhere argv stays null.
int main_argc = 0;
char** main_argv = nullptr;

#if defined(__ELF__) && defined(__GLIBC__)
void keep_main_arguments(int argc, char** argv, char**) {
    main_argc = argc;
    main_argv = argv;
}

__attribute__((section(".init_array"), used)) void (*const keep_main_arguments_at_start)(int, char**,
                                                                                         char**) = keep_main_arguments;
#endif

}  // namespace

args::args(int& argc, char**& argv, char*** envp, detail::startup_settings)
    : argc_(argc), argv_(argv), envp_(envp), old_argc_(argc), old_argv_(argv),
      old_envp_(envp != nullptr ? *envp : nullptr), block_(nullptr) {}

// Puts back what it found, as on Windows, so that objects nest alike.
args::~args() {
    argc_ = old_argc_;
    argv_ = old_argv_;
    if (envp_ != nullptr) *envp_ = old_envp_;
    delete[] block_;  // always null here
}

namespace detail {

std::vector<std::string> command_line_arguments(startup_settings) {
    if (main_argv != nullptr) return std::vector<std::string>(main_argv, main_argv + main_argc);
    // A C library that hands nothing to start-up functions: the bytes the
    // program was given, each followed by a NUL.
    std::vector<std::string> arguments;
    std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
    std::string argument;
    while (std::getline(cmdline, argument, '\0')) arguments.push_back(argument);
    return arguments;
}

}  // namespace detail
}  // namespace u8port
}  // namespace wexal
