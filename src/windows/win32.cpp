// The seam's calls on Windows: each forwards to the real C runtime or
// KERNEL32 function. DWORD and BOOL differ in type from the fixed-width types
// of the seam, so counts pass through locals.
#include "win32.hpp"

#include <windows.h>

#include <cstddef>
#include <memory>

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <wchar.h>

#if defined(_MSC_VER)
#include <corecrt_startup.h>
#include <new.h>
#elif defined(_UCRT)
// UCRT's start-up calls, which mingw-w64's headers do not declare.
extern "C" {
enum _crt_argv_mode { _crt_argv_no_arguments, _crt_argv_unexpanded_arguments, _crt_argv_expanded_arguments };
__declspec(dllimport) int __cdecl _configure_wide_argv(_crt_argv_mode mode);
__declspec(dllimport) int __cdecl _initialize_wide_environment();
__declspec(dllimport) wchar_t** __cdecl _get_initial_wide_environment();
__declspec(dllimport) int __cdecl _query_new_mode();
}
#else
// msvcrt.dll's wide split, which no header declares; its start-up info holds
// only the new mode.
struct wexal_startupinfo {
    int new_mode;
};
extern "C" __declspec(dllimport) int __cdecl __wgetmainargs(int*, wchar_t***, wchar_t***, int, wexal_startupinfo*);
#endif

namespace {
// main's narrow argc and argv: variables on msvcrt.dll for x86-64, calls
// elsewhere; the headers' names cover both (outside the seam namespace,
// whose own calls of the same names they would otherwise find).
int* runtime_argc() { return &__argc; }
char*** runtime_argv() { return &__argv; }
}  // namespace

