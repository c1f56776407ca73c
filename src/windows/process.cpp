// Other programs on Windows: CreateProcessW with a command line that the C
// runtime's split turns back into the arguments, a batch file through the
// command processor with its own quoting, only the three standard handles
// inherited, pipes whose far ends the child gets, and the runtime's command
// pipe.
#include <wexal/u8port/process.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <memory>
#include <string_view>
#include <system_error>

#include <wexal/u8port/convert.hpp>
#include <wexal/u8port/system_error.hpp>

#include "child_process.hpp"
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

[[noreturn]] void fail(win32::dword error, const std::string& what) {
    throw std::system_error(static_cast<int>(error), u8port::system_category(), what);
}

[[noreturn]] void cannot_start(win32::dword error, const std::string& program) {
    fail(error, "cannot start " + program);
}

// The one place where a name given to run (the program, the directory)
// becomes the UTF-16 name the system is given: as every name of the library,
// the three-byte form of a lone surrogate is that surrogate. (Not the
// verbatim long form: neither CreateProcessW's directory nor the command
// processor takes it.)
wide_string system_name(const std::string& name) { return widen(name, lossless); }

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

// The full path of a program that exists as a file, made here: CreateProcessW
// takes a relative name from this program's directory, the command processor
// a batch file's from the child's, so that both run the same file.
wide_string existing_program(const wide_string& name, const std::string& program) {
    const win32::dword attributes = win32::GetFileAttributesW(name.c_str());
    if (attributes == win32::invalid_file_attributes) cannot_start(win32::error_file_not_found, program);
    if ((attributes & win32::file_attribute_directory) != 0) cannot_start(win32::error_access_denied, program);
    wide_string full = detail::fill_wide_buffer<260>(
        [&name](wide_char* buffer, win32::dword size) {
            return win32::GetFullPathNameW(name.c_str(), size, buffer, nullptr);
        },
        [](const wide_char* path, win32::dword n) { return wide_string(path, n); });
    if (full.empty()) cannot_start(win32::GetLastError(), program);
    return full;
}

// The file CreateProcessW is given. A bare name is looked for on PATH alone
// (CreateProcessW's own search would try the current directory and the
// system's directories first), with ".exe" added when it has no extension.
wide_string find_program(const std::string& program) {
    constexpr auto exe = ascii(".exe");
    wide_string name = system_name(program);
    const bool has_extension = detail::has_extension(name);
    if (name.find_last_of(ascii("\\/:").text) != wide_string::npos) {
        if (!has_extension && !is_file(name) && is_file(name + exe.text)) name += exe.text;
        return existing_program(name, program);
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
        if (is_file(directory + name)) return existing_program(directory + name, program);
    }
    cannot_start(win32::error_file_not_found, program);
}

// "NAME=value" entries, each ended by a NUL, and one more NUL; sorted by
// name without regard to case, in the order Windows documents for the block
// (CompareStringOrdinal, ignoring case).
wide_string environment_block(const std::vector<std::string>& entries) {
    std::vector<wide_string> sorted;
    for (const std::string& entry : entries) sorted.push_back(widen(entry));
    const auto name_size = [](const wide_string& entry) { return static_cast<int>(entry.find(wide_char('='), 1)); };
    std::stable_sort(sorted.begin(), sorted.end(), [&](const wide_string& a, const wide_string& b) {
        return win32::CompareStringOrdinal(a.data(), name_size(a), b.data(), name_size(b), 1) == win32::cstr_less_than;
    });
    wide_string block;
    for (const wide_string& entry : sorted) block += entry + wide_char(0);
    if (sorted.empty()) block += wide_char(0);
    return block + wide_char(0);
}

std::intptr_t value_of(win32::handle h) { return reinterpret_cast<std::intptr_t>(h); }
win32::handle handle_of(std::intptr_t value) { return reinterpret_cast<win32::handle>(value); }
bool valid(win32::handle h) { return h != nullptr && value_of(h) != -1; }

// The handles given to a child: its three standard ones, each inheritable
// and its own (closed once the child has started), and the parent's ends
// of its pipes (closed with the child's state, or here on failure).
struct standard_handles {
    win32::handle far[3] = {nullptr, nullptr, nullptr};
    detail::pipe_end (&near)[3];

