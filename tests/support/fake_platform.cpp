#include "fake_platform.hpp"

#include "counting_allocator.hpp"
#include "fake_console.hpp"
#include "fake_environment.hpp"
#include "fake_process.hpp"
#include "windows/win32.hpp"

namespace wexal {
namespace test {

wide_string wide(std::u16string_view units) { return wide_string(units.begin(), units.end()); }

fake_file_system& fake_files() {
    static fake_file_system state;
    return state;
}

std::vector<std::string>& fake_call_log() {
    static std::vector<std::string> log;
    return log;
}

std::uint32_t& fake_last_error() {
    thread_local std::uint32_t value = 0;
    return value;
}

namespace {

wide_arg record(const u8port::wide_char* s) {
    if (s == nullptr) return std::nullopt;
    return wide_string(s);
}

// The hook runs first, before the recording allocates anything.
fake_file_system& enter_file_call() {
    fake_file_system& files = fake_files();
    if (files.during_call) files.during_call();
    return files;
}

}  // namespace

void log_call(const char* name) {
    const recording_scope recording;
    fake_call_log().push_back(name);
}

namespace {

template <typename Result>
Result file_call_made(std::string function, std::vector<wide_arg> args, std::FILE* stream, Result result) {
    fake_call_log().push_back(function);
    fake_files().calls.push_back(file_call{std::move(function), std::move(args), stream});
    return result;
}

}  // namespace

void reset_fake_platform() {
    fake_call_log().clear();
    fake_last_error() = 0;
    fake_files().reset();
    fake_console().reset();
    fake_environment().reset();
    fake_processes().reset();
}

}  // namespace test

namespace u8port {
namespace detail {
namespace win32 {

dword GetLastError() {
    test::log_call("GetLastError");
    return test::fake_last_error();
}

std::FILE* _wfopen(const wide_char* file_name, const wide_char* mode) {
    test::enter_file_call();
    const test::recording_scope recording;
    return test::file_call_made("_wfopen", {test::record(file_name), test::record(mode)}, nullptr,
                                test::fake_files().stream_result);
}

std::FILE* _wfreopen(const wide_char* file_name, const wide_char* mode, std::FILE* stream) {
    test::enter_file_call();
    const test::recording_scope recording;
    return test::file_call_made("_wfreopen", {test::record(file_name), test::record(mode)}, stream,
                                test::fake_files().stream_result);
}

int _wremove(const wide_char* file_name) {
    test::enter_file_call();
    const test::recording_scope recording;
    return test::file_call_made("_wremove", {test::record(file_name)}, nullptr, test::fake_files().int_result);
}

int _wrename(const wide_char* old_name, const wide_char* new_name) {
    test::enter_file_call();
    const test::recording_scope recording;
    return test::file_call_made("_wrename", {test::record(old_name), test::record(new_name)}, nullptr,
                                test::fake_files().int_result);
}

dword GetFullPathNameW(const wide_char* file_name, dword size, wide_char* buffer, wide_char**) {
    test::log_call("GetFullPathNameW");
    const test::recording_scope recording;
    const auto& paths = test::fake_files().full_paths;
    const auto found = file_name == nullptr ? paths.end() : paths.find(file_name);
    if (found == paths.end()) return 0;
    const std::size_t n = found->second.size();
    if (n >= size) return static_cast<dword>(n + 1);
    found->second.copy(buffer, n);
    buffer[n] = 0;
    return static_cast<dword>(n);
}

}  // namespace win32
}  // namespace detail
}  // namespace u8port
}  // namespace wexal
