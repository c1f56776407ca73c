#include "fake_environment.hpp"

#include <algorithm>

#include "windows/win32.hpp"

namespace wexal {
namespace test {

fake_environment_state& fake_environment() {
    static fake_environment_state state;
    return state;
}

std::vector<environment_call> environment_calls(const std::string& function) {
    std::vector<environment_call> found;
    for (const auto& call : fake_environment().calls) {
        if (call.function == function) found.push_back(call);
    }
    return found;
}

namespace {

constexpr std::uint32_t error_invalid_parameter = 87;

wide_arg record(const u8port::wide_char* s) {
    if (s == nullptr) return std::nullopt;
    return wide_string(s);
}

std::size_t lookups_so_far() {
    const auto& calls = fake_environment().calls;
    return static_cast<std::size_t>(std::count_if(
        calls.begin(), calls.end(), [](const environment_call& c) { return c.function == "GetEnvironmentVariableW"; }));
}

// Windows takes a name that starts with '=' (the per-drive directories are
// kept that way) but no '=' further on, and no empty name.
bool accepted_name(const u8port::wide_char* name) {
    if (name == nullptr || name[0] == 0) return false;
    for (const u8port::wide_char* p = name + 1; *p != 0; ++p) {
        if (*p == u8port::wide_char('=')) return false;
    }
    return true;
}

}  // namespace
}  // namespace test

namespace u8port {
namespace detail {
namespace win32 {

dword GetEnvironmentVariableW(const wide_char* name, wide_char* buffer, dword size) {
    test::fake_environment_state& env = test::fake_environment();
    if (env.before_lookup) env.before_lookup(test::lookups_so_far() + 1);
    test::log_call("GetEnvironmentVariableW");
    const test::recording_scope recording;

    test::environment_call call;
    call.function = "GetEnvironmentVariableW";
    call.name = test::record(name);
    call.capacity = size;
    if (size != 0 && buffer != nullptr) call.first_unit = buffer[0];

    dword result = 0;
    const auto found = name == nullptr ? env.variables.end() : env.variables.find(test::wide_string(name));
    if (env.lookup_fails_with) {
        test::fake_last_error() = *env.lookup_fails_with;
    } else if (found == env.variables.end()) {
        test::fake_last_error() = error_envvar_not_found;
    } else if (found->second.size() >= size) {
        // Too small: the size needed, terminator included; nothing written.
        result = static_cast<dword>(found->second.size() + 1);
    } else {
        const test::wide_string& value = found->second;
        std::copy(value.begin(), value.end(), buffer);
        buffer[value.size()] = 0;
        result = static_cast<dword>(value.size());
        if (value.empty() && env.empty_value_error) test::fake_last_error() = *env.empty_value_error;
    }
    call.result = result;
    call.last_error = test::fake_last_error();
    env.calls.push_back(std::move(call));
    return result;
}

int SetEnvironmentVariableW(const wide_char* name, const wide_char* value) {
    test::log_call("SetEnvironmentVariableW");
    const test::recording_scope recording;
    test::fake_environment_state& env = test::fake_environment();

    test::environment_call call;
    call.function = "SetEnvironmentVariableW";
    call.name = test::record(name);
    call.value = test::record(value);

    int result = 0;
    if (env.set_fails_with) {
        test::fake_last_error() = *env.set_fails_with;
    } else if (!test::accepted_name(name)) {
        test::fake_last_error() = test::error_invalid_parameter;
    } else if (value == nullptr) {
        env.variables.erase(test::wide_string(name));
        result = 1;
    } else {
        env.variables[test::wide_string(name)] = test::wide_string(value);
        result = 1;
    }
    call.result = result;
    call.last_error = test::fake_last_error();
    env.calls.push_back(std::move(call));
    return result;
}

int _wsystem(const wide_char* command) {
    test::log_call("_wsystem");
    const test::recording_scope recording;
    test::fake_environment_state& env = test::fake_environment();
    test::environment_call call;
    call.function = "_wsystem";
    call.name = test::record(command);
    call.result = env.system_result;
    call.last_error = test::fake_last_error();
    env.calls.push_back(std::move(call));
    return env.system_result;
}

int __wgetmainargs(int* argc, wide_char*** argv, wide_char*** envp, int expand_wildcards, int* new_mode) {
    test::log_call("__wgetmainargs");
    const test::recording_scope recording;
    test::fake_environment_state& env = test::fake_environment();
    env.asked_wildcards = expand_wildcards;
    env.asked_new_mode = *new_mode;
    const auto pointers = [](std::vector<test::wide_string>& from, std::vector<wide_char*>& to) {
        to.clear();
        for (auto& s : from) to.push_back(&s[0]);
        to.push_back(nullptr);
        return to.data();
    };
    *argc = static_cast<int>(env.main_args.size());
    *argv = pointers(env.main_args, env.main_argv);
    *envp = pointers(env.main_env, env.main_envp);
    return env.main_args_result;
}

int* __p___argc() { return &test::fake_environment().main_narrow_argc; }
char*** __p___argv() { return &test::fake_environment().main_narrow_argv; }
int _query_new_mode() { return 0; }
int _wputenv_s(const wide_char*, const wide_char*) { return 0; }  // the C runtime's copy is not modelled

}  // namespace win32
}  // namespace detail
}  // namespace u8port
}  // namespace wexal
