#include "fake_process.hpp"

#include <cstdio>

#include "windows/win32.hpp"

namespace wexal {
namespace test {

fake_process_state& fake_processes() {
    static fake_process_state state;
    return state;
}

namespace {

// A handle value for the one process that can exist at a time; never dereferenced.
void* const process_handle = reinterpret_cast<void*>(static_cast<std::uintptr_t>(0x7000));

// The block runs up to its first empty entry: two NULs in a row.
wide_string environment_block(const u8port::wide_char* block) {
    const u8port::wide_char* end = block;
    while (end[0] != 0 || end[1] != 0) ++end;
    return wide_string(block, end + 2);
}

}  // namespace
}  // namespace test

namespace u8port {
namespace detail {
namespace win32 {

dword GetFileAttributesW(const wide_char* file_name) {
    test::log_call("GetFileAttributesW");
    const test::recording_scope recording;
    const test::fake_process_state& state = test::fake_processes();
    const test::wide_string name(file_name);
    if (state.files.count(name) != 0) return 0x20;  // FILE_ATTRIBUTE_ARCHIVE
    if (state.directories.count(name) != 0) return file_attribute_directory;
    return invalid_file_attributes;
}

dword GetSystemDirectoryW(wide_char* buffer, dword size) {
    test::log_call("GetSystemDirectoryW");
    const test::wide_string& path = test::fake_processes().system_directory;
    if (path.size() >= size) return static_cast<dword>(path.size() + 1);
    path.copy(buffer, path.size());
    buffer[path.size()] = 0;
    return static_cast<dword>(path.size());
}

int CreateProcessW(const wide_char* application_name, wide_char* command_line, dword creation_flags, void* environment,
                   const wide_char* current_directory, handle* process) {
    test::log_call("CreateProcessW");
    const test::recording_scope recording;
    test::fake_process_state& state = test::fake_processes();
    test::process_start start;
    if (application_name != nullptr) start.application = test::wide_string(application_name);
    start.command_line = command_line;
    start.creation_flags = creation_flags;
    if (environment != nullptr) start.environment = test::environment_block(static_cast<const wide_char*>(environment));
    if (current_directory != nullptr) start.directory = test::wide_string(current_directory);
    state.starts.push_back(std::move(start));
    if (state.start_fails_with) {
        test::fake_last_error() = *state.start_fails_with;
        return 0;
    }
    *process = test::process_handle;
    return 1;
}

dword WaitForSingleObject(handle, dword) {
    test::log_call("WaitForSingleObject");
    return 0;  // WAIT_OBJECT_0: the process has ended
}

int GetExitCodeProcess(handle, dword* exit_code) {
    test::log_call("GetExitCodeProcess");
    *exit_code = test::fake_processes().exit_code;
    return 1;
}

int CloseHandle(handle) {
    test::log_call("CloseHandle");
    return 1;
}

// The command processor's pipe is not modelled: it fails.
std::FILE* _wpopen(const wide_char*, const wide_char*) {
    test::log_call("_wpopen");
    return nullptr;
}

int _pclose(std::FILE*) {
    test::log_call("_pclose");
    return -1;
}

}  // namespace win32
}  // namespace detail
}  // namespace u8port
}  // namespace wexal
