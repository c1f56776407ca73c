// The program's places, the error text and environment_value of Windows,
// against the fake platform (on Linux these are plain forwards, tested for
// real in tests/integration).
#include <wexal/u8port/convert.hpp>
#include <wexal/u8port/cstdlib.hpp>
#include <wexal/u8port/system_error.hpp>

#include <gtest/gtest.h>

#include <functional>

#include "support/fake_environment.hpp"

namespace {

namespace u8 = wexal::u8port;
using wexal::test::fake_environment;
using wexal::test::wide;
using wexal::test::wide_string;

// 300 units with a lone surrogate, past MAX_PATH, and its lossless UTF-8.
const wide_string long_path = wide(u"C:\\Gr\u00FC\u00DFe\\") + wide_string(280, 'x') + wide(u"\xD800.exe");
const std::string long_utf8 =
    "C:\\Gr\xC3\xBC\xC3\x9F"
    "e\\" +
    std::string(280, 'x') + "\xED\xA0\x80.exe";

TEST(Places, AreWholeAndLossless) {
    struct place_case {
        const char* what;
        std::function<void()> script;
        std::function<std::string()> call;
        std::string expected;
    };
    const std::vector<place_case> cases = {
        {"module path past MAX_PATH", [] { fake_environment().module_path = long_path; }, u8::executable_path,
         long_utf8},
        {"GetTempPath2W where present",
         [] { fake_environment().temp_path2 = wide(u"C:\\T\u00E9mp2\\"), fake_environment().temp_path = wide(u"no"); },
         u8::temp_directory, "C:\\T\xC3\xA9mp2"},
        {"GetTempPathW without it", [] { fake_environment().temp_path = long_path + wide(u"\\"); }, u8::temp_directory,
         long_utf8},
        {"a root keeps its separator", [] { fake_environment().temp_path = wide(u"D:\\"); }, u8::temp_directory,
         "D:\\"},
        {"USERPROFILE", [] { fake_environment().variables[wide(u"USERPROFILE")] = long_path; }, u8::home_directory,
         long_utf8},
        {"the profile folder when USERPROFILE is unset", [] { fake_environment().profile_path = long_path; },
         u8::home_directory, long_utf8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        wexal::test::reset_fake_platform();
        c.script();
        EXPECT_EQ(c.call(), c.expected);
    }
}

TEST(ErrorText, IsUtf8WithoutTheTrailingNoise) {
    wexal::test::reset_fake_platform();
    fake_environment().messages = {{5, wide(u"Acc\u00E8s refus\u00E9.\r\n")}, {6, wide_string(300, 'h')}};
    fake_environment().errno_texts = {{2, wide(u"Fichier \u00AB introuvable \u00BB")}};
    struct text_case {
        std::error_code code;
        std::string expected;
    };
    const std::vector<text_case> cases = {
        {{5, u8::system_category()}, "Acc\xC3\xA8s refus\xC3\xA9"},
        {{5, std::system_category()}, "Acc\xC3\xA8s refus\xC3\xA9"},
        {{6, u8::system_category()}, std::string(300, 'h')},
        {{12345, u8::system_category()}, "unknown error 12345"},
        {std::make_error_code(std::errc::no_such_file_or_directory), "Fichier \xC2\xAB introuvable \xC2\xBB"},
        {std::make_error_code(std::io_errc::stream), std::make_error_code(std::io_errc::stream).message()},
    };
    for (const auto& c : cases) EXPECT_EQ(u8::error_message(c.code), c.expected) << c.code.value();
    EXPECT_EQ(u8::system_category().message(5), cases[0].expected);
    EXPECT_EQ(u8::error_message(2), cases[4].expected);
    EXPECT_EQ(std::error_code(2, u8::system_category()), std::errc::no_such_file_or_directory);
}

TEST(EnvironmentValue, TellsUnsetFromEmptyAndGivesLongValuesWhole) {
    wexal::test::reset_fake_platform();
    // Set by another thread between the miss and the check of the miss.
    fake_environment().before_lookup = [](std::size_t lookup) {
        if (lookup == 2) fake_environment().variables[wide(u"LATE")] = wide(u"now");
    };
    EXPECT_EQ(u8::environment_value("LATE"), std::string("now"));
    fake_environment().before_lookup = nullptr;
    fake_environment().variables = {{wide(u"E"), wide_string()}, {wide(u"L"), long_path}};
    wexal::test::fake_last_error() = 203;  // an earlier miss on this thread
    EXPECT_EQ(u8::environment_value("E"), std::string());
    EXPECT_EQ(u8::environment_value("L"), u8::narrow(long_path));
    EXPECT_EQ(u8::environment_value("MISSING"), std::nullopt);
    EXPECT_EQ(u8::environment_value(std::string_view("L\0x", 3)), std::nullopt);
}

}  // namespace
