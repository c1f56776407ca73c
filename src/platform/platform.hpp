// Every call the library makes into the operating system, under its Windows
// name and argument order. Three implementations are chosen at link time:
// win32.cpp forwards to the real calls, posix.cpp is the library's own stand-in
// on other systems, and the unit tests link an in-memory fake.
#ifndef WEXAL_U8PORT_PLATFORM_PLATFORM_HPP
#define WEXAL_U8PORT_PLATFORM_PLATFORM_HPP

#include <cstdint>
#include <cstdio>

#include <wexal/u8port/config.hpp>

namespace wexal {
namespace u8port {
namespace detail {
namespace platform {

using dword = std::uint32_t;  // DWORD
using handle = void*;         // HANDLE

constexpr dword error_envvar_not_found = 203;   // ERROR_ENVVAR_NOT_FOUND
constexpr dword error_operation_aborted = 995;  // ERROR_OPERATION_ABORTED
constexpr dword std_input_handle = static_cast<dword>(-10);
constexpr dword std_output_handle = static_cast<dword>(-11);
constexpr dword std_error_handle = static_cast<dword>(-12);

// C runtime: wide-character file and command calls.
std::FILE* _wfopen(const wide_char* file_name, const wide_char* mode);
std::FILE* _wfreopen(const wide_char* file_name, const wide_char* mode, std::FILE* stream);
int _wremove(const wide_char* file_name);
int _wrename(const wide_char* old_name, const wide_char* new_name);
int _wsystem(const wide_char* command);

// C runtime: the runtime's own split of the wide command line and its wide
// environment of start-up (both owned by the runtime), made with the
// program's globbing setting; msvcrt.dll also hands new_mode (the start-up
// info, which holds only that) to _set_new_mode. Returns 0 on success. The
// POSIX stand-in returns -1: there argv already holds the bytes the program
// was given.
int __wgetmainargs(int* argc, wide_char*** argv, wide_char*** envp, int expand_wildcards, int* new_mode);

// C runtime: where it keeps main's narrow argc and argv, as the program's
// start-up recorded them (the wide split above overwrites the count). The
// POSIX stand-in gives what the C library handed the program at start-up,
// argv null where it handed nothing.
int* __p___argc();
char*** __p___argv();

// C runtime: the current new mode (whether a failed malloc calls the new
// handler). The stand-in has none and answers 0.
int _query_new_mode();

// C runtime: sets a variable in the runtime's own copy of the environment
// (what its getenv and _wgetenv read); an empty value removes it there and
// from the process. The POSIX stand-in's runtime reads the process
// environment itself, which SetEnvironmentVariableW already changed: it does
// nothing and returns 0.
int _wputenv_s(const wide_char* name, const wide_char* value);

// KERNEL32: environment.
dword GetEnvironmentVariableW(const wide_char* name, wide_char* buffer, dword size);
int SetEnvironmentVariableW(const wide_char* name, const wide_char* value);
dword GetLastError();

// KERNEL32: console.
handle GetStdHandle(dword which);
int GetConsoleMode(handle console, dword* mode);
int WriteConsoleW(handle console, const wide_char* buffer, dword count, dword* written, void* reserved);
int ReadConsoleW(handle console, wide_char* buffer, dword count, dword* read, void* input_control);

#if defined(_WIN32)
// KERNEL32: the full path Win32 makes of a file name (relative names, drive-
// relative names, '/', '.', '..', trailing dots and spaces). Returns the
// length written, or the size needed (terminator included) when size is too
// small, or 0 on failure.
dword GetFullPathNameW(const wide_char* file_name, dword size, wide_char* buffer, wide_char** file_part);
#else
// C library, on systems where a name is bytes: names, environment entries
// and commands reach these calls exactly as the program gave them. The
// stand-in forwards to the C library; a null name gives an error result.
std::FILE* fopen(const char* file_name, const char* mode);
std::FILE* freopen(const char* file_name, const char* mode, std::FILE* stream);
int remove(const char* file_name);
int rename(const char* old_name, const char* new_name);
int system(const char* command);
char* getenv(const char* name);
int setenv(const char* name, const char* value, int overwrite);
int unsetenv(const char* name);
#endif

// Other programs (process.cpp). On Windows the C runtime's command pipe and
// KERNEL32's process calls. Elsewhere arguments, environment and commands
// stay bytes, so there is no UTF-16 stand-in: posix_process.cpp offers the
// same service on the C library.
#if defined(_WIN32)
constexpr dword invalid_file_attributes = 0xFFFFFFFF;  // INVALID_FILE_ATTRIBUTES
constexpr dword file_attribute_directory = 0x10;       // FILE_ATTRIBUTE_DIRECTORY
constexpr dword create_unicode_environment = 0x400;    // CREATE_UNICODE_ENVIRONMENT
constexpr dword infinite = 0xFFFFFFFF;                 // INFINITE
constexpr dword error_file_not_found = 2;              // ERROR_FILE_NOT_FOUND
std::FILE* _wpopen(const wide_char* command, const wide_char* mode);
int _pclose(std::FILE* stream);
dword GetFileAttributesW(const wide_char* file_name);
dword GetSystemDirectoryW(wide_char* buffer, dword size);
// CreateProcessW with no security attributes, the standard handles inherited
// and a default start-up info; on success the process handle (the thread's
// handle is closed).
int CreateProcessW(const wide_char* application_name, wide_char* command_line, dword creation_flags, void* environment,
                   const wide_char* current_directory, handle* process);
dword WaitForSingleObject(handle object, dword milliseconds);
int GetExitCodeProcess(handle process, dword* exit_code);
int CloseHandle(handle object);
#else
// Starts `program` (searched on PATH like execvp when it holds no '/', and
// checked before it starts, so that a program that cannot run is an error and
// never an exit status) with the null-terminated argv and envp (null:
// inherited), in `directory` (null: the current one), and waits for it. 0
// with the exit code (-N for signal N) in *exit_code, or an errno value.
int spawn_and_wait(const char* program, char* const* argv, char* const* envp, const char* directory, int* exit_code);
std::FILE* popen(const char* command, const char* mode);
int pclose(std::FILE* stream);
#endif

}  // namespace platform
}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_PLATFORM_PLATFORM_HPP
