#include <wexal/u8port/cstdlib.hpp>

#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include <wexal/u8port/cstdio.hpp>
#include <wexal/u8port/stackstring.hpp>

#include "platform/platform.hpp"
#include "standard_streams.hpp"

namespace wexal {
namespace u8port {

#if defined(_WIN32)

namespace {

using platform_dword = detail::platform::dword;

// Serves every value shorter than this from the stack, in one lookup.
constexpr platform_dword wprobe_size = 64;
// Enough for setenv to learn whether a variable exists without copying it.
constexpr platform_dword wexistence_probe_size = 2;

// Decides whether a lookup that returned 0 found no variable. A 0 result is
// also what an existing empty variable gives, and then the platform leaves
// the last error as it was (Windows and Wine both do): after an earlier miss
// on this thread it still reads 203. A zero-capacity lookup settles it, since
// an existing variable, even an empty one, needs room for its terminator.
bool is_missing(const wide_char* name, wide_char* scratch) {
    if (detail::platform::GetLastError() != detail::platform::error_envvar_not_found) return false;
    return detail::platform::GetEnvironmentVariableW(name, scratch, 0) == 0;
}

int to_status(int platform_result) noexcept { return platform_result != 0 ? 0 : -1; }

// Sets (null: removes) a variable in the process, then in the C runtime's own
// copy of the environment, which its getenv and _wgetenv read (and so
// whatever reads the environment through it). The runtime cannot hold an
// empty value: it removes the variable, from the process too, so the process
// gets the empty value back; getenv and child processes see it, the runtime
// sees no variable.
//
// One change at a time: changing the runtime's copy from several threads at
// once is not safe (Wine's msvcrt faults within a few runs of the concurrency
// test), and the steps of one change must not interleave with another's, or
// the runtime and the process could end up with different values.
std::mutex set_variable_lock;

int set_variable(const wide_char* name, const wide_char* value) {
    const std::lock_guard<std::mutex> hold(set_variable_lock);
    if (detail::platform::SetEnvironmentVariableW(name, value) == 0) return -1;
    const wide_char none[1] = {0};
    detail::platform::_wputenv_s(name, value != nullptr ? value : none);
    if (value == nullptr || value[0] != 0) return 0;
    return to_status(detail::platform::SetEnvironmentVariableW(name, value));
}

}  // namespace

char* getenv(const char* name) {
    // Constructed by the first call, which registers its destruction then, so
    // it goes before everything the library constructed while loading.
    static narrow_stackstring getenv_result;

    const wide_short_stackstring wide_name(name);
    std::vector<wide_char> wbuffer;
    wide_char wprobe[wprobe_size];
    // A platform may answer 0 without writing anything; the probe then reads
    // as an empty value instead of whatever the stack held.
    wprobe[0] = 0;

    platform_dword n = detail::platform::GetEnvironmentVariableW(wide_name.get(), wprobe, wprobe_size);
    if (n == 0 && is_missing(wide_name.get(), wprobe)) return nullptr;
    const wide_char* value = wprobe;
    if (n >= wprobe_size) {
        // n is the size the value needs, terminator included. It can grow
        // before the next lookup (another thread, or another process sharing
        // the block); size again until it fits. One spare unit, zeroed, keeps
        // the buffer terminated whatever the platform writes.
        for (;;) {
            wbuffer.assign(static_cast<std::size_t>(n) + 1, wide_char(0));
            const platform_dword m = detail::platform::GetEnvironmentVariableW(wide_name.get(), wbuffer.data(), n);
            if (m < n) {
                if (m == 0 && is_missing(wide_name.get(), wbuffer.data())) return nullptr;
                break;
            }
            // A value that fits cannot need exactly the capacity it was
            // given; a platform saying so is not retried forever.
            if (m == n) return nullptr;
            n = m;
        }
        value = wbuffer.data();
    }
    getenv_result.convert(value);
    return getenv_result.get();
}

int setenv(const char* name, const char* value, int overwrite) {
    const wide_short_stackstring wide_name(name);
    if (overwrite == 0) {
        wide_char wprobe[wexistence_probe_size] = {};
        const platform_dword n = detail::platform::GetEnvironmentVariableW(wide_name.get(), wprobe,
                                                                           wexistence_probe_size);
        if (n != 0 || !is_missing(wide_name.get(), wprobe)) return 0;
    }
    const wide_stackstring wide_value(value);
    return set_variable(wide_name.get(), wide_value.get());
}

int unsetenv(const char* name) {
    const wide_short_stackstring wide_name(name);
    return set_variable(wide_name.get(), nullptr);
}

int putenv(const char* assignment) {
    if (assignment == nullptr) return -1;
    const char* const equals = std::strchr(assignment, '=');
    if (equals == nullptr) return -1;
    const wide_short_stackstring wide_name(assignment, equals);
    const wide_stackstring wide_value(equals + 1);
    return set_variable(wide_name.get(), wide_value.get());
}

int system(const char* command) {
    detail::flush_standard_streams();
    if (command == nullptr) return detail::platform::_wsystem(nullptr);
    const wide_stackstring wide_command(command);
    return detail::platform::_wsystem(wide_command.get());
}

#else

// Environment entries and commands are bytes here: they reach the C library
// as they are.

char* getenv(const char* name) {
    // The value is copied as on Windows: it stays readable until the next
    // call, whatever happens to the variable meanwhile.
    static std::optional<detail::byte_name> getenv_result;

    const char* const value = detail::platform::getenv(name);
    if (value == nullptr) return nullptr;
    getenv_result.emplace(value, value + std::strlen(value));
    return const_cast<char*>(getenv_result->get());
}

int setenv(const char* name, const char* value, int overwrite) {
    // A null value removes the variable, as on Windows.
    if (value == nullptr) {
        if (overwrite == 0 && detail::platform::getenv(name) != nullptr) return 0;
        return detail::platform::unsetenv(name);
    }
    return detail::platform::setenv(name, value, overwrite);
}

int unsetenv(const char* name) { return detail::platform::unsetenv(name); }

// The variable gets a copy of the value: the caller's string is not kept.
int putenv(const char* assignment) {
    if (assignment == nullptr) return -1;
    const char* const equals = std::strchr(assignment, '=');
    if (equals == nullptr) return -1;
    const detail::byte_name name(assignment, equals);
    return detail::platform::setenv(name.get(), equals + 1, 1);
}

int system(const char* command) {
    detail::flush_standard_streams();
    return detail::platform::system(command);
}

#endif

}  // namespace u8port
}  // namespace wexal
