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

}  // namespace platform
}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_PLATFORM_PLATFORM_HPP
