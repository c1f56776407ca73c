// The UTF-8 file streams on real files, checked through an independent
// listing, through u8port::fopen and against the standard streams.
#include <wexal/u8port/cstdio.hpp>
#include <wexal/u8port/fstream.hpp>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/counting_allocator.hpp"

namespace {

namespace fs = std::filesystem;
namespace u8 = wexal::u8port;
using std::ios;

fs::path native(const std::string& utf8) {
#if defined(__cpp_char8_t)
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
#else
    return fs::u8path(utf8);
#endif
}

#if defined(_WIN32)
const std::string newline = "\r\n";
const bool bytes = false;  // names are converted, malformed sequences to U+FFFD
#else
const std::string newline = "\n";
const bool bytes = true;  // names are bytes
#endif

// The bytes of a file, read with u8port::fopen; "<none>" when it cannot be opened.
std::string raw(const std::string& name) {
    std::FILE* f = u8::fopen(name.c_str(), "rb");
    if (f == nullptr) return "<none>";
    std::string text;
    for (int c; (c = std::fgetc(f)) != EOF;) text += static_cast<char>(c);
    std::fclose(f);
    return text;
}

class FileStreams : public ::testing::Test {
protected:
    void SetUp() override { reset(); }
    void TearDown() override { fs::remove_all(native(dir_), ignored_); }
    void reset() {
        fs::remove_all(native(dir_), ignored_);  // Wine's std::filesystem cannot, over MAX_PATH
        fs::create_directories(native(dir_));
    }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    // Every file under the test directory, as the file system names it.
    std::vector<std::string> listing() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(native(dir_))) {
            const auto name = entry.path().lexically_relative(native(dir_)).generic_u8string();
            if (entry.is_regular_file()) names.emplace_back(name.begin(), name.end());
        }
        return names;
    }

    std::error_code ignored_;
    std::string dir_ = "wexal-fstream-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name());
};

std::string first_line(std::ifstream& in) {
    std::string line;
    std::getline(in, line);
    return line;
}

TEST_F(FileStreams, Utf8NamesCreateReopenAndListTheSameFile) {
    std::string cjk_dirs;  // five directories of 20 CJK characters: 305 bytes
    for (int i = 0; i < 100; ++i) cjk_dirs += i % 20 == 19 ? "\xE6\x97\xA5/" : "\xE6\x97\xA5";
    const struct {
        const char* what;
        std::string name, on_disk;
    } cases[] = {
        {"é, CJK and U+1F600", "caf\xC3\xA9-\xE6\x97\xA5\xE6\x9C\xAC-\xF0\x9F\x98\x80.txt",
         "caf\xC3\xA9-\xE6\x97\xA5\xE6\x9C\xAC-\xF0\x9F\x98\x80.txt"},
        {"a malformed byte", "bad\xFFname.txt", bytes ? "bad\xFFname.txt" : "bad\xEF\xBF\xBDname.txt"},
        {"a truncated sequence at the end", "cut\xE2\x82", bytes ? "cut\xE2\x82" : "cut\xEF\xBF\xBD"},
        {"more than 255 bytes over several directories", cjk_dirs + "caf\xC3\xA9.txt", cjk_dirs + "caf\xC3\xA9.txt"},
        {"over MAX_PATH on Windows: a relative name of 347 characters with '..'",
         cjk_dirs + "../" + cjk_dirs.substr(0, 61) + cjk_dirs + cjk_dirs + "caf\xC3\xA9.txt",
         cjk_dirs + cjk_dirs + cjk_dirs + "caf\xC3\xA9.txt"},
    };
    const std::string text =
        "Gr\xC3\xBC\xC3\x9F"
        "e\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        reset();
        fs::create_directories(native(path(c.on_disk)).parent_path());
        u8::ofstream(path(c.name), ios::binary) << text;  // std::string
        // Wine's std::filesystem lists no tree that deep: there the name without '..' shows where the file is.
        const bool listable = bytes || c.on_disk.size() < 600;
        if (listable) {
            EXPECT_EQ(listing(), std::vector<std::string>{c.on_disk});
        }
        EXPECT_EQ(raw(path(c.on_disk)), text);

        const std::string padded = path(c.name) + "-not-part-of-the-name";
        u8::ifstream by_view(std::string_view(padded).substr(0, padded.size() - 21), ios::binary);
        EXPECT_EQ(first_line(by_view),
                  "Gr\xC3\xBC\xC3\x9F"
                  "e");
        u8::fstream by_pointer(path(c.name).c_str(), ios::in | ios::out | ios::ate);
        EXPECT_TRUE(by_pointer << "more");
#if defined(__cpp_char8_t)
        const std::u8string u8name(padded.begin(), padded.end() - 21);
        EXPECT_TRUE(u8::ifstream(u8name).is_open()) << "std::u8string_view";
        EXPECT_TRUE(u8::ifstream(u8name.c_str()).is_open()) << "const char8_t*";
#endif
        by_pointer.close();
        EXPECT_EQ(raw(path(c.name)), text + "more");
        if (listable) {
            EXPECT_EQ(listing().size(), 1u);
        }
        by_view.close();  // Windows renames no open file
        ASSERT_EQ(u8::rename(path(c.name).c_str(), (path(c.name) + "2").c_str()), 0);
        EXPECT_EQ(raw(path(c.on_disk) + "2"), text + "more");
        EXPECT_EQ(u8::remove((path(c.name) + "2").c_str()), 0);
        std::fclose(u8::fopen(path(c.name).c_str(), "wb"));
        if (listable) {
            EXPECT_EQ(listing(), std::vector<std::string>{c.on_disk});
        }
        EXPECT_EQ(raw(path(c.on_disk)), "");
    }
}

