#include "command_line.hpp"

#include "ascii.hpp"

namespace wexal {
namespace u8port {
namespace detail {
namespace {

void check_text(const std::string& text) {
    if (text.find('\0') != std::string::npos) refuse(std::errc::invalid_argument, "NUL inside an argument");
}

}  // namespace

void refuse(std::errc reason, const char* what) { throw std::system_error(std::make_error_code(reason), what); }

void check_arguments(const std::vector<std::string>& args) {
    if (args.empty()) refuse(std::errc::invalid_argument, "no program to start");
    for (const std::string& arg : args) check_text(arg);
    if (args[0].find('"') != std::string::npos) refuse(std::errc::invalid_argument, "'\"' in the program name");
}

void check_options(const run_options& options) {
    check_text(options.directory);
    if (options.environment) {
        // An empty entry would end a Windows block early, and one without a
        // name is no variable on either platform.
        for (const std::string& entry : *options.environment) {
            check_text(entry);
            if (entry.find('=', 1) == std::string::npos) {
                refuse(std::errc::invalid_argument, "an environment entry needs NAME=value");
            }
        }
    }
}

void append_argument(std::string& line, const std::string& arg) {
    // A '*' or '?' is quoted too, so that a runtime that expands wildcards
    // (mingw's, or MSVC's setargv) leaves it as given.
    if (!arg.empty() && arg.find_first_of(" \t\"*?") == std::string::npos) {
        line += arg;
        return;
    }
    line += '"';
    std::size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '"') line.append(backslashes + 1, '\\');
        backslashes = c == '\\' ? backslashes + 1 : 0;
        line += c;
    }
    line.append(backslashes, '\\');
    line += '"';
}

// The command processor reads the whole line by its own rules before the
// script sees %1...: it expands %NAME% (even between quotes), and outside
// quotes it takes & | < > ^ ( ) as syntax. So every argument is put between
// quotes, with each '"' doubled (so that the quoting never stops inside an
// argument), and each % written as %%cd:~,% -- a '%' whose next one starts an
// empty slice of a variable, which expands to nothing, so no variable name
// can form. A script that hands %* or "%~1" on to a program gives these
// quotes to the runtime's split, so the backslashes before a '"' or before
// the closing quote are doubled as that split needs: else C:\dir\ would
// escape its closing quote and swallow the next argument.
void append_batch_argument(std::string& line, const std::string& arg) {
    if (arg.find_first_of("\r\n") != std::string::npos) {
        refuse(std::errc::invalid_argument, "a line break cannot reach a batch file");
    }
    line += '"';
    std::size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '"') {
            line.append(backslashes, '\\');
            line += "\"\"";
        } else if (c == '%') {
            line += "%%cd:~,%";
        } else {
            line += c;
        }
        backslashes = c == '\\' ? backslashes + 1 : 0;
    }
    line.append(backslashes, '\\');
    line += '"';
}

bool is_batch_file(const std::basic_string<wide_char>& file) {
    const std::size_t end = file.find_last_not_of(ascii(". ").text);
    if (end == std::basic_string<wide_char>::npos || end < 3) return false;
    std::basic_string<wide_char> extension = file.substr(end - 3, 4);
    for (wide_char& c : extension) {
        if (c >= 'A' && c <= 'Z') c = static_cast<wide_char>(c - 'A' + 'a');
    }
    return extension == ascii(".bat").text || extension == ascii(".cmd").text;
}

bool has_extension(const std::basic_string<wide_char>& name) {
    const std::size_t last_separator = name.find_last_of(ascii("\\/:").text);
    const std::size_t dot = name.rfind(wide_char('.'));
    return dot != std::basic_string<wide_char>::npos &&
           (last_separator == std::basic_string<wide_char>::npos || dot > last_separator);
}

}  // namespace detail

std::string command_line(const std::vector<std::string>& args) {
    detail::check_arguments(args);
    // The program is split by a simpler rule: up to the next blank, or
    // between two quotes with no escapes.
    std::string line;
    const bool quote = args[0].empty() || args[0].find_first_of(" \t") != std::string::npos;
    if (quote) line += '"';
    line += args[0];
    if (quote) line += '"';
    for (std::size_t i = 1; i < args.size(); ++i) {
        line += ' ';
        detail::append_argument(line, args[i]);
    }
    return line;
}

std::vector<std::string> split_command_line(std::string_view line) {
    std::vector<std::string> args;
    if (line.empty()) return args;
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    // The program: up to a blank outside quotes; a quote only toggles.
    std::size_t i = 0;
    args.emplace_back();
    for (bool quoted = false; i < line.size() && (quoted || !blank(line[i])); ++i) {
        if (line[i] == '"')
            quoted = !quoted;
        else
            args.back() += line[i];
    }
    // The arguments: 2n backslashes and a quote give n and the quote's
    // meaning, 2n+1 give n and a '"'; inside quotes "" is one '"' and the
    // quotes go on (as Microsoft documents the runtime's split).
    for (;;) {
        while (i < line.size() && blank(line[i])) ++i;
        if (i == line.size()) return args;
        std::string& arg = args.emplace_back();
        for (bool quoted = false; i < line.size() && (quoted || !blank(line[i]));) {
            std::size_t backslashes = 0;
            while (i < line.size() && line[i] == '\\') ++backslashes, ++i;
            if (i == line.size() || line[i] != '"') {
                arg.append(backslashes, '\\');
                if (i < line.size() && backslashes == 0) arg += line[i++];
                continue;
            }
            arg.append(backslashes / 2, '\\');
            if (backslashes % 2 == 1) {
                arg += '"';
            } else if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                arg += '"';
                ++i;
            } else {
                quoted = !quoted;
            }
            ++i;
        }
    }
}

}  // namespace u8port
}  // namespace wexal
