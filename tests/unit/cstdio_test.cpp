#include <wexal/u8port/cstdio.hpp>
#include <wexal/u8port/system.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "support/counting_allocator.hpp"
#include "support/fake_platform.hpp"
#include "support/fake_process.hpp"

namespace {

namespace u8 = wexal::u8port;
using wexal::test::allocation_scope;
using wexal::test::fake_files;
using wexal::test::wide;
using wexal::test::wide_arg;
using wexal::test::wide_string;

class FileCalls : public ::testing::Test {
protected:
    void SetUp() override { wexal::test::reset_fake_platform(); }
    void TearDown() override { wexal::test::reset_fake_platform(); }

    // A FILE* value the fake hands back; never dereferenced.
    std::FILE* token(int n) { return reinterpret_cast<std::FILE*>(static_cast<std::uintptr_t>(0x1000 + n)); }
};

struct name_case {
    const char* what;
    const char* utf8;
    wide_string expected;
};

TEST_F(FileCalls, NamesReachThePlatformAsUtf16) {
    const std::vector<name_case> cases = {
        {"ASCII", "plain.txt", wide(u"plain.txt")},
        {"é", "caf\xC3\xA9.txt", wide(u"caf\u00E9.txt")},
        {"CJK", "\xE6\x97\xA5\xE6\x9C\xAC", wide(u"\u65E5\u672C")},
        {"U+1F600 as a surrogate pair", "\xF0\x9F\x98\x80", wide(u"\xD83D\xDE00")},
        {"invalid byte",
         "a\xFF"
         "b",
         wide(u"a\uFFFDb")},
        {"truncated at the end", "name\xC3", wide(u"name\uFFFD")},
        {"Latin-1 name keeps its dot", "caf\xE9.txt", wide(u"caf\uFFFD.txt")},
        // The lossless form of a name (to_utf8(p, lossless)) names that file.
        {"a lone surrogate's three-byte form", "x\xED\xA0\x80y", wide(u"x\xD800y")},
        {"a lone trail surrogate's", "\xED\xBF\xBF", wide(u"\xDFFF")},
        {"two forms that make a pair", "\xED\xA0\xBD\xED\xB8\x80", wide(u"\xD83D\xDE00")},
        {"a cut form is malformed", "\xED\xA0.txt", wide(u"\uFFFD.txt")},
    };
    u8::stat_type st;
    // Each name call, and what it hands the platform after the name.
    const std::vector<std::pair<std::function<void(const char*)>, wide_string>> calls = {
        {[&](const char* n) { u8::stat(n, &st); }, {}}, {[](const char* n) { u8::access(n, 0); }, {}},
        {[](const char* n) { u8::mkdir(n); }, {}},      {[](const char* n) { u8::rmdir(n); }, {}},
        {[](const char* n) { u8::chdir(n); }, {}},      {[](const char* n) { u8::chmod(n, 0); }, {}},
        {[](const char* n) { u8::open(n, 0); }, {}},    {[](const char* n) { u8::opendir(n); }, wide(u"\\*")},
    };
    for (const auto& c : cases) {
        fake_files().reset();
        fake_files().stream_result = token(1);
        EXPECT_EQ(wexal::u8port::fopen(c.utf8, "rb"), token(1)) << c.what;
        for (const auto& call : calls) call.first(c.utf8);
        ASSERT_EQ(fake_files().calls.size(), 1 + calls.size()) << c.what;
        EXPECT_EQ(fake_files().calls[0].function, "_wfopen");
        EXPECT_EQ(fake_files().calls[0].args, (std::vector<wide_arg>{c.expected, wide(u"rb")})) << c.what;
        for (std::size_t i = 0; i < calls.size(); ++i) {
            EXPECT_EQ(fake_files().calls[i + 1].args[0], c.expected + calls[i].second)
                << c.what << ", " << fake_files().calls[i + 1].function;
        }
    }
}

TEST_F(FileCalls, EachCallPassesItsArgumentsInOrderAndReturnsThePlatformResult) {
    fake_files().stream_result = token(2);
    fake_files().int_result = 17;
    EXPECT_EQ(wexal::u8port::freopen("new.log", "w+", token(3)), token(2));
    EXPECT_EQ(wexal::u8port::remove("gone"), 17);
    EXPECT_EQ(wexal::u8port::rename("old", "\xC3\xA9new"), 17);
    fake_files().int_result = -1;
    EXPECT_EQ(wexal::u8port::remove("missing"), -1);

    const auto& calls = fake_files().calls;
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].function, "_wfreopen");
    EXPECT_EQ(calls[0].args, (std::vector<wide_arg>{wide(u"new.log"), wide(u"w+")}));
    EXPECT_EQ(calls[0].stream, token(3));
    EXPECT_EQ(calls[1].function, "_wremove");
    EXPECT_EQ(calls[1].args, (std::vector<wide_arg>{wide(u"gone")}));
    EXPECT_EQ(calls[2].function, "_wrename");
    EXPECT_EQ(calls[2].args, (std::vector<wide_arg>{wide(u"old"), wide(u"\u00E9new")}));
    EXPECT_EQ(calls[3].args, (std::vector<wide_arg>{wide(u"missing")}));
}