namespace wexal {
namespace u8port {
namespace detail {
namespace win32 {

std::FILE* _wfopen(const wide_char* file_name, const wide_char* mode) { return ::_wfopen(file_name, mode); }

std::FILE* _wfreopen(const wide_char* file_name, const wide_char* mode, std::FILE* stream) {
    return ::_wfreopen(file_name, mode, stream);
}

int _wremove(const wide_char* file_name) { return ::_wremove(file_name); }

int _wrename(const wide_char* old_name, const wide_char* new_name) { return ::_wrename(old_name, new_name); }

int _wsystem(const wide_char* command) { return ::_wsystem(command); }

#if defined(_UCRT) || defined(_MSC_VER)
// UCRT has no __wgetmainargs of its own: the same from its start-up calls,
// which leave the new mode alone (the program's start-up has set it).
int __wgetmainargs(int* argc, wide_char*** argv, wide_char*** envp, int expand_wildcards, int*) {
    if (::_configure_wide_argv(expand_wildcards != 0 ? _crt_argv_expanded_arguments : _crt_argv_unexpanded_arguments) !=
            0 ||
        ::_initialize_wide_environment() != 0) {
        return -1;
    }
    *argc = *::__p___argc();
    *argv = *::__p___wargv();
    *envp = ::_get_initial_wide_environment();
    return 0;
}
#else
int __wgetmainargs(int* argc, wide_char*** argv, wide_char*** envp, int expand_wildcards, int* new_mode) {
    wexal_startupinfo info{new_mode != nullptr ? *new_mode : 0};
    return ::__wgetmainargs(argc, argv, envp, expand_wildcards, &info);
}

// msvcrt.dll exports its new-mode query under its C++ name only, which no
// compiler but the runtime's own can call by name: it is looked up once in
// the module that the wide split comes from.
int _query_new_mode() {
    using query = int(__cdecl*)();
    static const query query_new_mode = [] {
        HMODULE runtime = nullptr;
        if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                  reinterpret_cast<LPCWSTR>(&::__wgetmainargs), &runtime)) {
            return query(nullptr);
        }
        return reinterpret_cast<query>(
            reinterpret_cast<void (*)()>(::GetProcAddress(runtime, "?_query_new_mode@@YAHXZ")));
    }();
    return query_new_mode != nullptr ? query_new_mode() : 0;
}
#endif

#if defined(_UCRT) || defined(_MSC_VER)
int _query_new_mode() { return ::_query_new_mode(); }
#endif

int* __p___argc() { return runtime_argc(); }

char*** __p___argv() { return runtime_argv(); }

int _wputenv_s(const wide_char* name, const wide_char* value) { return ::_wputenv_s(name, value); }

dword GetEnvironmentVariableW(const wide_char* name, wide_char* buffer, dword size) {
    return ::GetEnvironmentVariableW(name, buffer, size);
}

int SetEnvironmentVariableW(const wide_char* name, const wide_char* value) {
    return ::SetEnvironmentVariableW(name, value);
}

dword GetLastError() { return ::GetLastError(); }

void SetLastError(dword error) { ::SetLastError(error); }

dword GetFullPathNameW(const wide_char* file_name, dword size, wide_char* buffer, wide_char** file_part) {
    return ::GetFullPathNameW(file_name, size, buffer, file_part);
}

handle GetStdHandle(dword which) { return ::GetStdHandle(which); }

int GetConsoleMode(handle console, dword* mode) {
    DWORD value = 0;
    const BOOL ok = ::GetConsoleMode(console, &value);
    if (mode != nullptr) *mode = value;
    return ok;
}

int WriteConsoleW(handle console, const wide_char* buffer, dword count, dword* written, void* reserved) {
    DWORD value = 0;
    const BOOL ok = ::WriteConsoleW(console, buffer, count, &value, reserved);
    if (written != nullptr) *written = value;
    return ok;
}

int ReadConsoleW(handle console, wide_char* buffer, dword count, dword* read, void* input_control) {
    DWORD value = 0;
    const BOOL ok = ::ReadConsoleW(console, buffer, count, &value,
                                   static_cast<PCONSOLE_READCONSOLE_CONTROL>(input_control));
    if (read != nullptr) *read = value;
    return ok;
}

std::FILE* _wpopen(const wide_char* command, const wide_char* mode) { return ::_wpopen(command, mode); }

int _pclose(std::FILE* stream) { return ::_pclose(stream); }

handle _get_osfhandle(int fd) { return reinterpret_cast<handle>(::_get_osfhandle(fd)); }

int WriteFile(handle file, const void* buffer, dword size, dword* written, void* overlapped) {
    DWORD value = 0;
    // No count for an overlapped write that is left pending (as documented).
    const BOOL ok = ::WriteFile(file, buffer, size, written != nullptr ? &value : nullptr,
                                static_cast<LPOVERLAPPED>(overlapped));
    if (written != nullptr) *written = value;
    return ok;
}

dword GetFileAttributesW(const wide_char* file_name) { return ::GetFileAttributesW(file_name); }

dword GetSystemDirectoryW(wide_char* buffer, dword size) { return ::GetSystemDirectoryW(buffer, size); }

// KERNEL32 and C runtime: files and directories by name.
int _wstat64(const wide_char* name, stat_type* out) { return ::_wstat64(name, out); }

int _waccess(const wide_char* name, int mode) { return ::_waccess(name, mode); }

int _wmkdir(const wide_char* name) { return ::_wmkdir(name); }

int _wrmdir(const wide_char* name) { return ::_wrmdir(name); }

int _wchdir(const wide_char* name) { return ::_wchdir(name); }

int _wchmod(const wide_char* name, int mode) { return ::_wchmod(name, mode); }

int _wopen(const wide_char* name, int flags, int mode) { return ::_wopen(name, flags, mode); }

dword GetCurrentDirectoryW(dword size, wide_char* buffer) { return ::GetCurrentDirectoryW(size, buffer); }

static_assert(sizeof(find_data) == sizeof(WIN32_FIND_DATAW) &&
                  offsetof(find_data, reserved0) == offsetof(WIN32_FIND_DATAW, dwReserved0) &&
                  offsetof(find_data, name) == offsetof(WIN32_FIND_DATAW, cFileName),
              "the seam's WIN32_FIND_DATAW has the system's layout");
static_assert(o_noinherit == _O_NOINHERIT && s_ifdir == _S_IFDIR && s_ifmt == _S_IFMT, "the runtime's flag values");

handle FindFirstFileExW(const wide_char* pattern, find_data* found) {
    const HANDLE find = ::FindFirstFileExW(pattern, FindExInfoBasic, reinterpret_cast<WIN32_FIND_DATAW*>(found),
                                           FindExSearchNameMatch, nullptr, 0);
    return find == INVALID_HANDLE_VALUE ? nullptr : find;
}

int FindNextFileW(handle find, find_data* found) {
    return ::FindNextFileW(find, reinterpret_cast<WIN32_FIND_DATAW*>(found));
}

int FindClose(handle find) { return ::FindClose(find); }

static_assert(sizeof(overlapped) == sizeof(OVERLAPPED) && offsetof(overlapped, event) == offsetof(OVERLAPPED, hEvent),
              "the seam's OVERLAPPED has the system's layout");

int CreateProcessW(const wide_char* application_name, wide_char* command_line, dword creation_flags, void* environment,
                   const wide_char* current_directory, const handle* std_handles, const handle* inherit,
                   dword inherit_count, handle* process, dword* process_id) {
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::unique_ptr<char[]> storage(new char[size]);
    const auto attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.get());
    if (!::InitializeProcThreadAttributeList(attributes, 1, 0, &size)) return 0;
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = std_handles[0];
    startup.StartupInfo.hStdOutput = std_handles[1];
    startup.StartupInfo.hStdError = std_handles[2];
    startup.lpAttributeList = attributes;
    PROCESS_INFORMATION started{};
    // An empty list is refused; then nothing is inherited at all.
    const BOOL listed = inherit_count == 0 ||
                        ::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                                    const_cast<handle*>(inherit), inherit_count * sizeof(handle),
                                                    nullptr, nullptr);
    const BOOL ok = listed && ::CreateProcessW(application_name, command_line, nullptr, nullptr, inherit_count != 0,
                                               creation_flags | EXTENDED_STARTUPINFO_PRESENT, environment,
                                               current_directory, &startup.StartupInfo, &started);
    const DWORD error = ::GetLastError();
    ::DeleteProcThreadAttributeList(attributes);
    if (!ok) {
        ::SetLastError(error);
        return 0;
    }
    ::CloseHandle(started.hThread);
    *process = started.hProcess;
    *process_id = started.dwProcessId;
    return 1;
}

