// The environment and command calls against the real platform (Windows, or
// Wine, and the Linux stand-in): variables with non-ASCII names and values, and
// commands whose output is read back from files.
#include <wexal/u8port/cstdlib.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

namespace {

namespace fs = std::filesystem;
namespace u8 = wexal::u8port;

std::string text(const char* s) { return s == nullptr ? std::string("(null)") : std::string(s); }

std::string repeat(const std::string& piece, std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += piece;
    return s;
}

struct variable_case {
    const char* what;
    std::string name;
    std::string value;
};

TEST(RealEnvironment, VariablesWithUtf8NamesAndValuesAreSetReadAndRemoved) {
    const std::vector<variable_case> cases = {
        {"German name, mixed value", "WEXAL_GR\xC3\x9CSSE", "\xC2\xA1hola, \xE4\xB8\x96\xE7\x95\x8C! \xF0\x9F\x98\x80"},
        {"CJK name of 16 bytes or more", "WEXAL_\xE5\x90\x8D\xE5\x89\x8D\xE5\xA4\x89\xE6\x95\xB0", "\xE5\x80\xA4"},
        {"64 units", "WEXAL_SIXTY_FOUR", std::string(64, 'q')},
        {"over 255 UTF-8 bytes", "WEXAL_LONG", repeat("\xC3\xA9", 150) + repeat("\xF0\x9F\x98\x80", 20)},
        {"an equals sign in the value", "WEXAL_EQ", "a=b=c"},
#if !defined(_WIN32)
        {"bytes that are not UTF-8 (names are bytes here)", "WEXAL_CAF\xE9", "caf\xE9 \xFF"},
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(u8::getenv(c.name.c_str()), nullptr) << "left over from an earlier run";
        ASSERT_EQ(u8::setenv(c.name.c_str(), c.value.c_str(), 1), 0);
        EXPECT_EQ(text(u8::getenv(c.name.c_str())), c.value);
        EXPECT_EQ(u8::setenv(c.name.c_str(), "replaced?", 0), 0);
        EXPECT_EQ(text(u8::getenv(c.name.c_str())), c.value) << "overwrite 0 keeps the value";
        EXPECT_EQ(u8::setenv(c.name.c_str(), "replaced", 1), 0);
        EXPECT_EQ(text(u8::getenv(c.name.c_str())), "replaced");
        EXPECT_EQ(u8::unsetenv(c.name.c_str()), 0);
        EXPECT_EQ(u8::getenv(c.name.c_str()), nullptr);
        EXPECT_EQ(u8::unsetenv(c.name.c_str()), 0) << "removing what is not set succeeds";
        EXPECT_EQ(u8::setenv(c.name.c_str(), c.value.c_str(), 0), 0);
        EXPECT_EQ(text(u8::getenv(c.name.c_str())), c.value) << "overwrite 0 sets a missing variable";
        EXPECT_EQ(u8::setenv(c.name.c_str(), nullptr, 1), 0);
        EXPECT_EQ(u8::getenv(c.name.c_str()), nullptr) << "a null value removes";
    }
}

TEST(RealEnvironment, AnEmptyValueIsNotAMissingVariable) {
    ASSERT_EQ(u8::setenv("WEXAL_EMPTY", "", 1), 0);
    EXPECT_EQ(text(u8::getenv("WEXAL_EMPTY")), "");
    // A miss leaves the thread's last error at 203, and the platform does not
    // reset it when it finds the empty value next.
    EXPECT_EQ(u8::getenv("WEXAL_NEVER_SET"), nullptr);
    EXPECT_EQ(text(u8::getenv("WEXAL_EMPTY")), "");
    EXPECT_EQ(u8::getenv("WEXAL_NEVER_SET"), nullptr);
    EXPECT_EQ(u8::environment_value("WEXAL_EMPTY"), std::string());
    EXPECT_EQ(u8::environment_value("WEXAL_NEVER_SET"), std::nullopt);
    EXPECT_EQ(u8::setenv("WEXAL_EMPTY", "filled", 0), 0);
    EXPECT_EQ(text(u8::getenv("WEXAL_EMPTY")), "") << "overwrite 0 keeps an empty value";
    EXPECT_EQ(u8::unsetenv("WEXAL_EMPTY"), 0);
    EXPECT_EQ(u8::getenv("WEXAL_EMPTY"), nullptr);
}

TEST(RealEnvironment, PutenvAndRefusedNames) {
    EXPECT_EQ(u8::putenv("WEXAL_PUT_\xC3\xA9=\xE4\xB8\x96=\xF0\x9F\x98\x80"), 0);
    EXPECT_EQ(text(u8::getenv("WEXAL_PUT_\xC3\xA9")), "\xE4\xB8\x96=\xF0\x9F\x98\x80");
    EXPECT_EQ(u8::putenv("WEXAL_PUT_\xC3\xA9="), 0);
    EXPECT_EQ(text(u8::getenv("WEXAL_PUT_\xC3\xA9")), "") << "NAME= keeps the variable, empty";
    EXPECT_EQ(u8::putenv("WEXAL_PUT_\xC3\xA9"), -1);
    EXPECT_EQ(text(u8::getenv("WEXAL_PUT_\xC3\xA9")), "") << "no '=': nothing changes";
    EXPECT_EQ(u8::unsetenv("WEXAL_PUT_\xC3\xA9"), 0);

    EXPECT_EQ(u8::setenv("", "x", 1), -1);
    EXPECT_EQ(u8::setenv("WEXAL_A=B", "x", 1), -1);
    EXPECT_EQ(u8::getenv("WEXAL_A"), nullptr);
    EXPECT_EQ(u8::putenv("=X"), -1);
    EXPECT_EQ(u8::putenv(nullptr), -1);
}

#if defined(_WIN32)
// The C runtime's own copy of the environment (its _wgetenv and getenv) sees
// each change, but cannot hold an empty value.
TEST(RealEnvironment, TheCRuntimeSeesEachChange) {
    const std::pair<const char*, const wchar_t*> cases[] = {
        {"WEXAL_CRT=\xC3\xA9t\xC3\xA9 \xE4\xB8\x96", L"\u00e9t\u00e9 \u4e16"},
        {"WEXAL_CRT=", L"(null)"},
        {"WEXAL_CRT=plain", L"plain"}};
    for (const auto& c : cases) {
        ASSERT_EQ(u8::putenv(c.first), 0);
        EXPECT_EQ(std::wstring(_wgetenv(L"WEXAL_CRT") ? _wgetenv(L"WEXAL_CRT") : L"(null)"), c.second) << c.first;
    }
    EXPECT_EQ(text(std::getenv("WEXAL_CRT")), "plain");
    ASSERT_EQ(u8::unsetenv("WEXAL_CRT"), 0);
    EXPECT_EQ(_wgetenv(L"WEXAL_CRT"), nullptr);
}
#endif

class RealCommands : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = "wexal-commands-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(fs::u8path(dir_));
        fs::create_directories(fs::u8path(dir_));
    }
    void TearDown() override { fs::remove_all(fs::u8path(dir_)); }

    // The bytes of a file, read without the library.
    std::string read_file(const std::string& name) const {
        std::ifstream in(fs::u8path(dir_ + "/" + name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // A command line that writes one line of text to a file in the test
    // directory; the text may name an environment variable as $NAME.
    std::string write_line(const std::string& line, const std::string& file) const {
#if defined(_WIN32)
        // cmd.exe writes redirected output in the ANSI code page, which
        // loses most characters; /u makes it write UTF-16LE. A bare echo
        // keeps everything up to the '>' (so no space before it).
        std::string windows_line = line;
        const std::size_t dollar = windows_line.find('$');
        if (dollar != std::string::npos)
            windows_line = windows_line.substr(0, dollar) + "%" + windows_line.substr(dollar + 1) + "%";
        return "cmd /u /c echo " + windows_line + "> \"" + dir_ + "\\" + file + "\"";
#else
        return "printf '%s\\n' \"" + line + "\" > '" + dir_ + "/" + file + "'";
#endif
    }

    // What write_line leaves in the file for a line given as UTF-16.
    static std::string expected_line(const std::u16string& line, const std::string& utf8) {
#if defined(_WIN32)
        std::string bytes;
        for (char16_t unit : line + u"\r\n") {
            bytes += static_cast<char>(unit & 0xFF);
            bytes += static_cast<char>(unit >> 8);
        }
        static_cast<void>(utf8);
        return bytes;
#else
        static_cast<void>(line);
        return utf8 + "\n";
#endif
    }

    static int exit_code(int status) {
#if defined(_WIN32)
        return status;
#else
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    }

    std::string dir_;
};

TEST_F(RealCommands, ACommandWritesAFileWithANonAsciiNameAndContent) {
    const std::string file = "\xE5\x90\x8D \xC3\xA9.txt";  // U+540D, a space, U+00E9
    const std::string content =
        "Gr\xC3\xBC\xC3\x9F"
        "e, \xE4\xB8\x96\xE7\x95\x8C \xF0\x9F\x98\x80";
    ASSERT_EQ(exit_code(u8::system(write_line(content, file).c_str())), 0);
    EXPECT_EQ(read_file(file), expected_line(u"Gr\u00FC\u00DFe, \u4E16\u754C \U0001F600", content));
#if !defined(_WIN32)  // a command is bytes here
    ASSERT_EQ(exit_code(u8::system(write_line("caf\xE9", "\xE9.txt").c_str())), 0);
    EXPECT_EQ(read_file("\xE9.txt"), "caf\xE9\n");
#endif
}

TEST_F(RealCommands, ACommandSeesVariablesSetThroughTheLibrary) {
    const std::string value = "\xC3\xA9\xE4\xB8\x96\xF0\x9F\x98\x80";
    ASSERT_EQ(u8::setenv("WEXAL_CHILD_VALUE", value.c_str(), 1), 0);
    ASSERT_EQ(exit_code(u8::system(write_line("$WEXAL_CHILD_VALUE", "child.txt").c_str())), 0);
    EXPECT_EQ(read_file("child.txt"), expected_line(u"\u00E9\u4E16\U0001F600", value));
    EXPECT_EQ(u8::unsetenv("WEXAL_CHILD_VALUE"), 0);
}

TEST_F(RealCommands, ExitStatusAndTheCommandProcessorQuestion) {
    EXPECT_NE(u8::system(nullptr), 0) << "a command processor is available";
    EXPECT_EQ(exit_code(u8::system("exit 3")), 3);
    // A command line longer than the in-object array.
    const std::string long_line = repeat("\xC3\xA9", 150);
    ASSERT_EQ(exit_code(u8::system(write_line(long_line, "long.txt").c_str())), 0);
    std::u16string long_units(150, u'\u00E9');
    EXPECT_EQ(read_file("long.txt"), expected_line(long_units, long_line));
}

}  // namespace
