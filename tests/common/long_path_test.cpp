// The long-path rules, as pure functions: which names must be resolved
// before a call, and the verbatim form of a resolved one.
#include <gtest/gtest.h>

#include <string>

#include "common/long_path.hpp"

namespace {

namespace u8 = wexal::u8port;
using wide_string = std::basic_string<u8::wide_char>;

wide_string w(const std::string& s) { return wide_string(s.begin(), s.end()); }

TEST(LongPath, OnlyNamesThatMayResolveLongAreResolved) {
    const std::string n(300, 'n');
    const struct {
        std::string name;
        bool resolved;
    } cases[] = {
        {"C:\\short.txt", false},
        {"C:/short.txt", false},
        {"\\\\srv\\share\\x", false},
        {"C:\\" + n, true},
        {"relative.txt", true},
        {"..\\up", true},
        {"D:drive-relative", true},
        {"\\rooted", true},
        {"\\\\?\\C:\\" + n, false},
        {"\\??\\C:\\" + n, false},
        {"\\\\.\\pipe\\x", false},
        {"//?/C:/x", false},
        // Only exactly "\\?\" escapes Win32's normalisation and its limit.
        {"\\\\.\\C:\\" + n, true},
        {"//?/C:/" + n, true},
        {"\\\\?/C:\\" + n, true},
    };
    for (const auto& c : cases) {
        const wide_string name = w(c.name);
        EXPECT_EQ(u8::detail::may_need_long_form(name.c_str(), name.size()), c.resolved) << c.name.substr(0, 20);
    }
}

TEST(LongPath, AFullPathOfMaxPathUnitsOrMoreTakesTheVerbatimForm) {
    const std::string at_limit = "C:\\" + std::string(257, 'a');  // 260 units
    const struct {
        std::string full, expected;
    } cases[] = {
        {"C:\\" + std::string(256, 'a'), ""},  // 259 units: short
        {at_limit, "\\\\?\\" + at_limit},
        {"\\\\srv\\share\\" + std::string(260, 'u'), "\\\\?\\UNC\\srv\\share\\" + std::string(260, 'u')},
        {"\\\\?\\" + at_limit, "\\\\?\\" + at_limit},  // under a verbatim current directory
        {"\\\\.\\" + at_limit, "\\\\?\\" + at_limit},
    };
    for (const auto& c : cases) EXPECT_EQ(u8::detail::verbatim_form(w(c.full)), w(c.expected)) << c.full.size();
}

}  // namespace