    explicit standard_handles(detail::pipe_end (&pipes)[3]) : near(pipes) {}
    standard_handles(const standard_handles&) = delete;
    standard_handles& operator=(const standard_handles&) = delete;
    ~standard_handles() {
        for (int i = 0; i < 3; ++i) {
            if (valid(far[i]) && (i < 2 || far[2] != far[1])) win32::CloseHandle(far[i]);
        }
    }
    void fail_started() {
        for (detail::pipe_end& end : near) {
            if (end != detail::no_pipe) win32::CloseHandle(handle_of(end));
            end = detail::no_pipe;
        }
    }
};

// A pipe whose near end (overlapped, so that output() can wait for all of a
// child's pipes at once) stays here and whose far end the child inherits.
// Named, since only a named pipe can be overlapped; the name is this
// process's and a counter, and a pipe of that name made first by another
// program is refused.
win32::handle make_pipe(bool child_reads, detail::pipe_end& near) {
    static std::atomic<unsigned long> count{0};
    const std::string name = "\\\\.\\pipe\\wexal-" + std::to_string(win32::GetCurrentProcessId()) + "-" +
                             std::to_string(count.fetch_add(1));
    const wide_string wide_name = widen(name);
    const win32::handle server = win32::CreateNamedPipeW(
        wide_name.c_str(),
        (child_reads ? win32::pipe_access_outbound : win32::pipe_access_inbound) | win32::file_flag_overlapped |
            win32::file_flag_first_pipe_instance,
        win32::pipe_reject_remote_clients, 1, 65536, 65536, 0, 0);
    if (!valid(server)) return nullptr;
    const win32::handle client = win32::CreateFileW(
        wide_name.c_str(), child_reads ? win32::generic_read : win32::generic_write | win32::file_read_attributes, 0, 1,
        win32::open_existing, 0, nullptr);
    if (!valid(client)) {
        const win32::dword error = win32::GetLastError();
        win32::CloseHandle(server);
        win32::SetLastError(error);
        return nullptr;
    }
    near = value_of(server);
    return client;
}

// The handle the child gets for one standard stream, or null with the last error.
win32::handle standard_handle(stdio_mode mode, int which, detail::pipe_end& near) {
    if (mode == stdio_mode::pipe) return make_pipe(which == 0, near);
    if (mode == stdio_mode::null) {
        return win32::CreateFileW(ascii("NUL").text, which == 0 ? win32::generic_read : win32::generic_write,
                                  win32::file_share_read_write, 1, win32::open_existing, 0, nullptr);
    }
    const win32::dword ids[] = {win32::std_input_handle, win32::std_output_handle, win32::std_error_handle};
    const win32::handle own = win32::GetStdHandle(ids[which]);
    win32::handle copy = nullptr;
    if (!valid(own)) return nullptr;  // the child has none either
    if (!win32::DuplicateHandle(win32::GetCurrentProcess(), own, win32::GetCurrentProcess(), &copy, 0, 1,
                                win32::duplicate_same_access)) {
        return nullptr;
    }
    return copy;
}

}  // namespace

