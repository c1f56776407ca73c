// C++20 code hands u8"..." literals, std::u8string and std::u8string_view to
// every call that takes UTF-8 text, in any argument, and reaches the same
// file, variable or string as the const char* form with the same bytes.
#include <wexal/u8port.hpp>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace u8 = wexal::u8port;

namespace {

// The same UTF-8 bytes as char, for the const char* forms.
std::string bytes(std::u8string_view s) { return std::string(s.begin(), s.end()); }

bool exists(std::u8string_view name) {
    std::FILE* f = u8::fopen(bytes(name).c_str(), "rb");
    if (f != nullptr) std::fclose(f);
    return f != nullptr;
}

}  // namespace

TEST(Char8, FileCallsTakeEveryFormInEveryArgument) {
    const std::u8string first = u8"char8-café-😀.txt";
    const std::u8string_view second = u8"char8-日本.txt";
    std::FILE* f = u8::fopen(u8"char8-café-😀.txt", "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_NE(u8::freopen(first, u8"rb", f), nullptr);
    std::fclose(f);
    EXPECT_EQ(u8::rename(first, "char8-日本.txt"), 0);
    EXPECT_TRUE(exists(second));
    EXPECT_EQ(u8::rename(second, u8"char8-café-😀.txt"), 0);
    EXPECT_EQ(u8::rename(u8"char8-café-😀.txt", second), 0);
    EXPECT_EQ(u8::remove(second), 0);
    EXPECT_FALSE(exists(first) || exists(second));
    EXPECT_NE(u8::system(nullptr), 0);
    EXPECT_EQ(u8::system(u8"exit 0"), 0);
}

TEST(Char8, EnvironmentCallsTakeEveryForm) {
    EXPECT_EQ(u8::setenv(u8"WEXAL_CHAR8_été", "ü", 1), 0);
    EXPECT_STREQ(u8::getenv("WEXAL_CHAR8_été"), "ü");
    EXPECT_EQ(u8::setenv("WEXAL_CHAR8_été", std::u8string(u8"日本"), 1), 0);
    EXPECT_STREQ(u8::getenv(u8"WEXAL_CHAR8_été"), "日本");
    EXPECT_EQ(u8::putenv(u8"WEXAL_CHAR8_été=😀"), 0);
    EXPECT_STREQ(u8::getenv(std::u8string_view(u8"WEXAL_CHAR8_été")), "😀");
    EXPECT_EQ(u8::unsetenv(u8"WEXAL_CHAR8_été"), 0);
    EXPECT_EQ(u8::getenv("WEXAL_CHAR8_été"), nullptr);
}

TEST(Char8, StreamsAndConversionsTakeEveryForm) {
    const std::u8string name = u8"char8-stream-ü.txt";
    {
        u8::ofstream out(u8"char8-stream-ü.txt");
        out << "ü";
    }
    u8::ifstream in{std::u8string_view(name)};
    std::string line;
    EXPECT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, "ü");
    in.close();
    u8::fstream both;
    both.open(name, std::ios_base::in);
    EXPECT_TRUE(both.is_open());
    both.close();
    u8::filebuf buffer;
    EXPECT_NE(buffer.open(u8"char8-stream-ü.txt", std::ios_base::in), nullptr);
    buffer.close();
    EXPECT_EQ(u8::remove(name), 0);

    EXPECT_EQ(u8::widen(u8"été"), u8::widen("été"));
    EXPECT_EQ(u8::widen(name), u8::widen(bytes(name)));
    EXPECT_EQ(u8::to_path(u8"日本/été"), u8::to_path("日本/été"));
}
