// std::filesystem paths from and to UTF-8 on the real file system: names made
// through u8port::fopen come back from directory_iterator as the UTF-8 given,
// and the path made from that UTF-8 opens the same file.
#include <wexal/u8port/cstdio.hpp>
#include <wexal/u8port/filesystem.hpp>
#include <wexal/u8port/fstream.hpp>
#include <wexal/u8port/system_error.hpp>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
namespace u8 = wexal::u8port;
using u8::lossless;

TEST(Paths, NamesInSeveralScriptsListAndReopen) {
    struct row {
        std::string given, listed;
    };
    const std::vector<row> rows = {
        {"caf\xC3\xA9.txt", "caf\xC3\xA9.txt"},
        {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"},
        {"\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
        {"\xCE\xB5\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC",
         "\xCE\xB5\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC"},
        {"\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D \xF0\x9F\x98\x80", "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D \xF0\x9F\x98\x80"},
#if defined(_WIN32)  // elsewhere the name keeps its bytes (the test below)
        {"bad\xFFname", "bad\xEF\xBF\xBDname"},
#endif
    };
    const std::string dir = "wexal-paths-scripts";
    fs::remove_all(dir);
    fs::create_directory(dir);
    std::set<std::string> expected;
    for (const auto& r : rows) {
        std::FILE* f = u8::fopen((dir + "/" + r.given).c_str(), "wb");
        ASSERT_NE(f, nullptr) << r.listed;
        std::fputs(r.listed.c_str(), f);
        std::fclose(f);
        expected.insert(r.listed);
    }
    std::set<std::string> listed;
    for (const auto& entry : fs::directory_iterator(dir)) {
        listed.insert(u8::to_utf8(entry.path().filename()));
        EXPECT_EQ(u8::to_utf8(entry.path().filename(), lossless), u8::to_utf8(entry.path().filename()));
    }
    EXPECT_EQ(listed, expected);
    for (const auto& r : rows) {
        std::ifstream in(u8::to_path(dir + "/" + r.given));
        std::string content;
        EXPECT_TRUE(std::getline(in, content)) << r.listed;
        EXPECT_EQ(content, r.listed);
    }
    fs::remove_all(dir);
}

// Names the system can hand back that have no UTF-8 form: the default forms
// give U+FFFD, the lossless ones the very path back.
TEST(Paths, NamesWithoutAUtf8Form) {
    struct row {
        fs::path::string_type native;
        std::string utf8, kept;
    };
#if defined(_WIN32)
    // Wine keeps names as UTF-8 on the host and cannot store these (_wfopen
    // fails), so only path values are checked here.
    const std::vector<row> rows = {
        {{L'a', 0xD800, L'b'},
         "a\xEF\xBF\xBD"
         "b",
         "a\xED\xA0\x80"
         "b"},
        {{0xDFFF}, "\xEF\xBF\xBD", "\xED\xBF\xBF"},
        {{0xDBFF, 0xDC00, 0xDC00}, "\xF4\x8F\xB0\x80\xEF\xBF\xBD", "\xF4\x8F\xB0\x80\xED\xB0\x80"},
    };
#else
    const std::vector<row> rows = {
        {"x\xFF", "x\xEF\xBF\xBD", "x\xFF"},
        {"\xED\xA0\x80.txt", "\xEF\xBF\xBD.txt", "\xED\xA0\x80.txt"},
    };
#endif
    for (const auto& r : rows) {
        SCOPED_TRACE(r.utf8);
        const fs::path p(r.native);
        EXPECT_EQ(u8::to_utf8(p), r.utf8);
        EXPECT_EQ(u8::to_utf8(p, lossless), r.kept);
        EXPECT_EQ(u8::to_path(r.kept, lossless), p);
        EXPECT_EQ(u8::to_utf8(u8::to_path(r.kept)), r.utf8);
    }
#if !defined(_WIN32)
    // For real: the default name is another file; the lossless one reopens it.
    const std::string dir = "wexal-paths-bytes";
    fs::remove_all(dir);
    fs::create_directory(dir);
    std::FILE* f = std::fopen((dir + "/x\xFF").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    const fs::path found = fs::directory_iterator(dir)->path();
    EXPECT_EQ(u8::to_utf8(found.filename()), "x\xEF\xBF\xBD");
    EXPECT_TRUE(std::ifstream(u8::to_path(u8::to_utf8(found, lossless), lossless)).is_open());
    EXPECT_FALSE(std::ifstream(u8::to_path(u8::to_utf8(found))).is_open());
    EXPECT_EQ(u8::to_path(dir + "/x\xFF"), found);
    fs::remove_all(dir);
#else
    // For real where the file system holds such a name (Windows does; Wine's
    // _wfopen refuses it): the lossless name reaches that very file, through
    // the file calls and the file streams, and the U+FFFD name another one.
    const std::wstring lone = {L'w', 0xD800, L'.', L't', L'x', L't'};
    if (std::FILE* f = _wfopen(lone.c_str(), L"wb")) {
        std::fclose(f);
        const std::string name = u8::to_utf8(fs::path(lone), lossless);
        EXPECT_TRUE(u8::ifstream(name).is_open());
        EXPECT_EQ(u8::remove(u8::to_utf8(fs::path(lone)).c_str()), -1);
        EXPECT_EQ(u8::remove(name.c_str()), 0);
    }
#endif
}

// Under Wine the system's text is English: the fake platform's test has a translated one.
TEST(ErrorText, Utf8MessagesAndWholePaths) {
#if defined(_WIN32)
    EXPECT_EQ(u8::system_category().message(5), "Access denied");  // Wine's; Windows says "Access is denied"
#else
    EXPECT_EQ(u8::system_category().message(EACCES), "Permission denied");
#endif
    EXPECT_EQ(u8::error_message(ENOENT), "No such file or directory");
    const std::string name = "wexal-missing-Gr\xC3\xBC\xC3\x9F-\xE6\x97\xA5\xF0\x9F\x98\x80";
    try {
        fs::copy_file(u8::to_path(name), u8::to_path(name + "2"));
        ADD_FAILURE() << "copied";
    } catch (const fs::filesystem_error& e) {
        EXPECT_EQ(u8::describe(e),
                  "filesystem error: cannot copy file: No such file or directory [" + name + "] [" + name + "2]")
            << e.what();
    }
}

}  // namespace
