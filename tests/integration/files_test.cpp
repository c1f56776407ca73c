// The file calls against the real platform: real files with non-ASCII names,
// checked through an independent listing of the directory.
#include <wexal/u8port/cstdio.hpp>
#include <wexal/u8port/filesystem.hpp>
#include <wexal/u8port/system.hpp>

#include <fcntl.h>
#if __has_include(<dirent.h>)
#include <dirent.h>  // beside the library's listing, which must not clash with it
#endif
#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>
#include <vector>

namespace {

namespace fs = std::filesystem;
namespace u8 = wexal::u8port;

constexpr char separator = static_cast<char>(fs::path::preferred_separator);
#if defined(_WIN32)
int close_descriptor(int fd) { return _close(fd); }
#else
int close_descriptor(int fd) { return ::close(fd); }
#endif

std::string native(std::string name) {
    std::replace(name.begin(), name.end(), '/', separator);
    return name;
}

// Whether std::filesystem finds the name (a long one in the verbatim form it needs on Windows).
bool on_disk(const std::string& name) { return fs::exists(u8::to_path(u8::system_path(name))); }

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

// Every name call on one folder and a file in it, for names in several
// scripts and one whose full path is past MAX_PATH.
TEST_F(RealFiles, NameCallsReachTheSameFolderAndFile) {
    const std::string p(200, 'p');
    std::vector<std::string> names = {"plain", "caf\xC3\xA9", "\xE6\x97\xA5\xE6\x9C\xAC", "\xF0\x9F\x98\x80",
                                      p + "/" + std::string(100, 'q')};
#if !defined(_WIN32)
    names.push_back("caf\xE9");  // a Latin-1 byte
#endif
    const std::string start = u8::current_directory();
    ASSERT_EQ(u8::mkdir(path(p).c_str()), 0);
    for (const auto& name : names) {
        SCOPED_TRACE(name.size());
        const std::string folder = path(name), file = folder + "/f.txt";
        ASSERT_EQ(u8::mkdir(folder.c_str()), 0);
        EXPECT_TRUE(on_disk(folder));
        u8::stat_type st;
        ASSERT_EQ(u8::stat((folder + "/").c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        const int fd = u8::open(file.c_str(), O_CREAT | O_WRONLY, 0666);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(close_descriptor(fd), 0);
        EXPECT_EQ(u8::access(file.c_str(), 0), 0);
        ASSERT_EQ(u8::chmod(file.c_str(), 0444), 0);
        ASSERT_EQ(u8::stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0222, 0u);
        EXPECT_EQ(u8::chmod(file.c_str(), 0666), 0);
        errno = 0;
        EXPECT_EQ(u8::stat((file + "/").c_str(), &st), -1);
        EXPECT_EQ(errno, ENOTDIR);

        std::multiset<std::string> listed;
        u8::DIR_type* dir = u8::opendir(folder.c_str());
        ASSERT_NE(dir, nullptr);
        while (const u8::dirent_type* e = u8::readdir(dir)) listed.insert(e->d_name);
        EXPECT_EQ(u8::closedir(dir), 0);
        EXPECT_EQ(listed, (std::multiset<std::string>{".", "..", "f.txt"}));

        // The current directory comes back as the name that reaches it.
        ASSERT_EQ(u8::chdir(folder.c_str()), 0);
        EXPECT_EQ(u8::current_directory(), native(start + "/" + folder));
        EXPECT_EQ(u8::access("f.txt", 0), 0);
        ASSERT_EQ(u8::chdir(start.c_str()), 0);

        EXPECT_EQ(u8::rmdir(folder.c_str()), -1) << "not empty";
        EXPECT_EQ(u8::remove(file.c_str()), 0);
        EXPECT_EQ(u8::rmdir(folder.c_str()), 0);
        EXPECT_FALSE(on_disk(folder));
        EXPECT_EQ(u8::opendir(folder.c_str()), nullptr);
        EXPECT_EQ(errno, ENOENT);
    }
    EXPECT_EQ(u8::rmdir(path(p).c_str()), 0);
    std::fclose(u8::fopen(path("f").c_str(), "w"));
    EXPECT_EQ(u8::opendir(path("f").c_str()), nullptr);
    EXPECT_EQ(errno, ENOTDIR);
}

TEST_F(RealFiles, GetcwdFollowsTheCRules) {
    const std::string cwd = u8::current_directory();
    std::vector<char> buffer(cwd.size() + 1);
    errno = 0;
    EXPECT_EQ(u8::getcwd(buffer.data(), cwd.size()), nullptr);
    EXPECT_EQ(errno, ERANGE);
    EXPECT_EQ(u8::getcwd(buffer.data(), buffer.size()), buffer.data());
    EXPECT_EQ(buffer.data(), cwd);
    char* allocated = u8::getcwd(nullptr, 0);
    ASSERT_NE(allocated, nullptr);
    EXPECT_EQ(allocated, cwd);
    std::free(allocated);
}

// A tree with a branch past MAX_PATH: every file is found once, a link to a
// folder not entered.
TEST_F(RealFiles, DirectoryWalksTheWholeTreeAtAnyDepth) {
    const std::string b(100, 'b'), c = b + "/" + std::string(100, 'c'), d = c + "/" + std::string(100, 'd');
    const std::vector<std::string> folders = {"\xE6\x97\xA5", b, c, d};
    const std::vector<std::string> files = {"top.txt", "\xE6\x97\xA5/\xF0\x9F\x98\x80", b + "/1", c + "/2",
                                            d + "/3.txt"};
    for (const auto& f : folders) ASSERT_EQ(u8::mkdir(path(f).c_str()), 0);
    for (const auto& f : files) {
        std::FILE* out = u8::fopen(path(f).c_str(), "w");
        ASSERT_NE(out, nullptr) << f;
        std::fputs(f.c_str(), out);
        std::fclose(out);
    }
    std::multiset<std::string> expected(files.begin(), files.end());
    expected.insert(folders.begin(), folders.end());
#if !defined(_WIN32)
    ASSERT_EQ(::symlink(b.c_str(), path("link").c_str()), 0);
    expected.insert("link");
#endif
    std::multiset<std::string> found;
    for (const u8::directory_entry& e : u8::directory(dir_, u8::recursive)) {
        std::string n = e.name;
        std::replace(n.begin(), n.end(), separator, '/');
        found.insert(n);
        EXPECT_EQ(e.path, native(dir_ + "/" + n));
        const auto file = std::find(files.begin(), files.end(), n);
        EXPECT_EQ(e.is_regular_file(), file != files.end()) << n;
        EXPECT_EQ(e.is_directory(), std::find(folders.begin(), folders.end(), n) != folders.end()) << n;
        EXPECT_EQ(e.is_symlink(), n == "link");
        EXPECT_EQ(e.size(), file != files.end() ? file->size() : 0u);
    }
    EXPECT_EQ(found, expected);
    found.clear();
    for (const auto& e : u8::directory(dir_)) found.insert(e.name);
    EXPECT_EQ(found.size(), 3 + expected.count("link")) << "the folder's own entries only";
    std::error_code error;
    for (const auto& e : u8::directory(path("missing"), error)) ADD_FAILURE() << e.name;
    EXPECT_EQ(error.value(), ENOENT);
    EXPECT_THROW(u8::directory(path("top.txt"), u8::recursive).begin(), std::system_error);
    // std::filesystem cannot remove the long branch under Wine.
    for (const auto& f : files) EXPECT_EQ(u8::remove(path(f).c_str()), 0);
    for (auto f = folders.rbegin(); f != folders.rend(); ++f) EXPECT_EQ(u8::rmdir(path(*f).c_str()), 0);
}

}  // namespace
