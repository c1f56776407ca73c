// The console part of the fake platform: scripted standard handles, a console
// whose reads deliver given UTF-16 units, and a record of every write.
#ifndef WEXAL_TESTS_SUPPORT_FAKE_CONSOLE_HPP
#define WEXAL_TESTS_SUPPORT_FAKE_CONSOLE_HPP

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fake_platform.hpp"

namespace wexal {
namespace test {

struct console_write {
    void* handle = nullptr;
    wide_string units;      // the units passed (the count is units.size())
    bool succeeded = true;  // false when the fake made this write fail
};

// The outcome scripted for one write, taken before writes_fail and
// max_units_written apply.
struct console_write_outcome {
    bool fails = false;                              // WriteConsoleW returns 0
    std::optional<std::uint32_t> max_units_written;  // report at most this many units
};

struct console_read {
    std::vector<u8port::wide_char> units;  // what this read delivers
    bool fails = false;                    // ReadConsoleW returns 0
    std::uint32_t last_error = 0;          // the last error the read leaves behind
};

// What one ReadConsoleW call did: the units it delivered, whether it failed, the last error it left.
struct console_read_made {
    std::uint32_t count;
    bool failed;
    std::uint32_t last_error;
};

struct fake_console_state {
    // GetStdHandle answers per standard handle number; a missing entry is null.
    std::map<std::uint32_t, void*> std_handles;
    // Handles for which GetConsoleMode succeeds.
    std::set<void*> consoles;
    // _get_osfhandle answers per descriptor; a missing one is the standard
    // handle of that descriptor (0, 1, 2), as the C runtime keeps them.
    std::map<int, void*> descriptor_handles;
    // Every WriteFile call: the handle and the bytes.
    std::vector<std::pair<void*, std::string>> file_writes;

    // Every WriteConsoleW call, in order, failed ones included.
    std::vector<console_write> writes;
    // When false, writes reach only the screen, as in a real console (the benchmarks' console).
    bool record_writes = true;
    // When false, the screen keeps nothing either: a console that costs no
    // more than the call (the benchmarks' measure of the buffer alone).
    bool keep_screen = true;
    // What the console shows: the units of every successful write that it
    // reported as written.
    wide_string screen;
    bool writes_fail = false;
    // When set, every write reports at most this many units written (and the
    // screen shows only those).
    std::optional<std::uint32_t> max_units_written;
    // Outcomes for the next writes, one per call, taken from the front; when
    // empty, writes_fail and max_units_written decide.
    std::deque<console_write_outcome> write_outcomes;

    // Scripted reads, taken from the front. A read with more units than the
    // caller asked for delivers the first ones and keeps the rest at the
    // front. An empty queue reads zero units: end of input.
    std::deque<console_read> reads;
    // The capacity passed to every ReadConsoleW call, in order.
    std::vector<std::uint32_t> read_capacities;
    // What every ReadConsoleW call did, in the same order.
    std::vector<console_read_made> reads_made;

    void reset() { *this = fake_console_state(); }
};

fake_console_state& fake_console();

// Handle values for tests; never dereferenced.
inline void* fake_handle(int n) { return reinterpret_cast<void*>(static_cast<std::uintptr_t>(0x100 + n)); }

}  // namespace test
}  // namespace wexal

#endif  // WEXAL_TESTS_SUPPORT_FAKE_CONSOLE_HPP