namespace detail {

started_process start_process(const std::vector<std::string>& args, const run_options& options) {
    check_arguments(args);
    check_options(options);
    wide_string program = find_program(args[0]);
    wide_string line;
    std::size_t limit = wcommand_line_size;
    if (is_batch_file(program)) {
        // Delayed expansion (!) is turned off (/v:OFF), the AutoRun commands
        // of the registry are skipped (/d), and the outer quotes of /c go
        // around the whole line.
        std::string batch = "\"";
        append_batch_argument(batch, narrow(program));
        for (std::size_t i = 1; i < args.size(); ++i) {
            batch += ' ';
            append_batch_argument(batch, args[i]);
        }
        batch += '"';
        program = system_directory() + ascii("\\cmd.exe").text;
        line = ascii("cmd.exe /e:ON /v:OFF /d /c ").text + widen(batch);
        limit = wbatch_line_size;
    } else {
        line = widen(command_line(args));
    }
    if (line.size() >= limit) refuse(std::errc::argument_list_too_long, "command line too long");
    wide_string environment;
    if (options.environment) environment = environment_block(*options.environment);
    const wide_string directory = system_name(options.directory);
    if (!directory.empty()) {
        const win32::dword attributes = win32::GetFileAttributesW(directory.c_str());
        if (attributes == win32::invalid_file_attributes)
            fail(win32::GetLastError(), "no directory " + options.directory);
        if ((attributes & win32::file_attribute_directory) == 0) {
            fail(win32::error_directory, "not a directory: " + options.directory);
        }
    }

    started_process started;
    standard_handles handles(started.pipes);
    const stdio_mode modes[] = {options.input, options.output, options.error};
    for (int which = 0; which < 3; ++which) {
        if (which == 2 && options.error_to_output) {
            handles.far[2] = handles.far[1];
            break;
        }
        handles.far[which] = standard_handle(modes[which], which, started.pipes[which]);
        if (handles.far[which] == nullptr && modes[which] != stdio_mode::inherit) {
            const win32::dword error = win32::GetLastError();
            handles.fail_started();
            cannot_start(error, args[0]);
        }
    }
    win32::handle inherit[3];
    win32::dword inherit_count = 0;
    for (win32::handle h : handles.far) {
        if (valid(h) && std::find(inherit, inherit + inherit_count, h) == inherit + inherit_count) {
            inherit[inherit_count++] = h;
        }
    }
    flush_standard_streams();
    win32::handle process = nullptr;
    win32::dword id = 0;
    if (!win32::CreateProcessW(program.c_str(), &line[0], options.environment ? win32::create_unicode_environment : 0,
                               options.environment ? &environment[0] : nullptr,
                               directory.empty() ? nullptr : directory.c_str(), handles.far, inherit, inherit_count,
                               &process, &id)) {
        const win32::dword error = win32::GetLastError();
        handles.fail_started();
        cannot_start(error, args[0]);
    }
    started.native = value_of(process);
    started.id = id;
    return started;
}

std::optional<int> wait_process(started_process& process, std::optional<clock::time_point> deadline,
                                const std::string& name) {
    win32::dword wait = win32::infinite;
    if (deadline) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - clock::now()).count();
        wait = static_cast<win32::dword>(std::clamp<decltype(left)>(left, 0, win32::infinite - 1));
    }
    const win32::dword waited = win32::WaitForSingleObject(handle_of(process.native), wait);
    if (waited == win32::wait_timeout) return std::nullopt;
    win32::dword code = 0;
    if (waited != 0 || !win32::GetExitCodeProcess(handle_of(process.native), &code)) {
        fail(win32::GetLastError(), "cannot wait for " + name);
    }
    return static_cast<int>(code);
}

// Exit code 1, as other launchers give a killed child.
void kill_process(started_process& process) noexcept { win32::TerminateProcess(handle_of(process.native), 1); }

void release_process(started_process& process) noexcept {
    if (process.native != 0) win32::CloseHandle(handle_of(process.native));
    process.native = 0;
}

namespace {

// Starts a read or write on an overlapped handle: false if it failed at once.
bool start_transfer(pipe_end end, bool writing, char* data, std::size_t size, win32::overlapped& pending) {
    const win32::dword n = static_cast<win32::dword>(std::min<std::size_t>(size, 1u << 30));
    const int ok = writing ? win32::WriteFile(handle_of(end), data, n, nullptr, &pending)
                           : win32::ReadFile(handle_of(end), data, n, nullptr, &pending);
    return ok || win32::GetLastError() == win32::error_io_pending;
}

// One read or write to its end, waited for: the bytes moved, 0 at the end of
// the pipe, -1 on failure.
std::ptrdiff_t transfer(pipe_end end, bool writing, char* data, std::size_t size) noexcept {
    win32::overlapped pending;
    win32::dword moved = 0;
    if (!start_transfer(end, writing, data, size, pending) ||
        !win32::GetOverlappedResult(handle_of(end), &pending, &moved, 1)) {
        return win32::GetLastError() == win32::error_broken_pipe ? 0 : -1;
    }
    return static_cast<std::ptrdiff_t>(moved);
}

}  // namespace

std::ptrdiff_t read_pipe(pipe_end end, char* buffer, std::size_t size) noexcept {
    return transfer(end, false, buffer, size);
}

