// The one seam between the Windows implementation and the system: every
// KERNEL32 and C-runtime call that src/windows makes, under its Windows name
// and argument order, with fixed-width types (dword for DWORD, int for BOOL,
// handle for HANDLE) and wide_char for WCHAR. wide_char is 16 bits on every
// build: wchar_t on Windows, so win32.cpp forwards without a cast, and
// char16_t on Linux, where the same sources compile against the unit tests'
// fake (tests/support) and run natively.
//
// win32.cpp is the only file that includes <windows.h>.
#ifndef WEXAL_U8PORT_WINDOWS_WIN32_HPP
#define WEXAL_U8PORT_WINDOWS_WIN32_HPP

#include <cstdint>
#include <cstdio>

#include <wexal/u8port/config.hpp>
#include <wexal/u8port/system.hpp>

namespace wexal {
namespace u8port {
namespace detail {
namespace win32 {

using dword = std::uint32_t;  // DWORD
using handle = void*;         // HANDLE

constexpr dword error_file_not_found = 2;       // ERROR_FILE_NOT_FOUND
constexpr dword error_access_denied = 5;        // ERROR_ACCESS_DENIED
constexpr dword error_broken_pipe = 109;        // ERROR_BROKEN_PIPE
constexpr dword error_directory = 267;          // ERROR_DIRECTORY
constexpr dword error_io_pending = 997;         // ERROR_IO_PENDING
constexpr dword error_envvar_not_found = 203;   // ERROR_ENVVAR_NOT_FOUND
constexpr dword error_operation_aborted = 995;  // ERROR_OPERATION_ABORTED
constexpr dword std_input_handle = static_cast<dword>(-10);
constexpr dword std_output_handle = static_cast<dword>(-11);
constexpr dword std_error_handle = static_cast<dword>(-12);
constexpr dword invalid_file_attributes = 0xFFFFFFFF;     // INVALID_FILE_ATTRIBUTES
constexpr dword file_attribute_directory = 0x10;          // FILE_ATTRIBUTE_DIRECTORY
constexpr dword create_unicode_environment = 0x400;       // CREATE_UNICODE_ENVIRONMENT
constexpr dword infinite = 0xFFFFFFFF;                    // INFINITE
constexpr dword wait_timeout = 258;                       // WAIT_TIMEOUT
constexpr dword generic_read = 0x80000000;                // GENERIC_READ
constexpr dword generic_write = 0x40000000;               // GENERIC_WRITE
constexpr dword file_read_attributes = 0x80;              // FILE_READ_ATTRIBUTES
constexpr dword file_share_read_write = 3;                // FILE_SHARE_READ | FILE_SHARE_WRITE
constexpr dword open_existing = 3;                        // OPEN_EXISTING
constexpr dword file_flag_overlapped = 0x40000000;        // FILE_FLAG_OVERLAPPED
constexpr dword file_flag_first_pipe_instance = 0x80000;  // FILE_FLAG_FIRST_PIPE_INSTANCE
constexpr dword pipe_access_inbound = 1;                  // PIPE_ACCESS_INBOUND
constexpr dword pipe_access_outbound = 2;                 // PIPE_ACCESS_OUTBOUND
constexpr dword pipe_reject_remote_clients = 8;           // PIPE_TYPE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS
constexpr dword duplicate_same_access = 2;                // DUPLICATE_SAME_ACCESS

// OVERLAPPED, with the same layout (checked in win32.cpp).
struct overlapped {
    std::uintptr_t internal = 0, internal_high = 0;
    dword offset = 0, offset_high = 0;
    handle event = nullptr;
};

// C runtime: files and commands by wide name.
std::FILE* _wfopen(const wide_char* file_name, const wide_char* mode);
std::FILE* _wfreopen(const wide_char* file_name, const wide_char* mode, std::FILE* stream);
int _wremove(const wide_char* file_name);
int _wrename(const wide_char* old_name, const wide_char* new_name);
int _wsystem(const wide_char* command);
std::FILE* _wpopen(const wide_char* command, const wide_char* mode);
int _pclose(std::FILE* stream);
// C runtime: the handle behind a descriptor (INVALID_HANDLE_VALUE for none).
handle _get_osfhandle(int fd);

// C runtime: its own split of the wide command line and its wide start-up
// environment (both owned by the runtime), made with the given globbing;
// msvcrt.dll also hands *new_mode to _set_new_mode. 0 on success.
int __wgetmainargs(int* argc, wide_char*** argv, wide_char*** envp, int expand_wildcards, int* new_mode);
// C runtime: main's narrow argc and argv as the program's start-up recorded
// them (the wide split above overwrites the count).
int* __p___argc();
char*** __p___argv();
// C runtime: the current new mode (whether a failed malloc calls the new handler).
int _query_new_mode();
// C runtime: sets a variable in the runtime's own copy of the environment
// (what its getenv and _wgetenv read); an empty value removes it there and
// from the process.
int _wputenv_s(const wide_char* name, const wide_char* value);

// KERNEL32: environment and errors.
dword GetEnvironmentVariableW(const wide_char* name, wide_char* buffer, dword size);
int SetEnvironmentVariableW(const wide_char* name, const wide_char* value);
dword GetLastError();
void SetLastError(dword error);

// KERNEL32: names. GetFullPathNameW gives the full path Win32 makes of a name
// (relative and drive-relative names, '/', '.', '..', trailing dots and
// spaces): the length written, or the size needed (terminator included) when
// size is too small, or 0 on failure.
dword GetFullPathNameW(const wide_char* file_name, dword size, wide_char* buffer, wide_char** file_part);
dword GetFileAttributesW(const wide_char* file_name);
dword GetSystemDirectoryW(wide_char* buffer, dword size);

// KERNEL32 and C runtime: files and directories by name. The C runtime's
// calls set errno; GetCurrentDirectoryW answers as GetFullPathNameW does.
// FindFirstFileExW asks for FindExInfoBasic (no short names) and
// FindExSearchNameMatch, and gives null (not INVALID_HANDLE_VALUE) on failure.
constexpr dword error_path_not_found = 3;                 // ERROR_PATH_NOT_FOUND
constexpr dword error_not_enough_memory = 8;              // ERROR_NOT_ENOUGH_MEMORY
constexpr dword error_no_more_files = 18;                 // ERROR_NO_MORE_FILES
constexpr dword error_sharing_violation = 32;             // ERROR_SHARING_VIOLATION
constexpr dword error_invalid_name = 123;                 // ERROR_INVALID_NAME
constexpr dword error_filename_exceed_range = 206;        // ERROR_FILENAME_EXCED_RANGE
constexpr dword file_attribute_reparse_point = 0x400;     // FILE_ATTRIBUTE_REPARSE_POINT
constexpr dword io_reparse_tag_mount_point = 0xA0000003;  // IO_REPARSE_TAG_MOUNT_POINT (a junction)
constexpr dword io_reparse_tag_symlink = 0xA000000C;      // IO_REPARSE_TAG_SYMLINK
constexpr int o_noinherit = 0x80;                         // _O_NOINHERIT
constexpr unsigned s_ifmt = 0xF000, s_ifdir = 0x4000;     // _S_IFMT, _S_IFDIR

// WIN32_FIND_DATAW, with the same layout (checked in win32.cpp).
struct find_data {
    dword attributes;
    dword times[6];  // creation, last access, last write
    dword size_high, size_low;
    dword reserved0;  // the reparse tag, for a reparse point
    dword reserved1;
    wide_char name[260];
    wide_char alternate_name[14];
};

int _wstat64(const wide_char* name, stat_type* out);
int _waccess(const wide_char* name, int mode);
int _wmkdir(const wide_char* name);
int _wrmdir(const wide_char* name);
int _wchdir(const wide_char* name);
int _wchmod(const wide_char* name, int mode);
int _wopen(const wide_char* name, int flags, int mode);
dword GetCurrentDirectoryW(dword size, wide_char* buffer);
handle FindFirstFileExW(const wide_char* pattern, find_data* found);
int FindNextFileW(handle find, find_data* found);
int FindClose(handle find);

// KERNEL32: console.
handle GetStdHandle(dword which);
int GetConsoleMode(handle console, dword* mode);
int WriteConsoleW(handle console, const wide_char* buffer, dword count, dword* written, void* reserved);
int ReadConsoleW(handle console, wide_char* buffer, dword count, dword* read, void* input_control);
int WriteFile(handle file, const void* buffer, dword size, dword* written, void* overlapped);

// KERNEL32: processes. CreateProcessW with no security attributes, whose
// start-up info gives the child std_handles (input, output, error; null for
// none) as its standard handles, and lets it inherit exactly the
// inherit_count handles of `inherit` (each inheritable, none twice;
// PROC_THREAD_ATTRIBUTE_HANDLE_LIST of STARTUPINFOEXW): no other handle of
// this program reaches it. On success the process handle and id (the
// thread's handle is closed).
int CreateProcessW(const wide_char* application_name, wide_char* command_line, dword creation_flags, void* environment,
                   const wide_char* current_directory, const handle* std_handles, const handle* inherit,
                   dword inherit_count, handle* process, dword* process_id);
dword WaitForSingleObject(handle object, dword milliseconds);
dword WaitForMultipleObjects(dword count, const handle* objects, int wait_all, dword milliseconds);
int GetExitCodeProcess(handle process, dword* exit_code);
int TerminateProcess(handle process, unsigned exit_code);
int CloseHandle(handle object);
handle GetCurrentProcess();
dword GetCurrentProcessId();
int DuplicateHandle(handle source_process, handle source, handle target_process, handle* target, dword access,
                    int inherit_handle, dword options);

// KERNEL32: pipes, files and events. The security attributes are reduced to
// whether the handle is inheritable; CreateEventW has none and no name.
handle CreateNamedPipeW(const wide_char* name, dword open_mode, dword pipe_mode, dword max_instances, dword out_size,
                        dword in_size, dword default_timeout, int inherit_handle);
handle CreateFileW(const wide_char* file_name, dword access, dword share_mode, int inherit_handle, dword disposition,
                   dword flags, handle template_file);
// ReadFile as WriteFile (above): overlapped is an overlapped* or null.
int ReadFile(handle file, void* buffer, dword size, dword* read, void* overlapped);
int GetOverlappedResult(handle file, overlapped* pending, dword* transferred, int wait);
int CancelIoEx(handle file, overlapped* pending);
handle CreateEventW(int manual_reset, int initial_state);

// KERNEL32: text. CompareStringOrdinal: cstr_less_than, 2 equal, 3 greater, 0 on failure.
constexpr int cstr_less_than = 1;  // CSTR_LESS_THAN
int CompareStringOrdinal(const wide_char* a, int a_size, const wide_char* b, int b_size, int ignore_case);
int MultiByteToWideChar(unsigned code_page, dword flags, const char* text, int size, wide_char* out, int out_size);

// KERNEL32, ADVAPI32, USERENV and the C runtime: the program's places and error text.
// GetModuleFileNameW and GetTempPathW answer as fill_wide_buffer expects (the
// capacity itself when the path was cut to fit). GetTempPath2W is
// looked up at run time (Windows 11 and later, recent Server releases): where
// the system lacks it, 0 with error_proc_not_found. GetUserProfileDirectoryW
// (USERENV, looked up at run time too: 0 with error_proc_not_found where it
// cannot be loaded): *size in units with the terminator, both ways; too
// small, 0 with error_insufficient_buffer and the size needed.
constexpr dword error_insufficient_buffer = 122;      // ERROR_INSUFFICIENT_BUFFER
constexpr dword error_proc_not_found = 127;           // ERROR_PROC_NOT_FOUND
constexpr dword token_query = 8;                      // TOKEN_QUERY
constexpr dword format_message_from_system = 0x1200;  // FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS
dword GetModuleFileNameW(handle module, wide_char* buffer, dword size);
dword GetTempPath2W(dword size, wide_char* buffer);
dword GetTempPathW(dword size, wide_char* buffer);
int OpenProcessToken(handle process, dword access, handle* token);
int GetUserProfileDirectoryW(handle token, wide_char* buffer, dword* size);
// With no source and no arguments (the system's own messages only).
dword FormatMessageW(dword flags, dword message_id, dword language_id, wide_char* buffer, dword size);
// The C runtime's text for an errno value, in a buffer of the calling thread.
const wide_char* _wcserror(int errno_value);

}  // namespace win32
}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_WINDOWS_WIN32_HPP
