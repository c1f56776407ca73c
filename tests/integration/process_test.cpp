// run, command_line and popen for real: args_child.cpp, started in a scratch
// directory, reports there what its args received; on Windows a batch file
// beside it reports its %*.
#include <wexal/u8port/cstdlib.hpp>
#include <wexal/u8port/process.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <random>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;
namespace u8 = wexal::u8port;
using strings = std::vector<std::string>;

// A directory of each test's own, since tests may run side by side.
fs::path scratch() {
    const fs::path dir = fs::temp_directory_path() /
                         ("wexal-" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::create_directories(dir);
    return dir;
}

u8::run_options in_scratch() { return {std::nullopt, scratch().u8string()}; }

std::string child() {
#if defined(_WIN32)
    wchar_t self[MAX_PATH] = {};
    const fs::path me(std::wstring(self, GetModuleFileNameW(nullptr, self, MAX_PATH)));
#else
    const fs::path me = fs::read_symlink("/proc/self/exe");
#endif
    return (me.parent_path() / WEXAL_ARGS_CHILD).u8string();
}

// The lines of a report with the given tag (all lines for an empty tag); the
// file is removed, so that a child that did not run shows.
strings report(const char* file, const std::string& tag = "") {
    strings lines;
    std::ifstream in(scratch() / file, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, tag.size(), tag) == 0) lines.push_back(line.substr(tag.size()));
    }
    in.close();
    fs::remove(scratch() / file);
    return lines;
}

// The library's error against a std::errc. Where each module holds its own
// C++ runtime (the UCRT build), the library's generic_category() is another
// object than this program's, and categories compare by address.
bool is_error(const std::error_code& code, std::errc want) {
#if defined(WEXAL_TEST_RUNTIME_PER_MODULE)
    return code.value() == static_cast<int>(want) && std::string(code.category().name()) == "generic";
#else
    return code == want;
#endif
}

TEST(Run, ChildGetsEveryArgumentAsGiven) {
    const std::vector<strings> rows = {
        {"plain"},
        {""},
        {"a b", "tab\there", " "},
        {"\""},
        {"a\"b", "\"\""},
        {"a\\", "a\\\"b", "\\\\", "a\\\\\"b c\\"},
        {"\xC3\xA9", "\xE6\x97\xA5\xE6\x9C\xAC", "\xF0\x9F\x98\x80", "\xEF\xBC\x82"},
        {"%PATH%", "^", "&", "|", "<", ">", "a%b%c"},
        {"\"&calc.exe", "x\"&echo injected&\""},
        {std::string(30000, 'x')},
    };
#if defined(_WIN32)
    // A batch file hands its %* on to the child, which reports it in UTF-8.
    std::ofstream(scratch() / "echo.bat") << "@echo off\nset WEXAL_BATCH=%*\n\"" << child() << "\"\n";
    // Wine's command processor expands %NAME% again in what %* gives, which
    // Windows does not; there such rows are not compared.
    const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
#endif
    for (const strings& row : rows) {
        SCOPED_TRACE(row[0].substr(0, 20));
        strings args = {child()};
        args.insert(args.end(), row.begin(), row.end());
        EXPECT_EQ(u8::run(args, in_scratch()), 0);
        EXPECT_EQ(report("args-report.txt", "a "), args);
#if defined(_WIN32)
        // Through a batch file each argument arrives as the command processor
        // quotes it: between quotes, with '"' doubled.
        std::string expected;
        for (const std::string& arg : row) {
            expected += expected.empty() ? "\"" : " \"";
            for (const char c : arg) expected += c == '"' ? std::string("\"\"") : std::string(1, c);
            expected += '"';
        }
        if (wine && expected.find('%') != std::string::npos) continue;
        args[0] = (scratch() / "echo.bat").u8string();
        try {
            EXPECT_EQ(u8::run(args, in_scratch()), 0);
            EXPECT_EQ(report("args-report.txt", "e WEXAL_BATCH="), strings{expected});
        } catch (const std::system_error& e) {
            EXPECT_TRUE(is_error(e.code(), std::errc::argument_list_too_long)) << e.what();
            EXPECT_GT(expected.size(), 8000u);
        }
#endif
    }
    // Exactly the environment given; the parent's variables stay behind.
    u8::setenv("WEXAL_PARENT_ONLY", "1", 1);
    const char* path = u8::getenv("PATH");
    EXPECT_EQ(u8::run({child()}, {strings{"WEXAL_ONLY=\xC3\xA9", std::string("PATH=") + path}, scratch().u8string()}),
              0);
    strings wexal_variables = report("args-report.txt", "e WEXAL_");
    EXPECT_EQ(wexal_variables, strings{"ONLY=\xC3\xA9"});
}

