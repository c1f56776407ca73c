#include <wexal/u8port/process.hpp>

#include <cerrno>
#include <system_error>

#include <wexal/u8port/convert.hpp>

#include "platform/platform.hpp"
#include "standard_streams.hpp"

// Defined under their own names, whatever <stdio.h> renamed them to.
#undef popen
#undef pclose

namespace wexal {
namespace u8port {
namespace {

[[noreturn]] void refuse(std::errc reason, const char* what) {
    throw std::system_error(std::make_error_code(reason), what);
}

void check_text(const std::string& text) {
    if (text.find('\0') != std::string::npos) refuse(std::errc::invalid_argument, "NUL inside an argument");
}

// What no command line can carry: see command_line.
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

// One argument after the program, for the runtime's split: quoted when it is
// empty or holds a blank or a quote; inside quotes the backslashes before a
// quote (or before the closing quote) are doubled and the quote escaped.
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

[[noreturn]] void cannot_start(int error, const std::string& program) {
    throw std::system_error(error, std::system_category(), "cannot start " + program);
}

#if defined(_WIN32)
namespace platform = detail::platform;

// CreateProcessW's limit, terminator included, and the command processor's.
constexpr std::size_t wcommand_line_size = 32767;
constexpr std::size_t wbatch_line_size = 8191;

wide_string environment_variable(const wide_char* name) {
    wide_string value(64, wide_char(0));
    for (;;) {
        const platform::dword n = platform::GetEnvironmentVariableW(name, &value[0],
                                                                    static_cast<platform::dword>(value.size()));
        if (n < value.size()) return value.substr(0, n);
        value.assign(n, wide_char(0));
    }
}

bool is_file(const wide_string& path) {
    const platform::dword attributes = platform::GetFileAttributesW(path.c_str());
    return attributes != platform::invalid_file_attributes && (attributes & platform::file_attribute_directory) == 0;
}

// The file CreateProcessW is given. A bare name is looked for on PATH alone
// (CreateProcessW's own search would try the current directory and the
// system's directories first), with ".exe" added when it has no extension.
wide_string find_program(const std::string& program) {
    wide_string name = widen(program);
    const std::size_t last_separator = name.find_last_of(L"\\/:");
    const std::size_t dot = name.rfind(L'.');
    const bool has_extension = dot != wide_string::npos &&
                               (last_separator == wide_string::npos || dot > last_separator);
    if (last_separator != wide_string::npos) {
        if (!has_extension && !is_file(name) && is_file(name + L".exe")) name += L".exe";
        return name;
    }
    if (!has_extension) name += L".exe";
    const wide_string path = environment_variable(L"PATH");
    for (std::size_t begin = 0; begin <= path.size();) {
        std::size_t end = path.find(L';', begin);
        if (end == wide_string::npos) end = path.size();
        wide_string directory;
        for (std::size_t i = begin; i < end; ++i) {
            if (path[i] != L'"') directory += path[i];
        }
        begin = end + 1;
        if (directory.empty()) continue;
        if (directory.back() != L'\\' && directory.back() != L'/') directory += L'\\';
        if (is_file(directory + name)) return directory + name;
    }
    cannot_start(static_cast<int>(platform::error_file_not_found), program);
}

// Windows drops trailing dots and spaces from a file name, so "x.bat. " is
// x.bat, and runs as one.
bool is_batch_file(const wide_string& file) {
    std::size_t end = file.find_last_not_of(L". ");
    if (end == wide_string::npos || end < 3) return false;
    wide_string extension = file.substr(end - 3, 4);
    for (wide_char& c : extension) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wide_char>(c - L'A' + L'a');
    }
    return extension == L".bat" || extension == L".cmd";
}

// A batch file runs in the command processor, which reads the whole line by
// its own rules before the script sees %1...: it expands %NAME% (even between
// quotes), and outside quotes it takes & | < > ^ ( ) as syntax. So every
// argument is put between quotes, with each '"' doubled (so that the quoting
// never stops inside an argument), and each % written as %%cd:~,% -- a '%'
// whose next one starts an empty slice of a variable, which expands to
// nothing, so no variable name can form. Delayed expansion (!) is turned off
// (/v:OFF), the AutoRun commands of the registry are skipped (/d), and the
// outer quotes of /c go around the whole line. Line breaks end a command
// whatever the quoting: such an argument is refused.
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

int start_and_wait(const wide_string& program, wide_string& line, const run_options& options, const std::string& name) {
    wide_string environment;
    if (options.environment) {
        for (const std::string& entry : *options.environment) environment += widen(entry) + wide_char(0);
        if (options.environment->empty()) environment += wide_char(0);
        environment += wide_char(0);
    }
    const wide_string directory = widen(options.directory);
    detail::flush_standard_streams();
    platform::handle process = nullptr;
    if (!platform::CreateProcessW(program.c_str(), &line[0],
                                  options.environment ? platform::create_unicode_environment : 0,
                                  options.environment ? &environment[0] : nullptr,
                                  directory.empty() ? nullptr : directory.c_str(), &process)) {
        cannot_start(static_cast<int>(platform::GetLastError()), name);
    }
    platform::dword code = 0;
    const bool waited = platform::WaitForSingleObject(process, platform::infinite) == 0 &&
                        platform::GetExitCodeProcess(process, &code);
    const platform::dword error = platform::GetLastError();
    platform::CloseHandle(process);
    if (!waited) throw std::system_error(static_cast<int>(error), std::system_category(), "cannot wait for " + name);
    return static_cast<int>(code);
}
#endif

}  // namespace

std::string command_line(const std::vector<std::string>& args) {
    check_arguments(args);
    // The program is split by a simpler rule: up to the next blank, or
    // between two quotes with no escapes.
    std::string line;
    const bool quote = args[0].empty() || args[0].find_first_of(" \t") != std::string::npos;
    if (quote) line += '"';
    line += args[0];
    if (quote) line += '"';
    for (std::size_t i = 1; i < args.size(); ++i) {
        line += ' ';
        append_argument(line, args[i]);
    }
    return line;
}

int run(const std::vector<std::string>& args, const run_options& options) {
    check_arguments(args);
    check_options(options);
#if defined(_WIN32)
    wide_string program = find_program(args[0]);
    wide_string line;
    std::size_t limit = wcommand_line_size;
    if (is_batch_file(program)) {
        std::string batch = "\"";
        append_batch_argument(batch, narrow(program));
        for (std::size_t i = 1; i < args.size(); ++i) {
            batch += ' ';
            append_batch_argument(batch, args[i]);
        }
        batch += '"';
        wide_char system_directory[260] = {};
        program.assign(system_directory, platform::GetSystemDirectoryW(system_directory, 260));
        program += L"\\cmd.exe";
        line = L"cmd.exe /e:ON /v:OFF /d /c " + widen(batch);
        limit = wbatch_line_size;
    } else {
        line = widen(command_line(args));
    }
    if (line.size() >= limit) refuse(std::errc::argument_list_too_long, "command line too long");
    return start_and_wait(program, line, options, args[0]);
#else
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    if (options.environment) {
        for (const std::string& entry : *options.environment) envp.push_back(const_cast<char*>(entry.c_str()));
        envp.push_back(nullptr);
    }
    detail::flush_standard_streams();
    int code = 0;
    const int error = detail::platform::spawn_and_wait(
        args[0].c_str(), argv.data(), options.environment ? envp.data() : nullptr,
        options.directory.empty() ? nullptr : options.directory.c_str(), &code);
    if (error != 0) cannot_start(error, args[0]);
    return code;
#endif
}

std::FILE* popen(const char* command, const char* mode) {
    detail::flush_standard_streams();
#if defined(_WIN32)
    if (command == nullptr || mode == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    return detail::platform::_wpopen(widen(command).c_str(), widen(mode).c_str());
#else
    return detail::platform::popen(command, mode);
#endif
}

int pclose(std::FILE* stream) {
#if defined(_WIN32)
    if (stream == nullptr) {
        errno = EINVAL;
        return -1;
    }
    return detail::platform::_pclose(stream);
#else
    return detail::platform::pclose(stream);
#endif
}

}  // namespace u8port
}  // namespace wexal
