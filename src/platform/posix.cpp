// The stand-in platform layer for non-Windows hosts. It behaves like the
// Windows calls the library relies on, on top of the C library: wide
// arguments are converted back to UTF-8 with the library's own codecs, and a
// null argument gives an error result with errno EINVAL instead of a crash.
#include "platform.hpp"
#include "posix_last_error.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>

#include <wexal/u8port/stackstring.hpp>
#include <wexal/u8port/transcode.hpp>

namespace wexal {
namespace u8port {
namespace detail {
namespace platform {
namespace {

thread_local dword last_error = 0;

}  // namespace

void set_last_error(dword code) noexcept { last_error = code; }

dword GetLastError() { return last_error; }

std::FILE* _wfopen(const wide_char* file_name, const wide_char* mode) {
    if (file_name == nullptr || mode == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    const narrow_stackstring name(file_name);
    const narrow_stackstring narrow_mode(mode);
    return std::fopen(name.get(), narrow_mode.get());
}

std::FILE* _wfreopen(const wide_char* file_name, const wide_char* mode, std::FILE* stream) {
    if (file_name == nullptr || mode == nullptr || stream == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    const narrow_stackstring name(file_name);
    const narrow_stackstring narrow_mode(mode);
    return std::freopen(name.get(), narrow_mode.get(), stream);
}

int _wremove(const wide_char* file_name) {
    if (file_name == nullptr) {
        errno = EINVAL;
        return -1;
    }
    const narrow_stackstring name(file_name);
    return std::remove(name.get());
}

int _wrename(const wide_char* old_name, const wide_char* new_name) {
    if (old_name == nullptr || new_name == nullptr) {
        errno = EINVAL;
        return -1;
    }
    const narrow_stackstring old_narrow(old_name);
    const narrow_stackstring new_narrow(new_name);
    return std::rename(old_narrow.get(), new_narrow.get());
}

// The environment. Values are stored in UTF-8 through the C library and
// handed out as UTF-16, with the outcomes of the Windows calls: a value that
// fits comes back with its length, one that does not with the size it needs
// (terminator included) and an untouched buffer, a missing one as 0 with last
// error 203. Unlike Windows, an empty value also resets the last error to 0,
// so the stand-in never leaves a stale 203 behind a variable that exists.
//
// Windows serialises its environment calls internally; glibc's getenv does
// not guard against a concurrent setenv, so every access here takes a lock
// of the stand-in's own.
namespace {

constexpr dword error_success = 0;
constexpr dword error_not_enough_memory = 8;   // ERROR_NOT_ENOUGH_MEMORY
constexpr dword error_invalid_parameter = 87;  // ERROR_INVALID_PARAMETER

// Constant-initialised and trivially destroyed, so it is usable from any
// other static's constructor or destructor, and an unloaded library leaves
// nothing behind.
std::mutex environment_mutex;

std::mutex& environment_lock() { return environment_mutex; }

// The C library can hold neither an empty name nor one with '=' in it.
bool is_storable_name(const wide_char* name) noexcept {
    if (name == nullptr || name[0] == 0) return false;
    for (; *name != 0; ++name) {
        if (*name == u'=') return false;
    }
    return true;
}

}  // namespace

dword GetEnvironmentVariableW(const wide_char* name, wide_char* buffer, dword size) {
    // A name the C library cannot hold cannot have been set.
    if (!is_storable_name(name)) {
        set_last_error(error_envvar_not_found);
        return 0;
    }
    const narrow_stackstring narrow_name(name);
    const std::lock_guard<std::mutex> lock(environment_lock());
    const char* const value = std::getenv(narrow_name.get());
    if (value == nullptr) {
        set_last_error(error_envvar_not_found);
        return 0;
    }
    const char* const end = value + std::strlen(value);
    const std::size_t units = transcoded_length<wide_char>(value, end);
    if (units >= size) {
        constexpr std::size_t largest = std::numeric_limits<dword>::max();
        return static_cast<dword>(std::min(units + 1, largest));
    }
    if (buffer == nullptr) {
        set_last_error(error_invalid_parameter);
        return 0;
    }
    transcode_into(buffer, size, value, end);
    if (units == 0) set_last_error(error_success);
    return static_cast<dword>(units);
}

int SetEnvironmentVariableW(const wide_char* name, const wide_char* value) {
    if (!is_storable_name(name)) {
        set_last_error(error_invalid_parameter);
        return 0;
    }
    const narrow_stackstring narrow_name(name);
    const narrow_stackstring narrow_value(value);
    const std::lock_guard<std::mutex> lock(environment_lock());
    const int result = value == nullptr ? ::unsetenv(narrow_name.get())
                                        : ::setenv(narrow_name.get(), narrow_value.get(), 1);
    if (result != 0) {
        set_last_error(errno == ENOMEM ? error_not_enough_memory : error_invalid_parameter);
        return 0;
    }
    return 1;
}

// The command processor is /bin/sh, through std::system; null asks whether
// it is there. The result is std::system's wait status. No lock is held
// while the command runs: a setenv in another thread must not wait for it.
int _wsystem(const wide_char* command) {
    if (command == nullptr) return std::system(nullptr);
    const narrow_stackstring narrow_command(command);
    return std::system(narrow_command.get());
}

int __wgetmainargs(int* argc, wide_char*** argv, wide_char*** envp, int, int*) {
    // No wide command line here: main's argv already is what the program was given.
    if (argc != nullptr) *argc = 0;
    if (argv != nullptr) *argv = nullptr;
    if (envp != nullptr) *envp = nullptr;
    return -1;
}

// main's arguments as the C library handed them to the program: glibc passes
// argc, argv and envp to each function in .init_array, also in a library
// loaded later, so this needs no /proc. Elsewhere argv stays null.
namespace {

int main_argc = 0;
char** main_argv = nullptr;

#if defined(__ELF__) && defined(__GLIBC__)
void keep_main_arguments(int argc, char** argv, char**) {
    main_argc = argc;
    main_argv = argv;
}

__attribute__((section(".init_array"), used)) void (*const keep_main_arguments_at_start)(int, char**,
                                                                                         char**) = keep_main_arguments;
#endif

}  // namespace

int* __p___argc() { return &main_argc; }

char*** __p___argv() { return &main_argv; }

int _query_new_mode() { return 0; }

int _wputenv_s(const wide_char*, const wide_char*) { return 0; }

// The byte calls: the C library's own, with null names refused and the
// environment under the same lock as the wide calls above. A value getenv
// handed out stays readable after the lock is released: glibc never frees a
// value it stored, it only stops pointing at it.
std::FILE* fopen(const char* file_name, const char* mode) {
    if (file_name == nullptr || mode == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    return std::fopen(file_name, mode);
}

std::FILE* freopen(const char* file_name, const char* mode, std::FILE* stream) {
    if (file_name == nullptr || mode == nullptr || stream == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    return std::freopen(file_name, mode, stream);
}

int remove(const char* file_name) {
    if (file_name == nullptr) {
        errno = EINVAL;
        return -1;
    }
    return std::remove(file_name);
}

int rename(const char* old_name, const char* new_name) {
    if (old_name == nullptr || new_name == nullptr) {
        errno = EINVAL;
        return -1;
    }
    return std::rename(old_name, new_name);
}

int system(const char* command) { return std::system(command); }

char* getenv(const char* name) {
    if (name == nullptr) return nullptr;
    const std::lock_guard<std::mutex> lock(environment_lock());
    return std::getenv(name);
}

int setenv(const char* name, const char* value, int overwrite) {
    if (name == nullptr || value == nullptr) {
        errno = EINVAL;
        return -1;
    }
    const std::lock_guard<std::mutex> lock(environment_lock());
    return ::setenv(name, value, overwrite);
}

int unsetenv(const char* name) {
    if (name == nullptr) {
        errno = EINVAL;
        return -1;
    }
    const std::lock_guard<std::mutex> lock(environment_lock());
    return ::unsetenv(name);
}

}  // namespace platform
}  // namespace detail
}  // namespace u8port
}  // namespace wexal
