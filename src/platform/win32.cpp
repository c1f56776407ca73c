// The Windows platform layer: each call forwards to the real C runtime or
// KERNEL32 function. DWORD and BOOL differ in type from the fixed-width types
// of the interface, so counts pass through locals.
#include "platform.hpp"

#include <windows.h>

#include <io.h>
#include <process.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

namespace wexal {
namespace u8port {
namespace detail {
namespace platform {

std::FILE* _wfopen(const wide_char* file_name, const wide_char* mode) { return ::_wfopen(file_name, mode); }

std::FILE* _wfreopen(const wide_char* file_name, const wide_char* mode, std::FILE* stream) {
    return ::_wfreopen(file_name, mode, stream);
}

int _wremove(const wide_char* file_name) { return ::_wremove(file_name); }

int _wrename(const wide_char* old_name, const wide_char* new_name) { return ::_wrename(old_name, new_name); }

int _wsystem(const wide_char* command) { return ::_wsystem(command); }

dword GetEnvironmentVariableW(const wide_char* name, wide_char* buffer, dword size) {
    return ::GetEnvironmentVariableW(name, buffer, size);
}

int SetEnvironmentVariableW(const wide_char* name, const wide_char* value) {
    return ::SetEnvironmentVariableW(name, value);
}

dword GetLastError() { return ::GetLastError(); }

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
    const BOOL ok =
        ::ReadConsoleW(console, buffer, count, &value, static_cast<PCONSOLE_READCONSOLE_CONTROL>(input_control));
    if (read != nullptr) *read = value;
    return ok;
}

}  // namespace platform
}  // namespace detail
}  // namespace u8port
}  // namespace wexal
