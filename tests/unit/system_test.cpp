// The Windows name calls and listing against the fake: what reaches the
// system, and what errno and the entries say for each answer it gives.
#include <wexal/u8port/system.hpp>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>
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

TEST_F(SystemCalls, OpenMakesDescriptorsNotInheritedUnlessAsked) {
    const struct {
        int flags, expected;
    } cases[] = {
        {0, 0x80},                                // _O_RDONLY gets _O_NOINHERIT
        {0x0301, 0x0381},                         // _O_WRONLY | _O_CREAT | _O_TRUNC
        {0x80, 0x80},                             // asked already
        {u8::open_inheritable | 0x0102, 0x0102},  // inheritable: the library's flag taken out
    };
    for (const auto& c : cases) {
        fake_files().reset();
        u8::open("f", c.flags, 0644);
        EXPECT_EQ(fake_files().calls.at(0).ints, (std::vector<int>{c.expected, 0644})) << c.flags;
    }
}

TEST_F(SystemCalls, StatTakesANameEndingInASeparatorAsPosixDoes) {
    const struct {
        const char* name;
        unsigned mode;  // what the system reports
        std::u16string handed;
        int result, error;
    } cases[] = {
        {"dir\\", 0x4000, u"dir", 0, 0}, {"dir//", 0x4000, u"dir", 0, 0}, {"file/", 0x8000, u"file", -1, ENOTDIR},
        {"file", 0x8000, u"file", 0, 0}, {"C:\\", 0x4000, u"C:\\", 0, 0}, {"\\", 0x4000, u"\\", 0, 0},
    };
    for (const auto& c : cases) {
        fake_files().reset();
        fake_files().stat_mode = c.mode;
        errno = 0;
        u8::stat_type st;
        EXPECT_EQ(u8::stat(c.name, &st), c.result) << c.name;
        EXPECT_EQ(errno, c.error) << c.name;
        EXPECT_EQ(fake_files().calls.at(0).args[0], wide(c.handed)) << c.name;
    }
}

// The listing's answer for each failure of FindFirstFileExW, telling a
// missing folder from a file and an empty drive root from an error.
TEST_F(SystemCalls, ListingFailuresSetErrnoAsOpendirDoes) {
    const struct {
        std::uint32_t error;
        const char* folder_is;  // "file", "dir" or "" (missing)
        int expected;           // errno, or 0 for an empty listing
    } cases[] = {
        {3, "", ENOENT},        {2, "", ENOENT},      {2, "dir", 0},      {5, "dir", EACCES},      {267, "", ENOTDIR},
        {123, "file", ENOTDIR}, {3, "file", ENOTDIR}, {8, "dir", ENOMEM}, {206, "", ENAMETOOLONG}, {1, "dir", EINVAL},
    };
    for (const auto& c : cases) {
        wexal::test::reset_fake_platform();
        fake_files().find_error = c.error;
        if (std::string(c.folder_is) == "file") wexal::test::fake_processes().files.insert(wide(u"C:\\x"));
        if (std::string(c.folder_is) == "dir") wexal::test::fake_processes().directories.insert(wide(u"C:\\x"));
        errno = 0;
        u8::DIR_type* dir = u8::opendir("C:\\x");
        EXPECT_EQ(errno, c.expected) << c.error << " " << c.folder_is;
        ASSERT_EQ(dir != nullptr, c.expected == 0) << c.error;
        if (dir == nullptr) continue;
        std::vector<std::string> names;
        while (const u8::dirent_type* e = u8::readdir(dir)) names.push_back(e->d_name);
        EXPECT_EQ(names, (std::vector<std::string>{".", ".."}));
        EXPECT_EQ(u8::closedir(dir), 0);
    }
}

TEST_F(SystemCalls, ListingGivesDotsOnceTypesSizesAndLosslessNames) {
    using entry = wexal::test::fake_find_entry;
    const std::vector<entry> root = {
        {wide(u"file.txt"), 0x20, 0, 0x100000005ull},
        {wide(u"sub"), 0x10, 0, 7},
        {wide(u"link"), 0x410, 0xA000000C, 0},  // a symbolic link to a folder
        {wide(u"junction"), 0x410, 0xA0000003, 0},
        {wide(u"cloud"), 0x410, 0x9000001A, 0},  // another reparse point: the folder it is
        {wide(u"x\xD800\xD83D\xDE00"), 0x20, 0, 1},
    };
    std::vector<entry> folder = root;
    folder.insert(folder.begin(), {{wide(u"."), 0x10, 0, 0}, {wide(u".."), 0x10, 0, 0}});
    const struct {
        const char* name;
        std::u16string pattern;
        std::vector<entry> listed;
    } cases[] = {{"C:\\", u"C:\\*", root}, {"C:\\w", u"C:\\w\\*", folder}, {"C:", u"C:*", folder}};
    const struct {
        std::string name;
        unsigned char type;
        std::uint64_t size;
    } expected[] = {
        {".", u8::dt_directory, u8::size_unknown},     {"..", u8::dt_directory, u8::size_unknown},
        {"file.txt", u8::dt_regular, 0x100000005ull},  {"sub", u8::dt_directory, u8::size_unknown},
        {"link", u8::dt_symlink, u8::size_unknown},    {"junction", u8::dt_symlink, u8::size_unknown},
        {"cloud", u8::dt_directory, u8::size_unknown}, {"x\xED\xA0\x80\xF0\x9F\x98\x80", u8::dt_regular, 1},
    };
    for (const auto& c : cases) {
        wexal::test::reset_fake_platform();
        fake_files().listings[wide(c.pattern)] = c.listed;
        u8::DIR_type* dir = u8::opendir(c.name);
        ASSERT_NE(dir, nullptr) << c.name;
        for (const auto& e : expected) {
            const u8::dirent_type* got = u8::readdir(dir);
            ASSERT_NE(got, nullptr) << c.name << " " << e.name;
            EXPECT_EQ(got->d_name, e.name) << c.name;
            EXPECT_EQ(got->d_type, e.type) << e.name;
            EXPECT_EQ(got->d_size, e.size) << e.name;
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
    EXPECT_EQ(fake_files().open_finds, 0);
}

TEST_F(SystemCalls, CurrentDirectoryAtAnyLengthInLosslessForm) {
    const std::u16string units = u"C:\\" + std::u16string(300, u'\u00E9') + u"\\\xDC00";
    fake_files().current_directory = wide(units);
    const std::string utf8 = "C:\\" + [] {
        std::string s;
        for (int i = 0; i < 300; ++i) s += "\xC3\xA9";
        return s;
    }() + "\\\xED\xB0\x80";
    EXPECT_EQ(u8::current_directory(), utf8);
    char* got = u8::getcwd(nullptr, 0);
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(got, utf8);
    std::free(got);
    fake_files().current_directory.clear();
    errno = 0;
    EXPECT_EQ(u8::getcwd(nullptr, 0), nullptr);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_THROW(u8::current_directory(), std::system_error);
}

}  // namespace
