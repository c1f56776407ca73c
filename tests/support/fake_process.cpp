#include "fake_process.hpp"

#include <cstdio>
#include <cstring>

#include "fake_console.hpp"
#include "windows/win32.hpp"

namespace wexal {
namespace test {

fake_process_state& fake_processes() {
    static fake_process_state state;
    return state;
}

namespace {

// The block runs up to its first empty entry: two NULs in a row.
wide_string environment_block(const u8port::wide_char* block) {
    const u8port::wide_char* end = block;
    while (end[0] != 0 || end[1] != 0) ++end;
    return wide_string(block, end + 2);
}

// A new handle value, counted open; never dereferenced.
void* new_handle() {
    fake_process_state& state = fake_processes();
    void* const h = reinterpret_cast<void*>(state.next_handle += 4);
    state.open_handles.insert(h);
    return h;
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
    test::fake_last_error() = error_file_not_found;
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
                   const wide_char* current_directory, const handle* std_handles, const handle* inherit,
                   dword inherit_count, handle* process, dword* process_id) {
    test::log_call("CreateProcessW");
    const test::recording_scope recording;
    test::fake_process_state& state = test::fake_processes();
    test::process_start start;
    if (application_name != nullptr) start.application = test::wide_string(application_name);
    start.command_line = command_line;
    start.creation_flags = creation_flags;
    if (environment != nullptr) start.environment = test::environment_block(static_cast<const wide_char*>(environment));
    if (current_directory != nullptr) start.directory = test::wide_string(current_directory);
    std::copy(std_handles, std_handles + 3, start.std_handles);
    start.inherited.assign(inherit, inherit + inherit_count);
    state.starts.push_back(std::move(start));
    if (state.start_fails_with) {
        test::fake_last_error() = *state.start_fails_with;
        return 0;
    }
    *process = test::new_handle();
    *process_id = 4242;
    return 1;
}

dword WaitForSingleObject(handle, dword) {
    test::log_call("WaitForSingleObject");
    return 0;  // WAIT_OBJECT_0: the process has ended
}

dword WaitForMultipleObjects(dword, const handle*, int, dword) { return 0; }

int GetExitCodeProcess(handle, dword* exit_code) {
    test::log_call("GetExitCodeProcess");
    *exit_code = test::fake_processes().exit_code;
    return 1;
}

int TerminateProcess(handle, unsigned) { return 1; }

int CloseHandle(handle object) {
    test::log_call("CloseHandle");
    const test::recording_scope recording;
    return test::fake_processes().open_handles.erase(object) == 1;
}

handle GetCurrentProcess() { return reinterpret_cast<handle>(static_cast<std::intptr_t>(-1)); }

dword GetCurrentProcessId() { return 77; }

// Every handle made is counted open until it is closed.
int DuplicateHandle(handle, handle source, handle, handle* target, dword, int, dword) {
    const test::recording_scope recording;
    if (source == nullptr) return 0;
    *target = test::new_handle();
    return 1;
}
handle CreateNamedPipeW(const wide_char*, dword, dword, dword, dword, dword, dword, int) {
    const test::recording_scope recording;
    return test::new_handle();
}
handle CreateFileW(const wide_char*, dword, dword, int, dword, dword, handle) {
    const test::recording_scope recording;
    return test::new_handle();
}
handle CreateEventW(int, int) {
    const test::recording_scope recording;
    return test::new_handle();
}

// A pipe has ended at once for a reader; a writer's bytes all go.
int ReadFile(handle, void*, dword, dword*, void*) {
    test::fake_last_error() = error_broken_pipe;
    return 0;
}
// WriteFile is the console part's, which records every write.
int GetOverlappedResult(handle file, overlapped*, dword* transferred, int) {
    const auto& writes = test::fake_console().file_writes;
    *transferred = writes.empty() || writes.back().first != file ? 0 : static_cast<dword>(writes.back().second.size());
    return 1;
}
int CancelIoEx(handle, overlapped*) { return 1; }

// Ordinal, with ASCII letters folded to upper case.
int CompareStringOrdinal(const wide_char* a, int a_size, const wide_char* b, int b_size, int) {
    const auto upper = [](wide_char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : int(c); };
    for (int i = 0; i < a_size && i < b_size; ++i) {
        if (upper(a[i]) != upper(b[i])) return upper(a[i]) < upper(b[i]) ? 1 : 3;
    }
    return a_size < b_size ? 1 : a_size == b_size ? 2 : 3;
}

// Code page 28591 (ISO 8859-1) only: each byte is its own code point.
int MultiByteToWideChar(unsigned code_page, dword, const char* text, int size, wide_char* out, int out_size) {
    for (int i = 0; i < size && out != nullptr && i < out_size; ++i) out[i] = static_cast<unsigned char>(text[i]);
    return code_page == 28591 ? size : 0;
}

void SetLastError(dword error) { test::fake_last_error() = error; }

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