dword WaitForSingleObject(handle object, dword milliseconds) { return ::WaitForSingleObject(object, milliseconds); }

dword WaitForMultipleObjects(dword count, const handle* objects, int wait_all, dword milliseconds) {
    return ::WaitForMultipleObjects(count, objects, wait_all, milliseconds);
}

int GetExitCodeProcess(handle process, dword* exit_code) {
    DWORD value = 0;
    const BOOL ok = ::GetExitCodeProcess(process, &value);
    if (exit_code != nullptr) *exit_code = value;
    return ok;
}

int TerminateProcess(handle process, unsigned exit_code) { return ::TerminateProcess(process, exit_code); }

handle GetCurrentProcess() { return ::GetCurrentProcess(); }

dword GetCurrentProcessId() { return ::GetCurrentProcessId(); }

int DuplicateHandle(handle source_process, handle source, handle target_process, handle* target, dword access,
                    int inherit_handle, dword options) {
    return ::DuplicateHandle(source_process, source, target_process, target, access, inherit_handle, options);
}

handle CreateNamedPipeW(const wide_char* name, dword open_mode, dword pipe_mode, dword max_instances, dword out_size,
                        dword in_size, dword default_timeout, int inherit_handle) {
    SECURITY_ATTRIBUTES security{sizeof security, nullptr, inherit_handle};
    return ::CreateNamedPipeW(name, open_mode, pipe_mode, max_instances, out_size, in_size, default_timeout, &security);
}

