// args for real: a child program (args_child.cpp) is started with an exact
// command line and environment and reports what args made of them. On
// Windows CreateProcessW hands it the wide command line unconverted.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using strings = std::vector<std::string>;

// What the child reported in the file, by tag.
std::map<std::string, strings> parse(const std::filesystem::path& file) {
    std::map<std::string, strings> report;
    std::ifstream in(file, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        const std::size_t space = line.find(' ');
        report[line.substr(0, space)].push_back(line.substr(space + 1));
    }
    in.close();
    std::filesystem::remove(file);  // so that a child that did not run shows
    return report;
}

strings ascii_only(strings all) {
    const auto non_ascii = [](char ch) { return static_cast<unsigned char>(ch) >= 0x80; };
    all.erase(std::remove_if(all.begin(), all.end(),
                             [&](const std::string& s) { return std::any_of(s.begin(), s.end(), non_ascii); }),
              all.end());
    return all;
}

const std::string variable =
    "GR\xC3\x9C\xC3\x9F"
    "E=\xC2\xA1hola, \xE4\xB8\x96\xE7\x95\x8C \xF0\x9F\x98\x80";

#if defined(_WIN32)
using command_line = std::wstring;
#else
using command_line = strings;  // argv
#endif
struct row {
    command_line line;
    strings expected;  // after argv[0], "EXE"
};

