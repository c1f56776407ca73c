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
        for (const std::string& entry : *options.environment) check_text(entry);
    }
}

void append_argument(std::string& line, const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
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
// can form.
void append_batch_argument(std::string& line, const std::string& arg) {
    if (arg.find_first_of("\r\n") != std::string::npos) {
        refuse(std::errc::invalid_argument, "a line break cannot reach a batch file");
    }
    line += '"';
    for (const char c : arg) {
        if (c == '"')
            line += "\"\"";
        else if (c == '%')
            line += "%%cd:~,%";
        else
            line += c;
    }
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

}  // namespace u8port
}  // namespace wexal
