// run, spawn, output, command_line and popen for real: args_child.cpp,
// started in a scratch directory, reports there what its args received (on
// Windows a batch file beside it reports its %*), or with --mode plays a
// child that writes, echoes, floods or sleeps.
#include <wexal/u8port/cstdio.hpp>
#include <wexal/u8port/cstdlib.hpp>
#include <wexal/u8port/filesystem.hpp>
#include <wexal/u8port/process.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
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
        {"*", "a?b", "*.txt"},
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
        // quotes it: between quotes, with '"' doubled and the backslashes
        // before a quote doubled too.
        std::string expected;
        for (const std::string& arg : row) {
            expected += expected.empty() ? "\"" : " \"";
            std::size_t backslashes = 0;
            for (const char c : arg) {
                if (c == '"') expected.append(backslashes, '\\') += '"';
                expected += c;
                backslashes = c == '\\' ? backslashes + 1 : 0;
            }
            expected.append(backslashes, '\\') += '"';
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

TEST(Places, ChildInANonAsciiFolderReportsItsPlaces) {
    const fs::path dir = scratch() / u8::to_path("Gr\xC3\xBC\xC3\x9F-\xE6\x97\xA5"), exe = fs::u8path(child());
    fs::create_directories(dir);
    for (const auto& file : fs::directory_iterator(exe.parent_path())) {  // the program and its DLLs
        if (file.path() == exe || file.path().extension() == ".dll")
            fs::copy_file(file.path(), dir / file.path().filename(), fs::copy_options::overwrite_existing);
    }
    const std::string at = dir.u8string(), path = std::string("PATH=") + u8::getenv("PATH");
    const std::vector<strings> rows = {
        {path, "USERPROFILE=" + at, "TMP=" + at, "TEMP=" + at, "HOME=" + at, "TMPDIR=" + at},
        {path},  // the profile folder, the password database
    };
    for (const auto& environment : rows) {
        const u8::run_output r = u8::output({(dir / exe.filename()).u8string(), "--mode", "places"}, {environment, at});
        std::istringstream lines(r.output);
        std::string got[3];
        for (auto& line : got) std::getline(lines, line);
        EXPECT_EQ(u8::to_path(got[0]), dir / exe.filename()) << r.error;
        EXPECT_TRUE(environment.size() == 1 || (u8::to_path(got[1]) == dir && u8::to_path(got[2]) == dir))
            << got[1] << ", " << got[2];
        EXPECT_TRUE(fs::is_directory(u8::to_path(got[2]))) << got[2];
    }
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
        u8::run_options options = {};
        std::string named = "";  // in the error's message
    };
    u8::run_options gap, nameless, nowhere;
    gap.environment = strings{"A=1", "", "B=2"};
    nameless.environment = strings{"=1"};
    nowhere.directory = (scratch() / "wexal-nowhere").u8string();
    fs::create_directories(scratch() / "dir.cmd");
    const std::vector<row> rows = {
        {{child()}, {}, std::errc::invalid_argument, gap},
        {{child()}, {}, std::errc::invalid_argument, nameless},
        {{child()}, {}, {}, nowhere, "wexal-nowhere"},
        {{(scratch() / "missing.cmd").u8string()}, {}, {}},  // not the command processor's status
        {{(scratch() / "dir.cmd").u8string()}, {}, {}},
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
            EXPECT_EQ(u8::run(r.args, r.options), *r.code);
            continue;
        }
        try {
            ADD_FAILURE() << "ran, status " << u8::run(r.args, r.options);
        } catch (const std::system_error& e) {
            const bool refused = is_error(e.code(), std::errc::invalid_argument) ||
                                 is_error(e.code(), std::errc::argument_list_too_long);
            EXPECT_TRUE(r.why ? is_error(e.code(), *r.why) : !refused && e.code()) << e.what();
            EXPECT_NE(std::string(e.what()).find(r.named), std::string::npos) << e.what();
        }
        if (r.why == std::errc::invalid_argument && !r.options.environment) {
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

namespace {

using clock_type = std::chrono::steady_clock;
using namespace std::chrono_literals;

strings play(strings mode) {
    mode.insert(mode.begin(), {child(), "--mode"});
    return mode;
}

std::string flood(std::size_t n, char first) {
    std::string s(n, 0);
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(first + i % 26);
    return s;
}

TEST(Output, CapturesBothStreamsAndGivesInput) {
    const std::size_t mib = 1 << 20;
    const std::string text = "h\xC3\xA9llo \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80";
    u8::run_options to_output, with_input, no_input;
    to_output.error_to_output = true;
    with_input.input_text = text + "\n" + std::string(300000, 'x');
    no_input.input = u8::stdio_mode::null;
    const struct {
        strings args;
        u8::run_options options;
        std::string out, err;
    } rows[] = {
        {play({"flood", std::to_string(mib)}), {}, flood(mib, 'a'), flood(mib, 'A')},
        {play({"echo"}), with_input, *with_input.input_text, ""},
        {play({"echo"}), no_input, "", ""},
        {play({"out", "1:one ", "2:two ", "1:three"}), to_output, "one two three", ""},
        {play({"out", "1:" + text, "2x00ff0a"}), {}, text, std::string("\0\xFF\n", 3)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args[2]);
        const u8::run_output got = u8::output(row.args, row.options);
        EXPECT_EQ(got.status, 0);
        EXPECT_FALSE(got.timed_out);
        EXPECT_TRUE(got.output == row.out) << got.output.size() << " bytes: " << got.output.substr(0, 40);
        EXPECT_TRUE(got.error == row.err) << got.error.size() << " bytes: " << got.error.substr(0, 40);
    }
#if defined(_WIN32)
    // OEM code page 850: 0x82 is U+00E9, 0x9C U+00A3; a character is never cut.
    u8::run_options oem;
    oem.output_code_page = 850;
    const u8::run_output got = u8::output(play({"out", "1x82", "1x9c", "2x410a"}), oem);
    EXPECT_EQ(got.output, "\xC3\xA9\xC2\xA3");
    EXPECT_EQ(got.error, "A\n");
#endif
}

TEST(Spawn, PipesTimeLimitsAndStopping) {
    u8::run_options piped;
    piped.input = piped.output = u8::stdio_mode::pipe;
    u8::child echo = u8::spawn(play({"echo"}), piped);
    echo.input() << "one\ntwo\n";
    echo.close_input();
    std::string line;
    strings lines;
    while (std::getline(echo.output(), line)) lines.push_back(line);
    EXPECT_EQ(lines, (strings{"one", "two"}));
    EXPECT_EQ(echo.wait(), 0);
    EXPECT_THROW(echo.error(), std::logic_error);

    u8::child sleeper = u8::spawn(play({"sleep", "30000"}));
    EXPECT_GT(sleeper.id(), 0);
    EXPECT_FALSE(sleeper.wait_for(50ms));
    EXPECT_TRUE(sleeper.running());
    sleeper.kill();
#if defined(_WIN32)
    EXPECT_EQ(sleeper.wait(), 1);
#else
    EXPECT_EQ(sleeper.wait(), -9);
#endif
    EXPECT_FALSE(sleeper.running());

    u8::run_options limited;
    limited.timeout = 200ms;
    const auto start = clock_type::now();
    const u8::run_output late = u8::output(play({"sleep", "30000"}), limited);
    EXPECT_TRUE(late.timed_out);
    try {
        u8::run(play({"sleep", "30000"}), limited);
        ADD_FAILURE() << "no time limit";
    } catch (const std::system_error& e) {
        EXPECT_TRUE(is_error(e.code(), std::errc::timed_out)) << e.what();
    }
    EXPECT_LT(clock_type::now() - start, 10s);  // not the children's 30 s

    // A running child's destructor waits for it.
    const auto before = clock_type::now();
    { u8::child short_sleep = u8::spawn(play({"sleep", "300"})); }
    EXPECT_GE(clock_type::now() - before, 250ms);
}

TEST(Run, OnlyStandardHandlesAndBatchFilesAsNamed) {
    // Only the standard handles reach a child: a descriptor left without
    // O_CLOEXEC (Linux), a file open through the C runtime (Windows).
#if defined(_WIN32)
    const fs::path file = scratch() / "held.txt";
    std::FILE* held = u8::fopen(file.u8string().c_str(), "w");
    ASSERT_NE(held, nullptr);
    u8::child sleeper = u8::spawn(play({"sleep", "30000"}));
    std::fclose(held);
    EXPECT_EQ(u8::remove(file.u8string().c_str()), 0) << "the child holds the file";
    sleeper.kill();
    EXPECT_EQ(u8::exit_code(u8::system("exit 3")), 3);
    // A relative batch file is the one from here, not the child directory's.
    fs::create_directories(scratch() / "untrusted" / "tools");
    fs::create_directories(scratch() / "tools");
    std::ofstream(scratch() / "tools" / "build.bat") << "@exit 11\n";
    std::ofstream(scratch() / "untrusted" / "tools" / "build.bat") << "@exit 22\n";
    const fs::path before = fs::current_path();
    fs::current_path(scratch());
    u8::run_options untrusted;
    untrusted.directory = "untrusted";
    EXPECT_EQ(u8::run({"tools\\build.bat"}, untrusted), 11);
    fs::current_path(before);
    // A batch file that hands %* on gives each argument whole, backslashes and all.
    std::ofstream(scratch() / "forward.bat") << "@\"" << child() << "\" %*\n";
    for (const strings& row : {strings{"C:\\dir\\", "next"}, strings{"x\\\" --evil"}}) {
        strings args = {(scratch() / "forward.bat").u8string()};
        args.insert(args.end(), row.begin(), row.end());
        EXPECT_EQ(u8::run(args, in_scratch()), 0);
        strings got = report("args-report.txt", "a ");
        EXPECT_EQ(strings(got.begin() + 1, got.end()), row);
    }
#else
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    EXPECT_EQ(u8::run(play({"open", std::to_string(ends[1])})), 0);
    close(ends[0]);
    close(ends[1]);
    EXPECT_EQ(u8::exit_code(u8::system("exit 3")), 3);
    EXPECT_EQ(u8::exit_code(u8::system("kill -9 $$")), -9);
    // A child whose status the system discards has still run.
    const auto previous = std::signal(SIGCHLD, SIG_IGN);
    try {
        ADD_FAILURE() << "status " << u8::run({"true"});
    } catch (const std::system_error& e) {
        EXPECT_TRUE(is_error(e.code(), std::errc::no_child_process)) << e.what();
        EXPECT_NE(std::string(e.what()).find("started"), std::string::npos) << e.what();
    }
    std::signal(SIGCHLD, previous);
#endif
    std::FILE* not_a_pipe = u8::fopen((scratch() / "plain.txt").u8string().c_str(), "w");
    ASSERT_NE(not_a_pipe, nullptr);
    EXPECT_EQ(u8::pclose(not_a_pipe), -1);
    std::fclose(not_a_pipe);
}

}  // namespace