TEST_F(FileCalls, NullNamesReachThePlatformAsNull) {
    EXPECT_EQ(wexal::u8port::fopen(nullptr, nullptr), nullptr);
    wexal::u8port::freopen(nullptr, "r", token(4));
    wexal::u8port::remove(nullptr);
    wexal::u8port::rename(nullptr, "b");
    wexal::u8port::rename("a", nullptr);
    const auto& calls = fake_files().calls;
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[0].args, (std::vector<wide_arg>{std::nullopt, std::nullopt}));
    EXPECT_EQ(calls[1].args, (std::vector<wide_arg>{std::nullopt, wide(u"r")}));
    EXPECT_EQ(calls[1].stream, token(4));
    EXPECT_EQ(calls[2].args, (std::vector<wide_arg>{std::nullopt}));
    EXPECT_EQ(calls[3].args, (std::vector<wide_arg>{std::nullopt, wide(u"b")}));
    EXPECT_EQ(calls[4].args, (std::vector<wide_arg>{wide(u"a"), std::nullopt}));
}

TEST_F(FileCalls, ShortArgumentsAllocateNothingAndLongOnesAreFreedBeforeTheCallReturns) {
    struct at_call {
        std::size_t allocations = 0;
        std::size_t live = 0;
    };
    // Runs one call in a fresh scope; reports what the wrapper had allocated
    // when the platform call arrived, and checks nothing is left afterwards.
    auto measure = [](auto call) {
        at_call seen;
        allocation_scope scope;
        fake_files().during_call = [&] { seen = {scope.allocations(), scope.live()}; };
        call();
        fake_files().during_call = nullptr;
        EXPECT_EQ(scope.live(), 0u);
        return seen;
    };
    const std::string name255(255, 'o');
    const std::string mode15(15, 'b');
    const std::string name300(300, 'x');
    const std::string mode16 = "rb, ccs=UTF-8   ";

    const at_call short_rename = measure([&] { wexal::u8port::rename(name255.c_str(), "n"); });
    EXPECT_EQ(short_rename.allocations, 0u);
    const at_call short_open = measure([&] { wexal::u8port::fopen("f", mode15.c_str()); });
    EXPECT_EQ(short_open.allocations, 0u);
    const at_call long_open = measure([&] { wexal::u8port::fopen(name300.c_str(), mode16.c_str()); });
    EXPECT_EQ(long_open.allocations, 2u);
    EXPECT_EQ(long_open.live, 2u);
    const at_call long_remove = measure([&] { wexal::u8port::remove(name300.c_str()); });
    EXPECT_EQ(long_remove.allocations, 1u);

    const auto& call = fake_files().calls[2];
    EXPECT_EQ(call.args[0], wide_string(name300.begin(), name300.end()));
    EXPECT_EQ(call.args[1], wide_string(mode16.begin(), mode16.end()));
}

TEST_F(FileCalls, FailedAllocationMakesNoPlatformCallAndLeaksNothing) {
    const std::string long_old(400, 'o');
    const std::string long_new(400, 'n');
    allocation_scope scope;
    scope.fail_at(2);  // the second name's array
    EXPECT_THROW(wexal::u8port::rename(long_old.c_str(), long_new.c_str()), std::bad_alloc);
    EXPECT_TRUE(fake_files().calls.empty());
    EXPECT_EQ(scope.live(), 0u);
}

