// main's arguments and environment as UTF-8: the C runtime's own split of the
// wide command line, converted, in place of the ANSI code page's.
#include <wexal/u8port/args.hpp>

#include <cstddef>
#include <cstring>
#include <new>

#include <wexal/u8port/transcode.hpp>

#include "win32.hpp"

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

// main's narrow arguments as the runtime recorded them at start-up.
struct narrow_arguments {
    int argc = 0;
    char** argv = nullptr;
};

bool is_wildcard(wide_char c) noexcept { return c == wide_char('*') || c == wide_char('?'); }

bool has_wildcard(const wide_split& split) noexcept {
    for (int i = 1; i < split.argc; ++i) {
        for (const wide_char* p = split.argv[i]; *p != 0; ++p) {
            if (is_wildcard(*p)) return true;
        }
    }
    return false;
}

// Whether narrow text equals wide text that is all ASCII (the only case the
// ANSI code page leaves byte for byte).
bool same_ascii(const char* narrow, const wide_char* wide) noexcept {
    for (; *wide != 0; ++narrow, ++wide) {
        if (*wide >= 0x80 || static_cast<unsigned char>(*narrow) != *wide) return false;
    }
    return *narrow == 0;
}

// Whether main received the expanded split. Where the two splits differ in
// count, main's count tells. Otherwise main holds, at the first argument where
// they differ, either the pattern or the one name it matched. A name holds no
// '*', and the ANSI conversion makes none; a pattern of '?' alone that is not
// ASCII leaves only the program's own setting to go by.
bool main_was_expanded(const narrow_arguments& main_args, const wide_split& plain, const wide_split& expanded,
                       int expand_setting) noexcept {
    if (plain.argc != expanded.argc) {
        if (main_args.argc == expanded.argc) return true;
        if (main_args.argc == plain.argc) return false;
        return expand_setting != 0;
    }
    int i = 0;
    while (i < plain.argc &&
           std::char_traits<wide_char>::compare(plain.argv[i], expanded.argv[i],
                                                std::char_traits<wide_char>::length(plain.argv[i]) + 1) == 0) {
        ++i;
    }
    if (i == plain.argc) return false;  // nothing matched: the same split
    if (i >= main_args.argc || main_args.argv[i] == nullptr) return expand_setting != 0;
    const char* const held = main_args.argv[i];
    if (same_ascii(held, plain.argv[i])) return false;
    if (same_ascii(held, expanded.argv[i])) return true;
    if (std::strchr(held, '*') != nullptr) return false;
    for (const wide_char* p = plain.argv[i]; *p != 0; ++p) {
        if (*p == wide_char('*')) return true;
    }
    return expand_setting != 0;
}

// Asks the runtime for its wide split as main received it: expanded where
// main's arguments were (which the runtime's narrow record of them tells, so
// that a DLL gets what the program got), and without touching the program's
// new mode or the runtime's record of main's count. The split fails only
// when the runtime runs out of memory.
void runtime_split(detail::startup_settings settings, wide_split& split, narrow_arguments& main_args) {
    int* const count = detail::win32::__p___argc();
    char*** const vector = detail::win32::__p___argv();
    if (count != nullptr) main_args.argc = *count;
    if (vector != nullptr) main_args.argv = *vector;
    int new_mode = detail::win32::_query_new_mode();
    const auto ask = [&](int expand, wide_split& into) {
        return detail::win32::__wgetmainargs(&into.argc, &into.argv, &into.envp, expand, &new_mode) == 0 &&
               into.argv != nullptr && into.argc >= 0;
    };
    bool ok = ask(main_args.argv != nullptr ? 0 : settings.expand_wildcards, split);
    if (ok && main_args.argv != nullptr && has_wildcard(split)) {
        // The runtime keeps every split it hands out, so the first stays valid.
        wide_split expanded;
        ok = ask(1, expanded);
        if (ok && main_was_expanded(main_args, split, expanded, settings.expand_wildcards)) split = expanded;
    }
    if (count != nullptr) *count = main_args.argc;
    if (!ok) throw std::bad_alloc();
}

// Where argv starts within main's arguments: 0 for main's own, k when it is
// main's argv + k (the last argc of them, as a tool_main(argc - 1, argv + 1)
// gets them). -1 when it is not main's: then args leaves it alone. main's
// array may be a copy the program's start-up made (mingw-w64 makes one), so
// the strings are compared, not the pointers. A runtime without a record of
// main's narrow arguments (a wmain program) cannot tell: argv is taken whole.
int offset_in_main(int argc, char** argv, const narrow_arguments& main_args) noexcept {
    if (main_args.argv == nullptr) return 0;
    if (argv == nullptr || argc < 0 || argc > main_args.argc) return -1;
    const int offset = main_args.argc - argc;
    for (int i = 0; i < argc; ++i) {
        if (argv[i] == nullptr || std::strcmp(argv[i], main_args.argv[offset + i]) != 0) return -1;
    }
    return offset;
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
    narrow_arguments main_args;
    runtime_split(settings, split, main_args);
    const int offset = offset_in_main(argc, argv, main_args);
    if (offset < 0 || offset > split.argc) return;

    // One block: argv's pointers, envp's pointers, then every string.
    wide_char* const* const from = split.argv + offset;
    const std::size_t nargs = static_cast<std::size_t>(split.argc - offset);
    const std::size_t nenv = envp != nullptr ? count_entries(split.envp) : 0;
    const std::size_t pointers = nargs + 1 + (envp != nullptr ? nenv + 1 : 0);
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < nargs; ++i) bytes += utf8_length(from[i]) + 1;
    for (std::size_t i = 0; i < nenv; ++i) bytes += utf8_length(split.envp[i]) + 1;
    block_ = new char*[pointers + (bytes + sizeof(char*) - 1) / sizeof(char*)];

    char* const text = reinterpret_cast<char*>(block_ + pointers);
    char* const env_text = convert_all(from, nargs, block_, text, text + bytes);
    if (envp != nullptr) {
        convert_all(split.envp, nenv, block_ + nargs + 1, env_text, text + bytes);
        *envp = block_ + nargs + 1;
    }
    argc = static_cast<int>(nargs);
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
    narrow_arguments main_args;
    runtime_split(settings, split, main_args);
    arguments.reserve(static_cast<std::size_t>(split.argc));
    for (int i = 0; i < split.argc; ++i) {
        arguments.emplace_back(utf8_length(split.argv[i]), '\0');
        transcode_into(&arguments.back()[0], arguments.back().size() + 1, split.argv[i], end_of(split.argv[i]));
    }
    return arguments;
}

}  // namespace detail
}  // namespace u8port
}  // namespace wexal
