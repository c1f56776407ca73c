// The file calls against the real platform: real files with non-ASCII names,
// checked through an independent listing of the directory.
#include <wexal/u8port/cstdio.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

class RealFiles : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::string("wexal-files-") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(fs::u8path(dir_));
        fs::create_directories(fs::u8path(dir_));
    }
    void TearDown() override { fs::remove_all(fs::u8path(dir_)); }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    // The UTF-8 names in the test directory, as the file system reports them.
    std::vector<std::string> listing() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(fs::u8path(dir_))) {
            names.push_back(entry.path().filename().u8string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    static std::string read_all(std::FILE* f) {
        std::string text;
        char chunk[256];
        std::size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
        return text;
    }

    std::string dir_;
};

struct name_case {
    const char* what;
    std::string name;     // as given to the library
    std::string on_disk;  // as the directory listing must show it
    std::string renamed;
};

TEST_F(RealFiles, CreateReopenRenameAndRemoveFilesWithUtf8Names) {
    const std::vector<name_case> cases = {
        {"é, CJK and U+1F600", "caf\xC3\xA9-\xE6\x97\xA5\xE6\x9C\xAC-\xF0\x9F\x98\x80.txt",
         "caf\xC3\xA9-\xE6\x97\xA5\xE6\x9C\xAC-\xF0\x9F\x98\x80.txt",
         "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82.txt"},
#if defined(_WIN32)
        {"an invalid byte becomes U+FFFD", "bad\xFFname.txt", "bad\xEF\xBF\xBDname.txt", "fixed.txt"},
        {"a truncated sequence becomes U+FFFD", "cut\xE2\x82", "cut\xEF\xBF\xBD", "whole\xE2\x82\xAC"},
#else
        {"an invalid byte stays", "bad\xFFname.txt", "bad\xFFname.txt", "fixed.txt"},
        {"a truncated sequence stays", "cut\xE2\x82", "cut\xE2\x82", "whole\xE2\x82\xAC"},
#endif
        {"plain ASCII", "plain.txt", "plain.txt", "plain2.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::FILE* f = wexal::u8port::fopen(path(c.name).c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_GE(std::fputs("Gr\xC3\xBC\xC3\x9F"
                             "e\n",
                             f),
                  0);
        std::fclose(f);
        EXPECT_EQ(listing(), std::vector<std::string>{c.on_disk});

        f = wexal::u8port::fopen(path(c.name).c_str(), "rb");
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(read_all(f),
                  "Gr\xC3\xBC\xC3\x9F"
                  "e\n");
        // Reopen the same stream for appending under the same name.
        f = wexal::u8port::freopen(path(c.name).c_str(), "ab", f);
        ASSERT_NE(f, nullptr);
        std::fputs("more\n", f);
        std::fclose(f);

        ASSERT_EQ(wexal::u8port::rename(path(c.name).c_str(), path(c.renamed).c_str()), 0);
        EXPECT_EQ(listing(), std::vector<std::string>{c.renamed});
        f = wexal::u8port::fopen(path(c.renamed).c_str(), "rb");
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(read_all(f),
                  "Gr\xC3\xBC\xC3\x9F"
                  "e\nmore\n");
        std::fclose(f);

        EXPECT_EQ(wexal::u8port::remove(path(c.renamed).c_str()), 0);
        EXPECT_TRUE(listing().empty());
        EXPECT_NE(wexal::u8port::remove(path(c.renamed).c_str()), 0) << "removing a missing file must fail";
        EXPECT_EQ(wexal::u8port::fopen(path(c.name).c_str(), "rb"), nullptr);
    }
}

TEST_F(RealFiles, NamesLongerThanTheInObjectArrayWork) {
    // Over 300 UTF-8 bytes, so the name takes the heap path, while staying
    // within the 255-byte name component of Linux and the 260-unit paths that
    // older Windows tools still assume.
    std::string e_acute_100;
    for (int i = 0; i < 100; ++i) e_acute_100 += "\xC3\xA9";
    const std::string sub = dir_ + "/" + e_acute_100;
    fs::create_directories(fs::u8path(sub));
    const std::string file = sub + "/" + e_acute_100 + "\xF0\x9F\x98\x80.txt";
    ASSERT_GT(file.size(), 400u);
    std::FILE* f = wexal::u8port::fopen(file.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("deep", f);
    std::fclose(f);
    EXPECT_TRUE(fs::exists(fs::u8path(file)));
    const std::string moved = sub + "/moved-" + e_acute_100 + "\xE6\x97\xA5.txt";
    EXPECT_EQ(wexal::u8port::rename(file.c_str(), moved.c_str()), 0);
    EXPECT_FALSE(fs::exists(fs::u8path(file)));
    EXPECT_TRUE(fs::exists(fs::u8path(moved)));
    EXPECT_EQ(wexal::u8port::remove(moved.c_str()), 0);
    EXPECT_FALSE(fs::exists(fs::u8path(moved)));
}

TEST_F(RealFiles, FailuresComeBackAsThePlatformReportsThem) {
    EXPECT_EQ(wexal::u8port::fopen(path("missing-\xC3\xA9.txt").c_str(), "rb"), nullptr);
    EXPECT_NE(wexal::u8port::rename(path("missing").c_str(), path("other").c_str()), 0);
    EXPECT_EQ(wexal::u8port::fopen(nullptr, "rb"), nullptr);
    EXPECT_NE(wexal::u8port::remove(nullptr), 0);
}

}  // namespace
