// The in-memory platform the unit tests link instead of a real one: it
// records every call with its arguments and returns what the test scripted.
// This header covers the file calls; the environment and console parts have
// headers of their own beside it.
#ifndef WEXAL_TESTS_SUPPORT_FAKE_PLATFORM_HPP
#define WEXAL_TESTS_SUPPORT_FAKE_PLATFORM_HPP

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <wexal/u8port/config.hpp>

#include "counting_allocator.hpp"

namespace wexal {
namespace test {

using wide_string = std::basic_string<u8port::wide_char>;

// A wide string argument as the platform received it; nullopt for null.
using wide_arg = std::optional<wide_string>;

// Builds a wide string from a UTF-16 literal on every platform (wide_char is
// wchar_t on Windows and char16_t elsewhere).
wide_string wide(std::u16string_view units);

struct file_call {
    std::string function;         // "_wfopen", "_wfreopen", "_wremove" or "_wrename"
    std::vector<wide_arg> args;   // the wide string arguments, in order
    std::FILE* stream = nullptr;  // the stream passed to _wfreopen
    std::vector<int> ints;        // the integer arguments (modes, flags), in order
};

// One entry of a scripted listing (WIN32_FIND_DATAW's fields used).
struct fake_find_entry {
    wide_string name;
    std::uint32_t attributes = 0x20;  // FILE_ATTRIBUTE_ARCHIVE
    std::uint32_t reparse_tag = 0;
    std::uint64_t size = 0;
};

struct fake_file_system {
    std::vector<file_call> calls;
    std::FILE* stream_result = nullptr;  // returned by _wfopen and _wfreopen
    int int_result = 0;                  // returned by _wremove and _wrename
    std::function<void()> during_call;   // runs at the start of every call, before anything is recorded

    // What GetFullPathNameW (Windows) makes of each name; others fail.
    std::map<wide_string, wide_string> full_paths;

    // FindFirstFileExW (a recorded call) gives the listing of its pattern,
    // or fails with find_error; open_finds counts the listings not closed.
    std::map<wide_string, std::vector<fake_find_entry>> listings;
    std::uint32_t find_error = 3;  // ERROR_PATH_NOT_FOUND
    int open_finds = 0;

    void reset() { *this = fake_file_system(); }
};

fake_file_system& fake_files();

// The names of the platform calls made, in order, across every part of the
// fake ("_wfopen", "GetEnvironmentVariableW", "GetLastError", "WriteConsoleW", ...).
std::vector<std::string>& fake_call_log();

// What GetLastError returns on the calling thread; the fakes set it as the
// real calls would, and a test may set it directly.
std::uint32_t& fake_last_error();

// Records a call in the log (for the parts of the fake in other files).
void log_call(const char* name);

// Held while a fake records a call, so that what the fake allocates for its
// records is not counted against the code under test.
using recording_scope = allocation_scope;

// Empties the call log, resets the last error and every part of the fake.
void reset_fake_platform();

}  // namespace test
}  // namespace wexal

#endif  // WEXAL_TESTS_SUPPORT_FAKE_PLATFORM_HPP
