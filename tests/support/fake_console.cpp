#include "fake_console.hpp"

#include <algorithm>

#include "windows/win32.hpp"

namespace wexal {
namespace test {

fake_console_state& fake_console() {
    static fake_console_state state;
    return state;
}

}  // namespace test

namespace u8port {
namespace detail {
namespace win32 {

handle GetStdHandle(dword which) {
    test::log_call("GetStdHandle");
    const auto& handles = test::fake_console().std_handles;
    const auto found = handles.find(which);
    return found == handles.end() ? nullptr : found->second;
}

int GetConsoleMode(handle console, dword* mode) {
    test::log_call("GetConsoleMode");
    if (test::fake_console().consoles.count(console) == 0) return 0;
    if (mode != nullptr) *mode = 0x7;
    return 1;
}

int WriteConsoleW(handle console, const wide_char* buffer, dword count, dword* written, void* /*reserved*/) {
    test::log_call("WriteConsoleW");
    const test::recording_scope recording;
    test::fake_console_state& state = test::fake_console();
    test::console_write_outcome outcome{state.writes_fail, state.max_units_written};
    if (!state.write_outcomes.empty()) {
        outcome = state.write_outcomes.front();
        state.write_outcomes.pop_front();
    }
    if (state.record_writes) state.writes.push_back({console, {buffer, buffer + count}, !outcome.fails});
    if (outcome.fails) return 0;
    const dword taken = outcome.max_units_written ? std::min(count, *outcome.max_units_written) : count;
    if (state.keep_screen) state.screen.append(buffer, buffer + taken);
    if (written != nullptr) *written = taken;
    return 1;
}

int ReadConsoleW(handle /*console*/, wide_char* buffer, dword count, dword* read, void* /*input_control*/) {
    test::log_call("ReadConsoleW");
    const test::recording_scope recording;
    test::fake_console_state& state = test::fake_console();
    state.read_capacities.push_back(count);
    if (state.reads.empty()) {
        state.reads_made.push_back({0, false, test::fake_last_error()});
        if (read != nullptr) *read = 0;
        return 1;
    }
    test::console_read& next = state.reads.front();
    test::fake_last_error() = next.last_error;
    state.reads_made.push_back({0, next.fails, next.last_error});
    if (next.fails) {
        state.reads.pop_front();
        return 0;
    }
    const std::size_t n = std::min<std::size_t>(count, next.units.size());
    std::copy(next.units.begin(), next.units.begin() + static_cast<std::ptrdiff_t>(n), buffer);
    if (read != nullptr) *read = static_cast<dword>(n);
    state.reads_made.back().count = static_cast<std::uint32_t>(n);
    if (n == next.units.size()) {
        state.reads.pop_front();
    } else {
        next.units.erase(next.units.begin(), next.units.begin() + static_cast<std::ptrdiff_t>(n));
    }
    return 1;
}

handle _get_osfhandle(int fd) {
    test::log_call("_get_osfhandle");
    const test::fake_console_state& state = test::fake_console();
    const auto own = state.descriptor_handles.find(fd);
    if (own != state.descriptor_handles.end()) return own->second;
    // As the C runtime keeps them: the standard handle of the descriptor.
    const auto standard = state.std_handles.find(static_cast<dword>(-10 - fd));
    return standard == state.std_handles.end() ? nullptr : standard->second;
}

int WriteFile(handle file, const void* buffer, dword size, dword* written, void*) {
    test::log_call("WriteFile");
    const test::recording_scope recording;
    const char* const bytes = static_cast<const char*>(buffer);
    test::fake_console().file_writes.push_back({file, std::string(bytes, bytes + size)});
    if (written != nullptr) *written = size;
    return 1;
}

}  // namespace win32
}  // namespace detail
}  // namespace u8port
}  // namespace wexal