#if defined(_WIN32)
// Starts the child in its own directory, where it writes its report.
std::filesystem::path run_child(std::wstring command_line, std::wstring environment) {
    wchar_t self[MAX_PATH] = {};
    std::wstring dir(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
    dir.erase(dir.find_last_of(L"\\/") + 1);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    if (CreateProcessW((dir + L"u8port_args_child.exe").c_str(), &command_line[0], nullptr, nullptr, FALSE,
                       CREATE_UNICODE_ENVIRONMENT, &environment[0], dir.c_str(), &startup, &child)) {
        WaitForSingleObject(child.hProcess, INFINITE);
        CloseHandle(child.hProcess);
        CloseHandle(child.hThread);
    }
    return dir + L"args-report.txt";
}

TEST(Args, ChildGetsTheRuntimesWideSplitAsUtf8) {
#if defined(_UCRT)
    // Wine's ucrtbase ignores the expanded mode of _configure_wide_argv (and of
    // the narrow split): a pattern stays as typed. Windows expands it.
    const bool globs = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr;
#else
    const bool globs = true;
#endif
    std::vector<row> rows = {
        {LR"(EXE "abc" d e)", {"abc", "d", "e"}},
        {LR"(EXE a\\\b d"e f"g h)", {R"(a\\\b)", "de fg", "h"}},
        {LR"(EXE a\\\"b c d)", {R"(a\"b)", "c", "d"}},
        {LR"(EXE a\\\\"b c" d e)", {R"(a\\b c)", "d", "e"}},
        {LR"(EXE "" "")", {"", ""}},
        {LR"(EXE "" """)", {"", "\""}},
        {LR"(EXE "this is """all""" in the same argument")", {R"(this is "all" in the same argument)"}},
        {LR"(EXE "a"" a)", {R"(a" a)"}},
        {LR"(EXE "C:\TEST A\\")", {R"(C:\TEST A\)"}},
        {LR"(EXE "ab\"c"  "\\"  d)", {R"(ab"c)", R"(\)", "d"}},
        {LR"(EXE """Call Me Ishmael""")", {R"("Call Me Ishmael")"}},
        {LR"(EXE a"b"" c d)", {R"(ab" c d)"}},
        {L"EXE\ttab\t\"x\ty\"", {"tab", "x\ty"}},
        {L"EXE u8port_args_child*.exe",
         {globs ? "u8port_args_child.exe" : "u8port_args_child*.exe"}},  // the child globs
        {L"EXE caf\u00e9 \u041c\u0438\u0440 \u65e5\u672c.txt \U0001F600 \"\"",
         {"caf\xC3\xA9", "\xD0\x9C\xD0\xB8\xD1\x80", "\xE6\x97\xA5\xE6\x9C\xAC.txt", "\xF0\x9F\x98\x80", ""}},
        {L"EXE a\xD800z \xDC00", {"a\xEF\xBF\xBDz", "\xEF\xBF\xBD"}},
        // Best-fit would turn U+FF02 into a plain quote in a narrow argv.
        {L"EXE \uFF02a b\uFF02 c",
         {"\xEF\xBC\x82"
          "a",
          "b\xEF\xBC\x82", "c"}},
        {L"EXE", {}},
    };
    while (rows.back().line.size() < 20000) {
        rows.back().line += L" \u00e9\u4e16\U0001F600-0123456789";
        rows.back().expected.push_back("\xC3\xA9\xE4\xB8\x96\xF0\x9F\x98\x80-0123456789");
    }
    wchar_t path[32767] = {};
    using namespace std::string_literals;
    const std::wstring environment = L"PATH=" + std::wstring(path, GetEnvironmentVariableW(L"PATH", path, 32767)) +
                                     L"\0=C:=C:\\x\0GR\u00dc\u00dfE=\u00a1hola, \u4e16\u754c \U0001F600\0\0"s;
#else
// without_proc: /proc unmounted in a mount namespace of its own (exit status 77 if none can be made).
std::filesystem::path run_child(const strings& argv, const strings& environment, bool without_proc = false,
                                int* status = nullptr) {
    std::vector<char*> args, env;
    for (const auto& s : argv) args.push_back(const_cast<char*>(s.c_str()));
    for (const auto& s : environment) env.push_back(const_cast<char*>(s.c_str()));
    args.push_back(nullptr);
    env.push_back(nullptr);
    const std::string child = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "u8port_args_child";
    const pid_t pid = fork();
    if (pid == 0 && without_proc &&
        (unshare(CLONE_NEWNS) || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
         umount2("/proc", MNT_DETACH)))
        _exit(77);
    if (pid == 0) _exit(execve(child.c_str(), args.data(), env.data()));
    waitpid(pid, status, 0);
    return "args-report.txt";
}

TEST(Args, ChildKeepsTheBytesItWasGiven) {
    const std::vector<row> rows = {
        {{"EXE", "caf\xC3\xA9", "", "\xFF\xFE not UTF-8", "a\"b c"},
         {"caf\xC3\xA9", "", "\xFF\xFE not UTF-8", "a\"b c"}},
    };
    const strings environment = {"PATH=/usr/bin", "=C:=C:\\x", variable, "LATIN1=caf\xE9"};
#endif
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << (&r - rows.data()));
        auto report = parse(run_child(r.line, environment));
        strings expected = {"EXE"};
        expected.insert(expected.end(), r.expected.begin(), r.expected.end());
        EXPECT_EQ(report["a"], expected);
        EXPECT_EQ(report["c"], expected);
        EXPECT_EQ(report["d"], expected);
        EXPECT_EQ(report["s"], strings(expected.begin() + 1, expected.end()));
        EXPECT_EQ(report["other"], strings{"1"});
        EXPECT_EQ(report["argc"], strings{std::to_string(expected.size())});
        if (ascii_only(expected) == expected) {
            EXPECT_EQ(report["n"], expected);
        }
        EXPECT_EQ(report["restored"], strings{"1"});
        EXPECT_EQ(ascii_only(report["e"]), ascii_only(report["m"]));
        EXPECT_NE(std::find(report["e"].begin(), report["e"].end(), variable), report["e"].end());
#if defined(_WIN32)
        EXPECT_EQ(report["newmode"], strings{"1"});
#else
        EXPECT_EQ(report["e"], environment);
        EXPECT_EQ(report["kept"], strings{"1"});
        EXPECT_EQ(report["new"], strings{"0"});
#endif
    }
#if !defined(_WIN32)
    int status = 0;
    auto report = parse(run_child(rows[0].line, environment, true, &status));
    if (status == 77 << 8) GTEST_SKIP() << "no mount namespace to unmount /proc in";
    EXPECT_EQ(report["c"], rows[0].line);
    EXPECT_EQ(report["d"], rows[0].line);
#endif
}

}  // namespace