bool write_pipe(pipe_end end, const char* data, std::size_t size) noexcept {
    while (size != 0) {
        const std::ptrdiff_t n = transfer(end, true, const_cast<char*>(data), size);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void close_pipe(pipe_end end) noexcept { win32::CloseHandle(handle_of(end)); }

bool exchange(pipe_end (&pipes)[3], std::string_view input, std::string& out, std::string& err,
              std::optional<clock::time_point> deadline) {
    struct transfer_state {
        win32::overlapped pending;
        bool busy = false;
        char buffer[65536];
    };
    std::unique_ptr<transfer_state[]> states(new transfer_state[3]);
    std::string* const into[] = {nullptr, &out, &err};
    win32::dword error = 0;  // the system's, else win32::wait_timeout for the deadline
    for (int i = 0; i < 3; ++i) {
        states[i].pending.event = win32::CreateEventW(1, 0);
        if (states[i].pending.event == nullptr) error = win32::GetLastError();
    }
    const auto finish = [&](int i) {
        close_pipe(pipes[i]);
        pipes[i] = no_pipe;
    };
    while (error == 0) {
        win32::handle events[3];
        int at[3];
        win32::dword count = 0;
        for (int i = 0; i < 3; ++i) {
            if (pipes[i] == no_pipe) continue;
            transfer_state& s = states[i];
            if (!s.busy) {
                if (i == 0 && input.empty()) {
                    finish(0);
                    continue;
                }
                char* const data = i == 0 ? const_cast<char*>(input.data()) : s.buffer;
                const std::size_t size = i == 0 ? input.size() : sizeof s.buffer;
                if (!start_transfer(pipes[i], i == 0, data, size, s.pending)) {
                    finish(i);
                    continue;
                }
                s.busy = true;
            }
            events[count] = s.pending.event;
            at[count++] = i;
        }
        if (count == 0) break;
        win32::dword wait = win32::infinite;
        if (deadline) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - clock::now()).count();
            wait = static_cast<win32::dword>(std::clamp<decltype(left)>(left, 0, win32::infinite - 1));
        }
        const win32::dword signalled = win32::WaitForMultipleObjects(count, events, 0, wait);
        if (signalled >= count) {
            error = signalled == win32::wait_timeout ? signalled : win32::GetLastError();
            break;
        }
        const int i = at[signalled];
        transfer_state& s = states[i];
        win32::dword moved = 0;
        const bool ok = win32::GetOverlappedResult(handle_of(pipes[i]), &s.pending, &moved, 0);
        s.busy = false;
        if (!ok) {
            finish(i);  // the end of the pipe, or the reader gone
        } else if (i == 0) {
            input.remove_prefix(moved);
        } else {
            into[i]->append(s.buffer, moved);
        }
    }
    for (int i = 0; i < 3; ++i) {
        transfer_state& s = states[i];
        if (s.busy) {
            // Cancelled, and waited for: the system writes into s until then.
            win32::dword moved = 0;
            win32::CancelIoEx(handle_of(pipes[i]), &s.pending);
            win32::GetOverlappedResult(handle_of(pipes[i]), &s.pending, &moved, 1);
        }
        if (pipes[i] != no_pipe) finish(i);
        if (s.pending.event != nullptr) win32::CloseHandle(s.pending.event);
    }
    if (error != 0 && error != win32::wait_timeout) fail(error, "cannot read from a child");
    return error == 0;
}

// Converted in one call over all the bytes, so that no character is ever cut;
// past what one call takes, in pieces that end after a line feed, which is
// never the second byte of a character in any code page.
void captured_to_utf8(std::string& bytes, const run_options& options) {
    if (!options.output_code_page || bytes.empty()) return;
    const unsigned code_page = *options.output_code_page;
    std::string utf8;
    wide_string wide;
    for (std::string_view rest = bytes; !rest.empty();) {
        std::string_view piece = rest.substr(0, INT_MAX / 2);
        if (piece.size() < rest.size()) {
            const std::size_t line_feed = piece.rfind('\n');
            if (line_feed != std::string_view::npos) piece = piece.substr(0, line_feed + 1);
        }
        rest.remove_prefix(piece.size());
        const int size = static_cast<int>(piece.size());
        const int units = win32::MultiByteToWideChar(code_page, 0, piece.data(), size, nullptr, 0);
        if (units <= 0) fail(win32::GetLastError(), "cannot convert from code page " + std::to_string(code_page));
        wide.resize(static_cast<std::size_t>(units));
        win32::MultiByteToWideChar(code_page, 0, piece.data(), size, &wide[0], units);
        utf8 += narrow(wide);
    }
    bytes = std::move(utf8);
}

}  // namespace detail

int exit_code(int status) { return status; }

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
