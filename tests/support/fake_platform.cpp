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
    fake_files().calls.push_back(file_call{std::move(function), std::move(args), stream, {}});
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

// KERNEL32 and C runtime: files and directories by name.
namespace {

int name_call(const char* function, const wide_char* name, std::vector<int> ints = {}) {
    test::enter_file_call();
    const test::recording_scope recording;
    test::file_call_made(function, {test::record(name)}, nullptr, 0);
    test::fake_files().calls.back().ints = std::move(ints);
    return test::fake_files().int_result;
}

struct fake_find {
    const std::vector<test::fake_find_entry>* entries;
    std::size_t next;
};

}  // namespace

int _wstat64(const wide_char* name, stat_type*) { return name_call("_wstat64", name); }
int _waccess(const wide_char* name, int mode) { return name_call("_waccess", name, {mode}); }
int _wmkdir(const wide_char* name) { return name_call("_wmkdir", name); }
int _wrmdir(const wide_char* name) { return name_call("_wrmdir", name); }
int _wchdir(const wide_char* name) { return name_call("_wchdir", name); }
int _wchmod(const wide_char* name, int mode) { return name_call("_wchmod", name, {mode}); }
int _wopen(const wide_char* name, int flags, int mode) { return name_call("_wopen", name, {flags, mode}); }

// The current directory is seen on the real platform only.
dword GetCurrentDirectoryW(dword, wide_char*) {
    test::fake_last_error() = error_file_not_found;
    return 0;
}

handle FindFirstFileExW(const wide_char* pattern, find_data* found) {
    name_call("FindFirstFileExW", pattern);
    const test::recording_scope recording;
    test::fake_file_system& files = test::fake_files();
    const auto listing = files.listings.find(pattern);
    if (listing == files.listings.end() || listing->second.empty()) {
        test::fake_last_error() = listing == files.listings.end() ? files.find_error : error_file_not_found;
        return nullptr;
    }
    ++files.open_finds;
    fake_find* const find = new fake_find{&listing->second, 0};
    FindNextFileW(find, found);
    return find;
}

int FindNextFileW(handle find, find_data* found) {
    fake_find* const f = static_cast<fake_find*>(find);
    if (f->next == f->entries->size()) {
        test::fake_last_error() = error_no_more_files;
        return 0;
    }
    const test::fake_find_entry& entry = (*f->entries)[f->next++];
    *found = find_data{entry.attributes, {}, dword(entry.size >> 32), dword(entry.size), entry.reparse_tag, 0, {}, {}};
    entry.name.copy(found->name, entry.name.size());
    return 1;
}

int FindClose(handle find) {
    test::log_call("FindClose");
    const test::recording_scope recording;
    delete static_cast<fake_find*>(find);
    --test::fake_files().open_finds;
    return 1;
}

}  // namespace win32
}  // namespace detail
}  // namespace u8port
}  // namespace wexal
