// The environment and command calls on Linux: names, values and commands are
// bytes, and reach the C library as they are.
//
// glibc's getenv does not guard against a concurrent setenv, so every access
// here takes one lock. A value getenv handed out stays readable after the
// lock is released: glibc never frees a value it stored, it only stops
// pointing at it.
#include <wexal/u8port/cstdlib.hpp>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>

#include <wexal/u8port/stackstring.hpp>

#include "null_names.hpp"
#include "standard_streams.hpp"

namespace wexal {
namespace u8port {
namespace {

// Constant-initialised and trivially destroyed, so it is usable from any
// other static's constructor or destructor.
std::mutex environment_lock;

}  // namespace

char* getenv(const char* name) {
    // The value is copied as on Windows: it stays readable until the next
    // call, whatever happens to the variable meanwhile.
    static std::optional<detail::byte_name> getenv_result;

    if (name == nullptr) return nullptr;
    const std::lock_guard<std::mutex> hold(environment_lock);
    const char* const value = std::getenv(name);
    if (value == nullptr) return nullptr;
    getenv_result.emplace(value, value + std::strlen(value));
    return const_cast<char*>(getenv_result->get());
}

std::optional<std::string> environment_value(std::string_view name) {
    if (name.empty() || name.find('\0') != std::string_view::npos) return std::nullopt;
    const detail::byte_name terminated(name.data(), name.data() + name.size());
    const std::lock_guard<std::mutex> hold(environment_lock);
    const char* const value = std::getenv(terminated.get());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

int setenv(const char* name, const char* value, int overwrite) {
    if (detail::refuse_null(name)) return -1;
    const std::lock_guard<std::mutex> hold(environment_lock);
    // A null value removes the variable, as on Windows.
    if (value == nullptr) return overwrite == 0 && std::getenv(name) != nullptr ? 0 : ::unsetenv(name);
    return ::setenv(name, value, overwrite);
}

int unsetenv(const char* name) {
    if (detail::refuse_null(name)) return -1;
    const std::lock_guard<std::mutex> hold(environment_lock);
    return ::unsetenv(name);
}

// The variable gets a copy of the value: the caller's string is not kept.
int putenv(const char* assignment) {
    if (assignment == nullptr) return -1;
    const char* const equals = std::strchr(assignment, '=');
    if (equals == nullptr) return -1;
    const detail::byte_name name(assignment, equals);
    const std::lock_guard<std::mutex> hold(environment_lock);
    return ::setenv(name.get(), equals + 1, 1);
}

int system(const char* command) {
    detail::flush_standard_streams();
    return std::system(command);
}

}  // namespace u8port
}  // namespace wexal
