// Other programs on Windows: CreateProcessW with a command line that the C
// runtime's split turns back into the arguments, a batch file through the
// command processor with its own quoting, and the runtime's command pipe.
#include <wexal/u8port/process.hpp>

#include <cerrno>
#include <system_error>

#include <wexal/u8port/convert.hpp>

#include "common/ascii.hpp"
#include "common/command_line.hpp"
#include "fill_buffer.hpp"
#include "standard_streams.hpp"
#include "win32.hpp"

// Defined under their own names, whatever <stdio.h> renamed them to.
#undef popen
#undef pclose

namespace wexal {
namespace u8port {
namespace {

namespace win32 = detail::win32;
using detail::ascii;

// CreateProcessW's limit, terminator included, and the command processor's.
constexpr std::size_t wcommand_line_size = 32767;
constexpr std::size_t wbatch_line_size = 8191;

[[noreturn]] void cannot_start(win32::dword error, const std::string& program) {
    throw std::system_error(static_cast<int>(error), std::system_category(), "cannot start " + program);
}

// The value of a variable, empty when it is not set.
wide_string environment_variable(const wide_char* name) {
    return detail::fill_wide_buffer<256>(
        [name](wide_char* buffer, win32::dword size) { return win32::GetEnvironmentVariableW(name, buffer, size); },
        [](const wide_char* value, win32::dword n) { return wide_string(value, n); });
}

wide_string system_directory() {
    return detail::fill_wide_buffer<64>(
        [](wide_char* buffer, win32::dword size) { return win32::GetSystemDirectoryW(buffer, size); },
        [](const wide_char* path, win32::dword n) { return wide_string(path, n); });
}

bool is_file(const wide_string& path) {
    const win32::dword attributes = win32::GetFileAttributesW(path.c_str());
    return attributes != win32::invalid_file_attributes && (attributes & win32::file_attribute_directory) == 0;
}

// The file CreateProcessW is given. A bare name is looked for on PATH alone
// (CreateProcessW's own search would try the current directory and the
// system's directories first), with ".exe" added when it has no extension.
wide_string find_program(const std::string& program) {
    constexpr auto exe = ascii(".exe");
    wide_string name = widen(program);
    const bool has_extension = detail::has_extension(name);
    if (name.find_last_of(ascii("\\/:").text) != wide_string::npos) {
        if (!has_extension && !is_file(name) && is_file(name + exe.text)) name += exe.text;
        return name;
    }
    if (!has_extension) name += exe.text;
    const wide_string path = environment_variable(ascii("PATH").text);
    for (std::size_t begin = 0; begin <= path.size();) {
        std::size_t end = path.find(wide_char(';'), begin);
        if (end == wide_string::npos) end = path.size();
        wide_string directory;
        for (std::size_t i = begin; i < end; ++i) {
            if (path[i] != '"') directory += path[i];
        }
        begin = end + 1;
        if (directory.empty()) continue;
        if (directory.back() != '\\' && directory.back() != '/') directory += wide_char('\\');
        if (is_file(directory + name)) return directory + name;
    }
    cannot_start(win32::error_file_not_found, program);
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
    win32::handle process = nullptr;
    if (!win32::CreateProcessW(program.c_str(), &line[0], options.environment ? win32::create_unicode_environment : 0,
                               options.environment ? &environment[0] : nullptr,
                               directory.empty() ? nullptr : directory.c_str(), &process)) {
        cannot_start(win32::GetLastError(), name);
    }
    win32::dword code = 0;
    const bool waited = win32::WaitForSingleObject(process, win32::infinite) == 0 &&
                        win32::GetExitCodeProcess(process, &code);
    const win32::dword error = win32::GetLastError();
    win32::CloseHandle(process);
    if (!waited) throw std::system_error(static_cast<int>(error), std::system_category(), "cannot wait for " + name);
    return static_cast<int>(code);
}

}  // namespace

int run(const std::vector<std::string>& args, const run_options& options) {
    detail::check_arguments(args);
    detail::check_options(options);
    wide_string program = find_program(args[0]);
    wide_string line;
    std::size_t limit = wcommand_line_size;
    if (detail::is_batch_file(program)) {
        // Delayed expansion (!) is turned off (/v:OFF), the AutoRun commands
        // of the registry are skipped (/d), and the outer quotes of /c go
        // around the whole line.
        std::string batch = "\"";
        detail::append_batch_argument(batch, narrow(program));
        for (std::size_t i = 1; i < args.size(); ++i) {
            batch += ' ';
            detail::append_batch_argument(batch, args[i]);
        }
        batch += '"';
        program = system_directory() + ascii("\\cmd.exe").text;
        line = ascii("cmd.exe /e:ON /v:OFF /d /c ").text + widen(batch);
        limit = wbatch_line_size;
    } else {
        line = widen(command_line(args));
    }
    if (line.size() >= limit) detail::refuse(std::errc::argument_list_too_long, "command line too long");
    return start_and_wait(program, line, options, args[0]);
}

std::FILE* popen(const char* command, const char* mode) {
    detail::flush_standard_streams();
    if (command == nullptr || mode == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    return win32::_wpopen(widen(command).c_str(), widen(mode).c_str());
}

int pclose(std::FILE* stream) {
    if (stream == nullptr) {
        errno = EINVAL;
        return -1;
    }
    return win32::_pclose(stream);
}

}  // namespace u8port
}  // namespace wexal
