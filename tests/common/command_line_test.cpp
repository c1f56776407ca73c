// The quoting that the C runtime's split and the command processor undo, and
// the rules for Windows program names, as pure functions. That the runtime
// gives the arguments back is tested against real children in
// tests/integration/process_test.cpp.
#include <gtest/gtest.h>

#include <string>
#include <system_error>
#include <vector>

#include "common/command_line.hpp"

namespace {

namespace u8 = wexal::u8port;
using wide_string = std::basic_string<u8::wide_char>;

wide_string w(const std::string& s) { return wide_string(s.begin(), s.end()); }

TEST(CommandLine, ArgumentsAreQuotedOnlyWhereTheSplitNeedsIt) {
    const struct {
        std::vector<std::string> args;
        std::string line;
    } cases[] = {
        {{"tool", "plain", "a b", ""}, "tool plain \"a b\" \"\""},
        {{"my tool", "x\"y"}, "\"my tool\" \"x\\\"y\""},
        {{"t", "C:\\dir\\", "C:\\my dir\\"}, "t C:\\dir\\ \"C:\\my dir\\\\\""},
        {{"t", "a\\\\\"b", "tab\there"}, "t \"a\\\\\\\\\\\"b\" \"tab\there\""},
        {{"t", "*", "a?b"}, "t \"*\" \"a?b\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(u8::command_line(c.args), c.line);
        EXPECT_EQ(u8::split_command_line(c.line), c.args);
    }
    for (const std::vector<std::string>& refused :
         std::vector<std::vector<std::string>>{{}, {"a\"b"}, {"tool", std::string("nul\0inside", 10)}}) {
        EXPECT_THROW(u8::command_line(refused), std::system_error);
    }
}

TEST(CommandLine, BatchArgumentsCannotEndTheirQuotesNorNameAVariable) {
    const struct {
        std::string arg, quoted;
    } cases[] = {
        {"plain", "\"plain\""},
        {"a \"b\" & c", "\"a \"\"b\"\" & c\""},
        {"100%PATH%", "\"100%%cd:~,%PATH%%cd:~,%\""},
        {"C:\\dir\\", "\"C:\\dir\\\\\""},
        {"x\\\" --evil", "\"x\\\\\"\" --evil\""},
    };
    for (const auto& c : cases) {
        std::string line;
        u8::detail::append_batch_argument(line, c.arg);
        EXPECT_EQ(line, c.quoted);
    }
    std::string line;
    EXPECT_THROW(u8::detail::append_batch_argument(line, "two\nlines"), std::system_error);
}

TEST(CommandLine, SplitAsTheRuntimeDoes) {
    const struct {
        std::string line;
        std::vector<std::string> args;
    } cases[] = {
        {"", {}},
        {"\"C:\\my dir\\t.exe\"  a\tb ", {"C:\\my dir\\t.exe", "a", "b"}},
        {"C:\\t\\\" x", {"C:\\t\\ x"}},  // no escapes in the program
        {"t a\\\\b \\\\\"c d\" \\\"e", {"t", "a\\\\b", "\\c d", "\"e"}},
        {"t \"a\"\"b\" \"\" x\"y z\"", {"t", "a\"b", "", "xy z"}},
    };
    for (const auto& c : cases) EXPECT_EQ(u8::split_command_line(c.line), c.args) << c.line;
}

TEST(CommandLine, ProgramNameRules) {
    const struct {
        std::string name;
        bool batch, extension;
    } cases[] = {
        {"run.bat", true, true},         {"RUN.CMD", true, true},   {"x.bat. ", true, true},
        {"tools\\run.exe", false, true}, {"tool-1.2", false, true}, {"dir.d\\tool", false, false},
        {"tool", false, false},          {".bat", true, true},      {"C:tool", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(u8::detail::is_batch_file(w(c.name)), c.batch) << c.name;
        EXPECT_EQ(u8::detail::has_extension(w(c.name)), c.extension) << c.name;
    }
}

}  // namespace
