// The environment part of the fake platform: a scripted set of variables that
// answers GetEnvironmentVariableW and SetEnvironmentVariableW as Windows does,
// and a command processor for _wsystem. Every call is recorded with what it
// was given and what it left behind.
#ifndef WEXAL_TESTS_SUPPORT_FAKE_ENVIRONMENT_HPP
#define WEXAL_TESTS_SUPPORT_FAKE_ENVIRONMENT_HPP

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fake_platform.hpp"

namespace wexal {
namespace test {

struct environment_call {
    std::string function;        // "GetEnvironmentVariableW", "SetEnvironmentVariableW" or "_wsystem"
    wide_arg name;               // the variable name, or _wsystem's command line
    wide_arg value;              // SetEnvironmentVariableW's value (nullopt: null, a removal)
    std::uint32_t capacity = 0;  // GetEnvironmentVariableW's buffer capacity
    // The buffer's first unit as the call found it (before writing), when the
    // capacity is not 0: shows what a caller would read if nothing were written.
    std::optional<u8port::wide_char> first_unit;
    std::int64_t result = 0;       // what the call returned
    std::uint32_t last_error = 0;  // the calling thread's last error after the call
};

struct fake_environment_state {
    std::map<wide_string, wide_string> variables;
    std::vector<environment_call> calls;

    // Runs at the start of each GetEnvironmentVariableW call, before anything
    // is looked up or recorded, with the number of that lookup (1 for the
    // first since the reset). A test changes variables here to play another
    // thread that changes a value between two lookups.
    std::function<void(std::size_t lookup)> before_lookup;

    // When set, every lookup fails this way: 0 with this last error, and the
    // buffer is left unwritten.
    std::optional<std::uint32_t> lookup_fails_with;
    // Like Windows, a lookup that finds an empty value leaves the last error
    // as it was; set this to have it left at the given value instead.
    std::optional<std::uint32_t> empty_value_error;

    // When set, SetEnvironmentVariableW fails with this last error. Otherwise
    // it refuses what Windows refuses (a null or empty name, or '=' after the
    // first unit) with 87, and succeeds for everything else.
    std::optional<std::uint32_t> set_fails_with;

    int system_result = 0;  // what _wsystem returns

    // __wgetmainargs: the runtime's split and environment it gives, its
    // result, and the settings it was last asked with.
    std::vector<wide_string> main_args, main_env;
    int main_args_result = 0;
    int asked_wildcards = -1, asked_new_mode = -1;
    std::vector<u8port::wide_char*> main_argv, main_envp;  // the runtime's arrays
    int main_narrow_argc = 0;                              // __p___argc, __p___argv: main's
    char** main_narrow_argv = nullptr;                     // narrow arguments (none by default)

    // fake_places.cpp: what GetModuleFileNameW, GetTempPath2W (missing when
    // unset), GetTempPathW, GetUserProfileDirectoryW, FormatMessageW (by id)
    // and _wcserror give, each answering a short buffer as Windows does.
    wide_string module_path, temp_path, profile_path;
    std::optional<wide_string> temp_path2;
    std::map<std::uint32_t, wide_string> messages;
    std::map<int, wide_string> errno_texts;

    void reset() { *this = fake_environment_state(); }
};

fake_environment_state& fake_environment();

// The calls of one function, in order.
std::vector<environment_call> environment_calls(const std::string& function);

}  // namespace test
}  // namespace wexal

#endif  // WEXAL_TESTS_SUPPORT_FAKE_ENVIRONMENT_HPP