// A name whose full path (as Win32 resolves it: scripted here, for real under
// Wine in the file stream tests) reaches MAX_PATH goes as "\\?\" + that path.
TEST_F(FileCalls, NamesWhoseFullPathIsLongReachThePlatformInVerbatimForm) {
    const std::string n(270, 'n'), deep = "C:\\" + std::string(260, 'd');
    const struct {
        std::string name, full_path, expected;  // full_path "": no lookup expected
    } cases[] = {
        {"C:\\a\\b.txt", "", "C:\\a\\b.txt"},                       // absolute short
        {"C:\\" + n, "C:\\" + n, "\\\\?\\C:\\" + n},                // absolute long
        {"a.txt", "C:\\w\\a.txt", "a.txt"},                         // relative, short current directory
        {"a.txt", deep + "\\a.txt", "\\\\?\\" + deep + "\\a.txt"},  // relative, long current directory
        {"x/../" + n, "C:\\w\\" + n, "\\\\?\\C:\\w\\" + n},         // relative long, '..' and '/'
        {"D:" + n, "D:\\cur\\" + n, "\\\\?\\D:\\cur\\" + n},        // drive-relative
        {"\\\\srv\\share\\" + n, "\\\\srv\\share\\" + n, "\\\\?\\UNC\\srv\\share\\" + n},
        {"\\\\?\\C:\\" + n, "", "\\\\?\\C:\\" + n},         // already verbatim
        {"C:\\" + n + ".", "C:\\" + n, "\\\\?\\C:\\" + n},  // trailing dot
        // Under a current directory in verbatim form the full path already is.
        {"a.txt", "\\\\?\\" + deep + "\\a.txt", "\\\\?\\" + deep + "\\a.txt"},
        {"a.txt", "\\\\?\\UNC\\srv\\share\\" + n, "\\\\?\\UNC\\srv\\share\\" + n},
        // Win32 normalises every other device form and limits its length.
        {"\\\\.\\C:\\" + n, "\\\\.\\C:\\" + n, "\\\\?\\C:\\" + n},
        {"//?/C:/x/../" + n, "\\\\?\\C:\\" + n, "\\\\?\\C:\\" + n},
        {"\\\\.\\pipe\\short", "", "\\\\.\\pipe\\short"},
    };
    const auto w = [](const std::string& s) { return wide_string(s.begin(), s.end()); };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected.substr(0, 12));
        wexal::test::reset_fake_platform();
        if (!c.full_path.empty()) fake_files().full_paths[w(c.name)] = w(c.full_path);
        wexal::u8port::rename(c.name.c_str(), c.name.c_str());
        ASSERT_EQ(fake_files().calls.size(), 1u);
        EXPECT_EQ(fake_files().calls[0].args, (std::vector<wide_arg>{w(c.expected), w(c.expected)}));
        EXPECT_EQ(wexal::u8port::system_path(c.name), c.expected);
        const auto& log = wexal::test::fake_call_log();
        EXPECT_EQ(std::count(log.begin(), log.end(), "GetFullPathNameW") == 0, c.full_path.empty());
    }
}

TEST_F(FileCalls, WfopenPassesWideStringsThroughUntouched) {
    const wide_string name = wide(u"x\xD800y\xDC00");  // unpaired surrogates
    const wide_string mode = wide(u"rb");
    fake_files().stream_result = token(5);
    EXPECT_EQ(wexal::u8port::detail::wfopen(name.c_str(), mode.c_str()), token(5));
    ASSERT_EQ(fake_files().calls.size(), 1u);
    EXPECT_EQ(fake_files().calls[0].args, (std::vector<wide_arg>{name, mode}));
    wexal::u8port::detail::wfopen(nullptr, nullptr);
    EXPECT_EQ(fake_files().calls[1].args, (std::vector<wide_arg>{std::nullopt, std::nullopt}));
}

// _O_NOINHERIT added unless inheritable is asked (the last row); the modes
// the C runtime would stop the program for (0644, X_OK) reduced to what it takes.
TEST_F(FileCalls, OpenAndAccessHandTheRuntimeOnlyWhatItTakes) {
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

// Each failure of FindFirstFileExW; an empty drive root (errno 0) is no failure.
TEST_F(FileCalls, ListingFailuresSetErrnoAsOpendirDoes) {
    const struct {
        std::uint32_t error;
        char folder_is;  // 'f' a file, 'd' a folder, 0 nothing
        int expected;
    } cases[] = {{3, 0, ENOENT},      {2, 0, ENOENT},    {2, 'd', 0},      {5, 'd', EACCES},       {267, 0, ENOTDIR},
                 {123, 'f', ENOTDIR}, {3, 'f', ENOTDIR}, {8, 'd', ENOMEM}, {206, 0, ENAMETOOLONG}, {1, 'd', EINVAL}};
    for (const auto& c : cases) {
        wexal::test::reset_fake_platform();
        fake_files().find_error = c.error;
        auto& fake = wexal::test::fake_processes();
        if (c.folder_is != 0) (c.folder_is == 'f' ? fake.files : fake.directories).insert(wide(u"C:\\x"));
        errno = 0;
        u8::DIR_type* dir = u8::opendir("C:\\x");
        EXPECT_EQ(errno, c.expected) << c.error << " " << +c.folder_is;
        ASSERT_EQ(dir != nullptr, c.expected == 0) << c.error;
        if (dir == nullptr) continue;
        EXPECT_STREQ(u8::readdir(dir)->d_name, ".");
        EXPECT_STREQ(u8::readdir(dir)->d_name, "..");
        EXPECT_EQ(u8::closedir(dir), 0);
    }
}

TEST_F(FileCalls, ListingGivesDotsOnceTypesSizesAndLosslessNames) {
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
}

}  // namespace
