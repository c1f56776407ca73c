#include <wexal/u8port/args.hpp>

#include <cstddef>
#include <fstream>
#include <new>

#include <wexal/u8port/transcode.hpp>

#include "platform/platform.hpp"

namespace wexal {
namespace u8port {
namespace {

// The runtime's own split of the wide command line, and its wide environment
// of start-up; both belong to the runtime.
struct wide_split {
    int argc = 0;
    wide_char** argv = nullptr;
    wide_char** envp = nullptr;
};

// Asks the runtime for its wide split, with the program's own settings. False
// where there is none to ask for: the POSIX stand-in has no wide command line,
// since argv there already holds the bytes the program was given.
bool runtime_split(detail::startup_settings settings, wide_split& split) {
    int new_mode = settings.new_mode;
    if (detail::platform::__wgetmainargs(&split.argc, &split.argv, &split.envp, settings.expand_wildcards, &new_mode) ==
            0 &&
        split.argv != nullptr && split.argc >= 0) {
        return true;
    }
#if defined(_WIN32)
    // The runtime's split fails only when it runs out of memory.
    throw std::bad_alloc();
#else
    return false;
#endif
}

const wide_char* end_of(const wide_char* s) noexcept { return s + std::char_traits<wide_char>::length(s); }

// The UTF-8 length of a wide string, each rejected unit counted as U+FFFD.
std::size_t utf8_length(const wide_char* s) noexcept { return transcoded_length<char>(s, end_of(s)); }

std::size_t count_entries(wide_char** entries) noexcept {
    std::size_t n = 0;
    if (entries != nullptr) {
        while (entries[n] != nullptr) ++n;
    }
    return n;
}

// Converts the n strings of `from` into [text, text_end), each followed by a
// NUL, and points to[i] at each; to[n] is null. Returns where the text ends.
char* convert_all(wide_char* const* from, std::size_t n, char** to, char* text, char* text_end) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
        to[i] = text;
        text = transcode(text, static_cast<std::size_t>(text_end - text), from[i], end_of(from[i])).out;
        *text++ = 0;
    }
    to[n] = nullptr;
    return text;
}

}  // namespace

args::args(int& argc, char**& argv, char*** envp, detail::startup_settings settings)
    : argc_(argc), argv_(argv), envp_(envp), old_argc_(argc), old_argv_(argv),
      old_envp_(envp != nullptr ? *envp : nullptr), block_(nullptr) {
    wide_split split;
    if (!runtime_split(settings, split)) return;

    // One block: argv's pointers, envp's pointers, then every string.
    const std::size_t nargs = static_cast<std::size_t>(split.argc);
    const std::size_t nenv = envp != nullptr ? count_entries(split.envp) : 0;
    const std::size_t pointers = nargs + 1 + (envp != nullptr ? nenv + 1 : 0);
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < nargs; ++i) bytes += utf8_length(split.argv[i]) + 1;
    for (std::size_t i = 0; i < nenv; ++i) bytes += utf8_length(split.envp[i]) + 1;
    block_ = new char*[pointers + (bytes + sizeof(char*) - 1) / sizeof(char*)];

    char* const text = reinterpret_cast<char*>(block_ + pointers);
    char* const env_text = convert_all(split.argv, nargs, block_, text, text + bytes);
    if (envp != nullptr) {
        convert_all(split.envp, nenv, block_ + nargs + 1, env_text, text + bytes);
        *envp = block_ + nargs + 1;
    }
    argc = split.argc;
    argv = block_;
}

args::~args() {
    argc_ = old_argc_;
    argv_ = old_argv_;
    if (envp_ != nullptr) *envp_ = old_envp_;
    delete[] block_;
}

namespace detail {

std::vector<std::string> command_line_arguments(startup_settings settings) {
    std::vector<std::string> arguments;
    wide_split split;
    if (runtime_split(settings, split)) {
        arguments.reserve(static_cast<std::size_t>(split.argc));
        for (int i = 0; i < split.argc; ++i) {
            arguments.emplace_back(utf8_length(split.argv[i]), '\0');
            transcode_into(&arguments.back()[0], arguments.back().size() + 1, split.argv[i], end_of(split.argv[i]));
        }
        return arguments;
    }
    // The bytes the program was given, each followed by a NUL.
    std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
    std::string argument;
    while (std::getline(cmdline, argument, '\0')) arguments.push_back(argument);
    return arguments;
}

}  // namespace detail
}  // namespace u8port
}  // namespace wexal
