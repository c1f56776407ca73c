// args for real: a child program (args_child.cpp) is started with an exact
// command line and environment and reports what args made of them. On
// Windows CreateProcessW hands it the wide command line unconverted.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using strings = std::vector<std::string>;

// What the child printed, by tag; the one-letter tags carry strings in hex.
std::map<std::string, strings> parse(const std::string& output) {
    std::map<std::string, strings> report;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t space = line.find(' ');
        const std::string tag = line.substr(0, space), value = line.substr(space + 1);
        std::string bytes;
        for (std::size_t i = 0; tag.size() == 1 && i + 1 < value.size(); i += 2) {
            bytes += static_cast<char>(std::stoi(value.substr(i, 2), nullptr, 16));
        }
        report[tag].push_back(tag.size() == 1 ? bytes : value);
    }
    return report;
}

strings ascii_only(const strings& all) {
    strings kept;
    for (const auto& s : all) {
        bool ascii = true;
        for (char ch : s) ascii = ascii && static_cast<unsigned char>(ch) < 0x80;
        if (ascii) kept.push_back(s);
    }
    return kept;
}

const std::string variable = "GR\xC3\x9C\xC3\x9F" "E=\xC2\xA1hola, \xE4\xB8\x96\xE7\x95\x8C \xF0\x9F\x98\x80";

#if defined(_WIN32)
std::string run_child(std::wstring command_line, std::wstring environment) {
    wchar_t self[MAX_PATH] = {};
    std::wstring dir(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
    dir.erase(dir.find_last_of(L"\\/") + 1);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE from_child = nullptr, to_parent = nullptr;
    if (!CreatePipe(&from_child, &to_parent, &inherit, 0)) return {};
    SetHandleInformation(from_child, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = to_parent;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION child{};
    const BOOL started = CreateProcessW((dir + L"u8port_args_child.exe").c_str(), &command_line[0], nullptr, nullptr,
                                        TRUE, CREATE_UNICODE_ENVIRONMENT, &environment[0], dir.c_str(), &startup, &child);
    CloseHandle(to_parent);
    std::string output;
    char buffer[4096];
    DWORD n = 0;
    while (started && ReadFile(from_child, buffer, sizeof buffer, &n, nullptr) && n > 0) output.append(buffer, n);
    if (started) {
        WaitForSingleObject(child.hProcess, INFINITE);
        CloseHandle(child.hProcess);
        CloseHandle(child.hThread);
    }
    CloseHandle(from_child);
    return output;
}

TEST(Args, ChildGetsTheRuntimesWideSplitAsUtf8) {
    struct row {
        std::wstring line;
        strings expected;  // after argv[0], "EXE"
    };
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
        {L"EXE u8port_args_child*.exe", {"u8port_args_child.exe"}},  // the child globs its arguments
        {L"EXE caf\u00e9 \u041c\u0438\u0440 \u65e5\u672c.txt \U0001F600 \"\"",
         {"caf\xC3\xA9", "\xD0\x9C\xD0\xB8\xD1\x80", "\xE6\x97\xA5\xE6\x9C\xAC.txt", "\xF0\x9F\x98\x80", ""}},
        {L"EXE a\xD800z \xDC00", {"a\xEF\xBF\xBDz", "\xEF\xBF\xBD"}},
        // Best-fit would turn U+FF02 into a plain quote in a narrow argv.
        {L"EXE \uFF02a b\uFF02 c", {"\xEF\xBC\x82" "a", "b\xEF\xBC\x82", "c"}},
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
std::string run_child(const strings& argv, const strings& environment) {
    char self[4096] = {};
    std::string child(self, static_cast<std::size_t>(std::max<ssize_t>(0, readlink("/proc/self/exe", self, 4095))));
    child = child.substr(0, child.find_last_of('/') + 1) + "u8port_args_child";
    std::vector<char*> args, env;
    for (const auto& s : argv) args.push_back(const_cast<char*>(s.c_str()));
    for (const auto& s : environment) env.push_back(const_cast<char*>(s.c_str()));
    args.push_back(nullptr);
    env.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    pid_t pid = 0;
    const bool started = posix_spawn(&pid, child.c_str(), &actions, nullptr, args.data(), env.data()) == 0;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string output;
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) output.append(buffer, static_cast<std::size_t>(n));
    close(out[0]);
    if (started) waitpid(pid, nullptr, 0);
    return output;
}

TEST(Args, ChildKeepsTheBytesItWasGiven) {
    struct row {
        strings line;
        strings expected;
    };
    const std::vector<row> rows = {
        {{"EXE", "caf\xC3\xA9", "", "\xFF\xFE not UTF-8", "a\"b c"}, {"caf\xC3\xA9", "", "\xFF\xFE not UTF-8", "a\"b c"}},
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
        EXPECT_EQ(report["argc"], strings{std::to_string(expected.size())});
#if defined(_WIN32)
        if (std::all_of(r.line.begin(), r.line.end(), [](wchar_t ch) { return ch < 0x80; })) {
            EXPECT_EQ(report["n"], expected) << "an ASCII command line splits alike both ways";
        }
#else
        EXPECT_EQ(report["n"], expected);
#endif
        EXPECT_EQ(report["restored"], strings{"1"});
        EXPECT_EQ(ascii_only(report["e"]), ascii_only(report["m"]));
        EXPECT_NE(std::find(report["e"].begin(), report["e"].end(), variable), report["e"].end());
#if !defined(_WIN32)
        EXPECT_EQ(report["e"], environment);
        EXPECT_EQ(report["m"], environment);
        EXPECT_EQ(report["kept"], strings{"1"});
        EXPECT_EQ(report["new"], strings{"0"});
#endif
    }
}

}  // namespace
