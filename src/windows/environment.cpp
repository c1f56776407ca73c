// The environment and command calls: names, values and command lines become
// UTF-16 for KERNEL32 and the C runtime, and a value read back becomes UTF-8;
// a malformed sequence on either side becomes U+FFFD.
#include <wexal/u8port/cstdlib.hpp>

#include <cstring>
#include <mutex>

#include <wexal/u8port/convert.hpp>
#include <wexal/u8port/stackstring.hpp>

#include "fill_buffer.hpp"
#include "standard_streams.hpp"
#include "win32.hpp"

namespace wexal {
namespace u8port {
namespace {

namespace win32 = detail::win32;

// Serves every value shorter than this from the stack, in one lookup.
constexpr std::size_t wprobe_size = 64;
// Enough for setenv to learn whether a variable exists without copying it.
constexpr win32::dword wexistence_probe_size = 2;

// Decides whether a lookup that returned 0 found no variable. A 0 result is
// also what an existing empty variable gives, and then the platform leaves
// the last error as it was (Windows and Wine both do): after an earlier miss
// on this thread it still reads 203. A zero-capacity lookup settles it, since
// an existing variable, even an empty one, needs room for its terminator.
// Another thread may set the variable between the two lookups: then the
// second finds a value, and the first answer stands for nothing.
enum class no_value { missing, empty, changed };

no_value why_no_value(const wide_char* name) {
    if (win32::GetLastError() != win32::error_envvar_not_found) return no_value::empty;
    wide_char scratch[1] = {0};
    const win32::dword n = win32::GetEnvironmentVariableW(name, scratch, 0);
    return n == 0 ? no_value::missing : n == 1 ? no_value::empty : no_value::changed;
}

bool is_missing(const wide_char* name) { return why_no_value(name) == no_value::missing; }

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
    if (win32::SetEnvironmentVariableW(name, value) == 0) return -1;
    const wide_char none[1] = {0};
    win32::_wputenv_s(name, value != nullptr ? value : none);
    if (value == nullptr || value[0] != 0) return 0;
    return to_status(win32::SetEnvironmentVariableW(name, value));
}

}  // namespace

char* getenv(const char* name) {
    // Constructed by the first call, which registers its destruction then, so
    // it goes before everything the library constructed while loading.
    static narrow_stackstring getenv_result;

    const wide_short_stackstring wide_name(name);
    return detail::fill_wide_buffer<wprobe_size>(
        [&](wide_char* buffer, win32::dword size) {
            return win32::GetEnvironmentVariableW(wide_name.get(), buffer, size);
        },
        [&](const wide_char* value, win32::dword n) -> char* {
            if (n == 0 && is_missing(wide_name.get())) return nullptr;
            getenv_result.convert(value);
            return getenv_result.get();
        });
}

// GetEnvironmentVariableW reads the process's block under the system's own
// lock, which SetEnvironmentVariableW takes too, and nothing here is shared.
std::optional<std::string> environment_value(std::string_view name) {
    if (name.empty() || name.find('\0') != std::string_view::npos) return std::nullopt;
    const wide_short_stackstring wide_name(name.data(), name.data() + name.size());
    for (;;) {
        bool changed = false;
        std::optional<std::string> value = detail::fill_wide_buffer<wprobe_size>(
            [&](wide_char* buffer, win32::dword size) {
                return win32::GetEnvironmentVariableW(wide_name.get(), buffer, size);
            },
            [&](const wide_char* text, win32::dword n) -> std::optional<std::string> {
                const no_value why = n == 0 ? why_no_value(wide_name.get()) : no_value::empty;
                if (why == no_value::missing) return std::nullopt;
                changed = why == no_value::changed;
                return narrow(wide_string_view(text, n));
            });
        if (!changed) return value;
    }
}

int setenv(const char* name, const char* value, int overwrite) {
    const wide_short_stackstring wide_name(name);
    if (overwrite == 0) {
        wide_char wprobe[wexistence_probe_size] = {};
        const win32::dword n = win32::GetEnvironmentVariableW(wide_name.get(), wprobe, wexistence_probe_size);
        if (n != 0 || !is_missing(wide_name.get())) return 0;
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
    if (command == nullptr) return win32::_wsystem(nullptr);
    const wide_stackstring wide_command(command);
    return win32::_wsystem(wide_command.get());
}

}  // namespace u8port
}  // namespace wexal
