// The Windows name calls and listing against the fake: what reaches the
// system, and what errno and the entries say for each answer it gives.
#include <wexal/u8port/system.hpp>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <tuple>
#include <vector>

#include "support/fake_platform.hpp"
#include "support/fake_process.hpp"

namespace {

namespace u8 = wexal::u8port;
using wexal::test::fake_files;
using wexal::test::wide;

class SystemCalls : public ::testing::Test {
protected:
    void SetUp() override { wexal::test::reset_fake_platform(); }
    void TearDown() override { wexal::test::reset_fake_platform(); }
};

// Descriptors not inherited unless asked; the modes the C runtime would stop
// the program for (0644, X_OK) reduced to what it takes.
TEST_F(SystemCalls, OpenAndAccessHandTheRuntimeOnlyWhatItTakes) {
    // _O_RDONLY, _O_WRONLY | _O_CREAT | _O_TRUNC, _O_NOINHERIT already, and inheritable.
    const int cases[][4] = {{0, 0, 0x80, 0},
                            {0x0301, 0644, 0x0381, 0600},
                            {0x80, 0400, 0x80, 0400},
                            {u8::open_inheritable | 0x0102, 0666, 0x0102, 0600}};
    for (const auto& c : cases) {
        fake_files().reset();
        u8::open("f", c[0], c[1]);
        EXPECT_EQ(fake_files().calls.at(0).ints, (std::vector<int>{c[2], c[3]})) << c[0];
    }
    u8::access("f", 7);
    EXPECT_EQ(fake_files().calls.back().ints, std::vector<int>{6});
}

TEST_F(SystemCalls, StatTakesANameEndingInASeparatorAsPosixDoes) {
    const struct {
        const char* name;
        unsigned mode;  // what the system reports
        std::u16string handed;
        int error;  // -1 and this errno, or 0 for success
    } cases[] = {{"dir\\/", 0x4000, u"dir", 0}, {"file/", 0x8000, u"file", ENOTDIR}, {"C:\\", 0x4000, u"C:\\", 0}};
    for (const auto& c : cases) {
        fake_files().reset();
        fake_files().stat_mode = c.mode;
        errno = 0;
        u8::stat_type st;
        EXPECT_EQ(u8::stat(c.name, &st), c.error == 0 ? 0 : -1) << c.name;
        EXPECT_EQ(errno, c.error) << c.name;
        EXPECT_EQ(fake_files().calls.at(0).args[0], wide(c.handed)) << c.name;
    }
}

// Each failure of FindFirstFileExW, telling a missing folder from a file and
// an empty drive root (errno 0 here) from an error.
TEST_F(SystemCalls, ListingFailuresSetErrnoAsOpendirDoes) {
    const struct {
        std::uint32_t error;
        const char* folder_is;  // "file", "dir" or "" (missing)
        int expected;
    } cases[] = {{3, "", ENOENT},         {2, "", ENOENT},        {2, "dir", 0},        {5, "dir", EACCES},
                 {267, "", ENOTDIR},      {123, "file", ENOTDIR}, {3, "file", ENOTDIR}, {8, "dir", ENOMEM},
                 {206, "", ENAMETOOLONG}, {1, "dir", EINVAL}};
    for (const auto& c : cases) {
        wexal::test::reset_fake_platform();
        fake_files().find_error = c.error;
        auto& names = std::string(c.folder_is) == "file" ? wexal::test::fake_processes().files
                                                         : wexal::test::fake_processes().directories;
        if (*c.folder_is != 0) names.insert(wide(u"C:\\x"));
        errno = 0;
        u8::DIR_type* dir = u8::opendir("C:\\x");
        EXPECT_EQ(errno, c.expected) << c.error << " " << c.folder_is;
        ASSERT_EQ(dir != nullptr, c.expected == 0) << c.error;
        if (dir == nullptr) continue;
        EXPECT_STREQ(u8::readdir(dir)->d_name, ".");
        EXPECT_STREQ(u8::readdir(dir)->d_name, "..");
        EXPECT_EQ(u8::readdir(dir), nullptr);
        EXPECT_EQ(u8::closedir(dir), 0);
    }
}

TEST_F(SystemCalls, ListingGivesDotsOnceTypesSizesAndLosslessNames) {
    using entry = wexal::test::fake_find_entry;
    const std::vector<entry> root = {
        {wide(u"f"), 0x20, 0, 0x100000005ull},  {wide(u"sub"), 0x10, 0, 7},
        {wide(u"link"), 0x410, 0xA000000C, 0},  {wide(u"junction"), 0x410, 0xA0000003, 0},
        {wide(u"cloud"), 0x410, 0x9000001A, 0}, {wide(u"x\xD800\xD83D\xDE00"), 0x20, 0, 1}};
    std::vector<entry> folder = root;  // where the system gives the dots itself
    folder.insert(folder.begin(), {{wide(u"."), 0x10, 0, 0}, {wide(u".."), 0x10, 0, 0}});
    const std::vector<std::tuple<std::string, unsigned char, std::uint64_t>> expected = {
        {".", u8::dt_directory, u8::size_unknown},     {"..", u8::dt_directory, u8::size_unknown},
        {"f", u8::dt_regular, 0x100000005ull},         {"sub", u8::dt_directory, u8::size_unknown},
        {"link", u8::dt_symlink, u8::size_unknown},    {"junction", u8::dt_symlink, u8::size_unknown},
        {"cloud", u8::dt_directory, u8::size_unknown}, {"x\xED\xA0\x80\xF0\x9F\x98\x80", u8::dt_regular, 1}};
    for (const bool is_root : {true, false}) {
        wexal::test::reset_fake_platform();
        fake_files().listings[wide(is_root ? u"C:\\*" : u"C:\\w\\*")] = is_root ? root : folder;
        u8::DIR_type* dir = u8::opendir(is_root ? "C:\\" : "C:\\w");
        ASSERT_NE(dir, nullptr);
        for (const auto& e : expected) {
            const u8::dirent_type* got = u8::readdir(dir);
            ASSERT_NE(got, nullptr) << std::get<0>(e);
            EXPECT_EQ(std::make_tuple(std::string(got->d_name), got->d_type, got->d_size), e);
        }
        errno = 0;
        EXPECT_EQ(u8::readdir(dir), nullptr);
        EXPECT_EQ(errno, 0) << "the end is not an error";
        EXPECT_EQ(fake_files().open_finds, 0) << "closed at the end";
        EXPECT_EQ(u8::closedir(dir), 0);
    }
    // A failure while listing is an error, not the end.
    wexal::test::reset_fake_platform();
    fake_files().listings[wide(u"C:\\*")] = root;
    fake_files().end_error = 5;
    u8::DIR_type* dir = u8::opendir("C:\\");
    while (u8::readdir(dir) != nullptr) errno = 0;
    EXPECT_EQ(errno, EACCES);
    u8::closedir(dir);
}

}  // namespace