handle CreateFileW(const wide_char* file_name, dword access, dword share_mode, int inherit_handle, dword disposition,
                   dword flags, handle template_file) {
    SECURITY_ATTRIBUTES security{sizeof security, nullptr, inherit_handle};
    return ::CreateFileW(file_name, access, share_mode, &security, disposition, flags, template_file);
}

int ReadFile(handle file, void* buffer, dword size, dword* read, void* overlapped) {
    DWORD value = 0;
    const BOOL ok = ::ReadFile(file, buffer, size, read != nullptr ? &value : nullptr,
                               static_cast<LPOVERLAPPED>(overlapped));
    if (read != nullptr) *read = value;
    return ok;
}

int GetOverlappedResult(handle file, overlapped* pending, dword* transferred, int wait) {
    DWORD value = 0;
    const BOOL ok = ::GetOverlappedResult(file, reinterpret_cast<OVERLAPPED*>(pending), &value, wait);
    if (transferred != nullptr) *transferred = value;
    return ok;
}

int CancelIoEx(handle file, overlapped* pending) { return ::CancelIoEx(file, reinterpret_cast<OVERLAPPED*>(pending)); }

handle CreateEventW(int manual_reset, int initial_state) {
    return ::CreateEventW(nullptr, manual_reset, initial_state, nullptr);
}

int CompareStringOrdinal(const wide_char* a, int a_size, const wide_char* b, int b_size, int ignore_case) {
    return ::CompareStringOrdinal(a, a_size, b, b_size, ignore_case);
}

int MultiByteToWideChar(unsigned code_page, dword flags, const char* text, int size, wide_char* out, int out_size) {
    return ::MultiByteToWideChar(code_page, flags, text, size, out, out_size);
}

int CloseHandle(handle object) { return ::CloseHandle(object); }

dword GetModuleFileNameW(handle module, wide_char* buffer, dword size) {
    return ::GetModuleFileNameW(static_cast<HMODULE>(module), buffer, size);
}

// Looked up once: GetTempPath2W is missing from older systems and from Wine 8.
dword GetTempPath2W(dword size, wide_char* buffer) {
    using get_temp_path = DWORD(WINAPI*)(DWORD, LPWSTR);
    static const get_temp_path get_temp_path2 = reinterpret_cast<get_temp_path>(
        reinterpret_cast<void (*)()>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetTempPath2W")));
    if (get_temp_path2 == nullptr) {
        ::SetLastError(ERROR_PROC_NOT_FOUND);
        return 0;
    }
    return get_temp_path2(size, buffer);
}

dword GetTempPathW(dword size, wide_char* buffer) { return ::GetTempPathW(size, buffer); }

int OpenProcessToken(handle process, dword access, handle* token) { return ::OpenProcessToken(process, access, token); }

// Looked up once in USERENV, loaded from the system's own folder only: a
// static library that linked it would make every consumer name it too.
int GetUserProfileDirectoryW(handle token, wide_char* buffer, dword* size) {
    using get_profile_directory = BOOL(WINAPI*)(HANDLE, LPWSTR, LPDWORD);
    static const get_profile_directory get_profile = [] {
        const HMODULE userenv = ::LoadLibraryExW(L"userenv.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        return userenv == nullptr ? nullptr
                                  : reinterpret_cast<get_profile_directory>(reinterpret_cast<void (*)()>(
                                        ::GetProcAddress(userenv, "GetUserProfileDirectoryW")));
    }();
    if (get_profile == nullptr) {
        ::SetLastError(ERROR_PROC_NOT_FOUND);
        return 0;
    }
    DWORD value = *size;
    const BOOL ok = get_profile(token, buffer, &value);
    *size = value;
    return ok;
}

dword FormatMessageW(dword flags, dword message_id, dword language_id, wide_char* buffer, dword size) {
    return ::FormatMessageW(flags, nullptr, message_id, language_id, buffer, size, nullptr);
}

const wide_char* _wcserror(int errno_value) { return ::_wcserror(errno_value); }

}  // namespace win32
}  // namespace detail
}  // namespace u8port
}  // namespace wexal