// What one open does to a file: whether it opened, where it stands, the first
// line read and the bytes on disk after writing, if the stream can write.
struct outcome {
    bool opened;
    long long position;
    std::string line, content;
    bool operator==(const outcome& o) const {
        return opened == o.opened && position == o.position && line == o.line && content == o.content;
    }
};

template <typename Stream>
outcome open_and_use(const std::string& name, ios::openmode mode, bool existing) {
    std::remove(name.c_str());  // ASCII names only
    if (existing) std::ofstream(name, ios::binary) << "old\nline\n";
    outcome r{};
    {
        Stream s;
        s.open(name.c_str(), mode);
        r.opened = s.is_open();
        r.position = s.rdbuf()->pubseekoff(0, ios::cur);
        if constexpr (std::is_base_of_v<std::istream, Stream>) std::getline(s, r.line);
        s.clear();
        if constexpr (std::is_base_of_v<std::ostream, Stream>) s << "x\ny\n";
    }
    r.content = raw(name);
    return r;
}

TEST_F(FileStreams, OpenModesBehaveAsInTheStandardStreams) {
    const std::string name = path("modes.txt");
    const ios::openmode in = ios::in, out = ios::out, app = ios::app, trunc = ios::trunc, ate = ios::ate;
    for (const ios::openmode mode : {in,
                                     out,
                                     out | trunc,
                                     out | app,
                                     app,
                                     in | out,
                                     in | out | trunc,
                                     in | out | app,
                                     in | app,
                                     trunc,
                                     in | trunc,
                                     out | ate,
                                     in | ate,
                                     in | out | ate,
                                     app | trunc,
                                     out | app | trunc,
                                     in | ios::binary,
                                     out | ios::binary,
                                     in | out | ios::binary,
                                     out | app | ios::binary}) {
        for (const bool existing : {false, true}) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << (existing ? ", file exists" : ", no file"));
            EXPECT_EQ((open_and_use<u8::ifstream>(name, mode, existing)),
                      (open_and_use<std::ifstream>(name, mode, existing)));
            EXPECT_EQ((open_and_use<u8::ofstream>(name, mode, existing)),
                      (open_and_use<std::ofstream>(name, mode, existing)));
            EXPECT_EQ((open_and_use<u8::fstream>(name, mode, existing)),
                      (open_and_use<std::fstream>(name, mode, existing)));
        }
    }
    EXPECT_EQ(open_and_use<u8::ofstream>(name, out, false).content, "x" + newline + "y" + newline);
    EXPECT_EQ(open_and_use<u8::ofstream>(name, out | ios::binary, false).content, "x\ny\n");
}

TEST_F(FileStreams, AFailedOpenSetsFailbitCreatesNothingAndThrowsOnRequest) {
    const struct {
        const char* name;
        ios::openmode mode;
    } cases[] = {
        {"missing-\xC3\xA9.txt", ios::in}, {"no-dir/new.txt", ios::out}, {"new.txt", ios::trunc}, {"", ios::out}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        u8::fstream s;
        s.open(path(c.name), c.mode);
        EXPECT_TRUE(s.fail());
        EXPECT_FALSE(s.is_open());
        s.clear();
        s.exceptions(ios::failbit);
        EXPECT_THROW(s.open(path(c.name), c.mode), std::ios_base::failure);
        EXPECT_EQ(u8::filebuf().open(path(c.name), c.mode), nullptr);
        EXPECT_TRUE(listing().empty());
    }
    u8::ifstream null_name(static_cast<const char*>(nullptr));
    EXPECT_TRUE(null_name.fail());
}

TEST_F(FileStreams, TheyAreStandardStreamsThatMoveAndSwapWithTheirFiles) {
    u8::ofstream(path("a-\xC3\xA9"), ios::binary) << "abcdef\n";
    u8::ofstream(path("b-\xE6\x97\xA5"), ios::binary) << "uvwxyz\n";
    u8::ifstream a(path("a-\xC3\xA9"));
    EXPECT_EQ(a.get(), 'a');
    u8::ifstream moved(std::move(a));
    EXPECT_EQ(moved.get(), 'b');
    u8::ifstream b(path("b-\xE6\x97\xA5"));
    EXPECT_EQ(b.get(), 'u');
    moved.swap(b);
    EXPECT_EQ(moved.get(), 'v');
    EXPECT_EQ(b.get(), 'c');
    std::swap(moved, b);
    EXPECT_EQ(first_line(b), "wxyz");
    EXPECT_EQ(first_line(moved), "def");

    u8::filebuf buffer;
    ASSERT_EQ(buffer.open(native(path("b-\xE6\x97\xA5")), ios::in), &buffer);  // std::filesystem::path
    std::istream from_buffer(&buffer);
    EXPECT_EQ(from_buffer.get(), 'u');
    static_assert(std::is_same_v<decltype(moved.rdbuf()), std::filebuf*>);
}

// A name up to 255 bytes costs no allocation beyond the standard stream's own.
TEST_F(FileStreams, ShortNamesAreConvertedWithoutTheHeap) {
    std::string cjk_255;
    for (int i = 0; i < 85; ++i) cjk_255 += "\xE6\x97\xA5";
    for (const std::string& name : {std::string("caf\xC3\xA9-\xF0\x9F\x98\x80.txt"), cjk_255}) {
        const fs::path p = native(name);
        std::size_t by_path, by_utf8;
        {
            wexal::test::allocation_scope scope;
            std::ofstream s(p);
            by_path = scope.allocations();
        }
        {
            wexal::test::allocation_scope scope;
            u8::ofstream s(name.c_str());
            by_utf8 = scope.allocations();
        }
        EXPECT_EQ(by_utf8, by_path) << name.size() << " bytes";
        EXPECT_EQ(raw(name), "");
        fs::remove(p);
    }
}

}  // namespace
