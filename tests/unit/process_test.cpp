// The Windows process code against the fake platform: what CreateProcessW is
// given (the program's full path, the command line, the environment block,
// the handles) and what is refused before it is called. The real children
// are in tests/integration/process_test.cpp.
#include <wexal/u8port/process.hpp>

#include <gtest/gtest.h>

#include "support/fake_console.hpp"
#include "support/fake_environment.hpp"
#include "support/fake_process.hpp"
#include "windows/win32.hpp"

namespace {

namespace u8 = wexal::u8port;
namespace win32 = u8::detail::win32;
using wexal::test::fake_processes;
using wexal::test::wide;
using wexal::test::wide_string;

wide_string w(const std::string& s) { return wide_string(s.begin(), s.end()); }

// A machine with C:\bin on PATH, this program in C:\work, a batch file
// beside it and one of the same name in C:\work\untrusted.
void machine() {
    wexal::test::reset_fake_platform();
    wexal::test::fake_environment().variables[wide(u"PATH")] = wide(u"C:\\bin");
    auto& state = fake_processes();
    for (const char* file :
         {"C:\\bin\\tool.exe", "tools\\build.bat", "C:\\work\\tools\\build.bat", "C:\\work\\x.cmd"}) {
        state.files.insert(w(file));
    }
    state.directories = {w("C:\\work\\untrusted"), w("C:\\work\\dir.cmd")};
    auto& full = wexal::test::fake_files().full_paths;
    full[w("C:\\bin\\tool.exe")] = w("C:\\bin\\tool.exe");
    full[w("tools\\build.bat")] = w("C:\\work\\tools\\build.bat");
    full[w("C:\\work\\x.cmd")] = w("C:\\work\\x.cmd");
    for (std::uint32_t which : {win32::std_input_handle, win32::std_output_handle, win32::std_error_handle}) {
        wexal::test::fake_console().std_handles[which] = reinterpret_cast<void*>(std::uintptr_t(0x10 + which % 16));
    }
}

TEST(WindowsRun, WhatTheChildIsGivenOrWhyNothingStarted) {
    u8::run_options untrusted, sorted, piped, nowhere;
    untrusted.directory = "C:\\work\\untrusted";
    sorted.environment = std::vector<std::string>{"b=2", "Path=C:\\bin", "A=1", "=C:=C:\\work"};
    piped.output = u8::stdio_mode::pipe;  // run gives nobody's pipe to the null device
    piped.error_to_output = true;
    nowhere.directory = "C:\\nowhere";
    const std::string cmd = "C:\\Windows\\System32\\cmd.exe", batch = "cmd.exe /e:ON /v:OFF /d /c ";
    const struct {
        std::vector<std::string> args;
        u8::run_options options;
        std::string application, line;  // else the error and a name it holds
        std::optional<std::u16string> environment;
        std::size_t inherited;
    } rows[] = {
        {{"tool", "a b"}, {}, "C:\\bin\\tool.exe", "tool \"a b\"", {}, 3},
        {{"tools\\build.bat", "C:\\dir\\"},
         untrusted,
         cmd,
         batch + "\"\"C:\\work\\tools\\build.bat\" \"C:\\dir\\\\\"\"",
         {},
         3},
        {{"C:\\work\\x.cmd"},
         sorted,
         cmd,
         batch + "\"\"C:\\work\\x.cmd\"\"",
         std::u16string(u"=C:=C:\\work\0A=1\0b=2\0Path=C:\\bin\0\0", 33),
         3},
        {{"tool"}, piped, "C:\\bin\\tool.exe", "tool", {}, 2},
        {{"C:\\work\\missing.cmd"}, {}, "2", "missing.cmd", {}, 0},  // ERROR_FILE_NOT_FOUND
        {{"C:\\work\\dir.cmd"}, {}, "5", "dir.cmd", {}, 0},          // ERROR_ACCESS_DENIED
        {{"tool"}, nowhere, "2", "C:\\nowhere", {}, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        machine();
        if (row.inherited == 0) {
            try {
                u8::run(row.args, row.options);
                ADD_FAILURE() << "started";
            } catch (const std::system_error& e) {
                EXPECT_EQ(std::to_string(e.code().value()), row.application);
                EXPECT_NE(std::string(e.what()).find(row.line), std::string::npos) << e.what();
            }
            EXPECT_TRUE(fake_processes().starts.empty());
            continue;
        }
        EXPECT_EQ(u8::run(row.args, row.options), 0);
        ASSERT_EQ(fake_processes().starts.size(), 1u);
        const auto& start = fake_processes().starts[0];
        EXPECT_EQ(start.application, w(row.application));
        EXPECT_EQ(start.command_line, w(row.line));
        EXPECT_EQ(start.environment,
                  row.environment ? std::optional<wide_string>(wide(*row.environment)) : std::nullopt);
        // Copies of the standard handles, each listed once; all closed at the end.
        EXPECT_EQ(start.inherited.size(), row.inherited);
        for (void* h : start.std_handles)
            EXPECT_NE(std::find(start.inherited.begin(), start.inherited.end(), h), start.inherited.end());
        EXPECT_EQ(start.std_handles[2] == start.std_handles[1], row.options.error_to_output);
        EXPECT_TRUE(fake_processes().open_handles.empty());
    }
    // A lone surrogate's three-byte form names that surrogate.
    machine();
    const wide_string surrogate = wide(u"C:\\bin\\\xD800.exe");
    fake_processes().files.insert(surrogate);
    wexal::test::fake_files().full_paths[surrogate] = surrogate;
    EXPECT_EQ(u8::run({"C:\\bin\\\xED\xA0\x80"}), 0);
    // output(): pipes and their events closed too, the bytes read in the code page.
    machine();
    u8::run_options latin1;
    latin1.output_code_page = 28591;
    latin1.input_text = "input";
    EXPECT_FALSE(u8::output({"tool"}, latin1).timed_out);
    EXPECT_TRUE(fake_processes().open_handles.empty());
}

}  // namespace