TEST(Run, RuntimeSplitGivesRandomListsBack) {
    const char* const pieces[] = {"a", " ", "\t", "\"", "\\", "\xC3\xA9"};
    std::mt19937 random(21);
    for (int list = 0; list < 20; ++list) {
        strings args = {child()};
        for (auto n = random() % 4 + 1; n != 0; --n) {
            args.emplace_back();
            for (auto k = random() % 7; k != 0; --k) args.back() += pieces[random() % 6];
        }
        EXPECT_EQ(u8::run(args, in_scratch()), 0);
        EXPECT_EQ(report("args-report.txt", "a "), args) << u8::command_line(args);
    }
}

TEST(Run, ExitCodeOrError) {
    struct row {
        strings args;
        std::optional<int> code;       // else an error
        std::optional<std::errc> why;  // else the system's error
    };
    const std::vector<row> rows = {
#if defined(_WIN32)
        {{"cmd", "/c", "exit 3"}, 3, {}},
#else
        {{"sh", "-c", "exit 3"}, 3, {}},
        {{"sh", "-c", "kill -9 $$"}, -9, {}},
#endif
        {{}, {}, std::errc::invalid_argument},
        {{"sh", std::string("a\0b", 3)}, {}, std::errc::invalid_argument},
        {{"pro\"g"}, {}, std::errc::invalid_argument},
        {{child(), std::string(200000, 'x')}, {}, std::errc::argument_list_too_long},
        {{"wexal-no-such-program"}, {}, {}},
        {{scratch().u8string()}, {}, {}},
        {{fs::path(child()).filename().u8string()}, {}, {}},  // in the current directory, not on PATH
    };
    const fs::path before = fs::current_path();
    fs::current_path(fs::path(child()).parent_path());
    for (const row& r : rows) {
        SCOPED_TRACE(r.args.empty() ? "(none)" : r.args[0]);
        if (r.code) {
            EXPECT_EQ(u8::run(r.args), *r.code);
            continue;
        }
        try {
            ADD_FAILURE() << "ran, status " << u8::run(r.args);
        } catch (const std::system_error& e) {
            const bool refused = is_error(e.code(), std::errc::invalid_argument) ||
                                 is_error(e.code(), std::errc::argument_list_too_long);
            EXPECT_TRUE(r.why ? is_error(e.code(), *r.why) : !refused && e.code()) << e.what();
        }
        if (r.why == std::errc::invalid_argument) {
            EXPECT_THROW(u8::command_line(r.args), std::system_error);
        }
    }
    fs::current_path(before);
}

TEST(Popen, ReadsOutputOfCommandWithNonAsciiArgument) {
    const std::string name = (scratch() / fs::u8path("\xE6\x97\xA5\xE6\x9C\xAC \xC3\xA9.txt")).u8string();
    std::ofstream(fs::u8path(name), std::ios::binary) << "\xE6\x97\xA5\xE6\x9C\xAC\n";
#if defined(_WIN32)
    std::FILE* pipe = u8::popen(("type \"" + name + "\"").c_str(), "rb");
#else
    std::FILE* pipe = u8::popen(("cat '" + name + "'").c_str(), "rb");
#endif
    ASSERT_NE(pipe, nullptr);
    char buffer[64] = {};
    const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe);
    EXPECT_EQ(u8::pclose(pipe), 0);
    EXPECT_EQ(std::string(buffer, n), "\xE6\x97\xA5\xE6\x9C\xAC\n");
}

}  // namespace
