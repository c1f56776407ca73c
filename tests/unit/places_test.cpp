// The program's places, the error text and environment_value of Windows,
// against the fake platform (on Linux plain forwards, tested in tests/integration).
#include <wexal/u8port/convert.hpp>
#include <wexal/u8port/cstdlib.hpp>
#include <wexal/u8port/system_error.hpp>

#include <gtest/gtest.h>

#include "support/fake_environment.hpp"

namespace {

namespace u8 = wexal::u8port;
using wexal::test::wide;
using wexal::test::wide_string;
wexal::test::fake_environment_state& env() { return wexal::test::fake_environment(); }

// 300 units with a lone surrogate, past MAX_PATH, and its lossless UTF-8.
const wide_string long_path = wide(u"C:\\Gr\u00FC\u00DFe\\") + wide_string(280, 'x') + wide(u"\xD800.exe");
const std::string long_utf8 =
    "C:\\Gr\xC3\xBC\xC3\x9F"
    "e\\" +
    std::string(280, 'x') + "\xED\xA0\x80.exe";

TEST(Places, AreWholeAndLossless) {
    struct place_case {
        void (*script)();
        std::string (*call)();
        std::string expected;
    };
    const std::vector<place_case> cases = {
        {[] { env().module_path = long_path; }, u8::executable_path, long_utf8},
        {[] { env().temp_path2 = wide(u"C:\\T\u00E9mp2\\"), env().temp_path = wide(u"no"); }, u8::temp_directory,
         "C:\\T\xC3\xA9mp2"},
        {[] { env().temp_path = long_path + wide(u"\\"); }, u8::temp_directory, long_utf8},  // no GetTempPath2W
        {[] { env().temp_path = wide(u"D:\\"); }, u8::temp_directory, "D:\\"},               // a root keeps it
        {[] { env().variables[wide(u"USERPROFILE")] = long_path; }, u8::home_directory, long_utf8},
        {[] { env().profile_path = long_path; }, u8::home_directory, long_utf8},  // USERPROFILE unset
    };
    for (const auto& c : cases) {
        wexal::test::reset_fake_platform();
        c.script();
        EXPECT_EQ(c.call(), c.expected) << &c - cases.data();
    }
}

TEST(ErrorText, IsUtf8WithoutTheTrailingNoise) {
    wexal::test::reset_fake_platform();
    env().messages = {{5, wide(u"Acc\u00E8s refus\u00E9.\r\n")}, {6, wide_string(300, 'h')}};
    env().errno_texts = {{2, wide(u"Fichier \u00AB introuvable \u00BB")}};
    const std::string denied = "Acc\xC3\xA8s refus\xC3\xA9", missing = "Fichier \xC2\xAB introuvable \xC2\xBB";
    const std::vector<std::pair<std::error_code, std::string>> cases = {
        {{5, u8::system_category()}, denied},
        {{5, std::system_category()}, denied},
        {{6, u8::system_category()}, std::string(300, 'h')},
        {{12345, u8::system_category()}, "unknown error 12345"},
        {std::make_error_code(std::errc::no_such_file_or_directory), missing},
        {std::make_error_code(std::io_errc::stream), std::make_error_code(std::io_errc::stream).message()},
    };
    for (const auto& c : cases) EXPECT_EQ(u8::error_message(c.first), c.second) << c.first.value();
    EXPECT_EQ(u8::system_category().message(5), denied);
    EXPECT_EQ(u8::error_message(2), missing);
    EXPECT_EQ(std::error_code(2, u8::system_category()), std::errc::no_such_file_or_directory);
}

TEST(EnvironmentValue, ReadsAgainAVariableSetBetweenAMissAndItsCheck) {
    wexal::test::reset_fake_platform();
    env().before_lookup = [](std::size_t lookup) {
        if (lookup == 2) env().variables[wide(u"LATE")] = long_path;
    };
    EXPECT_EQ(u8::environment_value("LATE"), u8::narrow(long_path));
    EXPECT_EQ(u8::environment_value(std::string_view("LATE\0x", 6)), std::nullopt);
}

}  // namespace
