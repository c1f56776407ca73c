// The process part of the fake platform: a file system of names that exist
// (for the program search), the system directory, a record of every process
// started (which exits with a scripted code at once), and handles that are
// counted open and closed. Pipes read as ended at once and take every write.
#ifndef WEXAL_TESTS_SUPPORT_FAKE_PROCESS_HPP
#define WEXAL_TESTS_SUPPORT_FAKE_PROCESS_HPP

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fake_platform.hpp"

namespace wexal {
namespace test {

struct process_start {
    wide_arg application;
    wide_string command_line;
    std::uint32_t creation_flags = 0;
    // The environment block, its NUL separators included; nullopt: inherited.
    std::optional<wide_string> environment;
    wide_arg directory;
    void* std_handles[3] = {nullptr, nullptr, nullptr};
    std::vector<void*> inherited;  // the handle list
};

struct fake_process_state {
    std::set<wide_string> files;        // GetFileAttributesW finds these as files
    std::set<wide_string> directories;  // and these as directories
    wide_string system_directory = wide(u"C:\\Windows\\System32");

    std::vector<process_start> starts;
    std::optional<std::uint32_t> start_fails_with;  // CreateProcessW fails with this last error
    std::uint32_t exit_code = 0;

    // Handles made by the fake (pipes, files, events, copies, processes) and
    // not yet closed.
    std::set<void*> open_handles;
    std::uintptr_t next_handle = 0x1000;

    void reset() { *this = fake_process_state(); }
};

fake_process_state& fake_processes();

}  // namespace test
}  // namespace wexal

#endif  // WEXAL_TESTS_SUPPORT_FAKE_PROCESS_HPP
