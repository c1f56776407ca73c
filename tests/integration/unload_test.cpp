// Loads the shared library at run time, writes through its streams, calls
// getenv and unloads it: whatever was pending must come out at unload, in the
// order the ties and the reverse order of destruction give, and nothing after.
// This program does not link the library; it finds the objects by name.
#include <wexal/u8port/iostream.hpp>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

using wexal::u8port::detail::winconsole_ostream;

#if defined(_WIN32)
int dup_fd(int fd) { return _dup(fd); }
int dup2_fd(int from, int to) { return _dup2(from, to); }
int close_fd(int fd) { return _close(fd); }
int create_file(const char* name) { return _open(name, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, 0666); }
#else
int dup_fd(int fd) { return ::dup(fd); }
int dup2_fd(int from, int to) { return ::dup2(from, to); }
int close_fd(int fd) { return ::close(fd); }
int create_file(const char* name) { return ::open(name, O_WRONLY | O_CREAT | O_TRUNC, 0666); }
#endif

// The library, loaded by hand.
class loaded_library {
public:
    loaded_library() {
#if defined(_WIN32)
        handle_ = LoadLibraryA(WEXAL_U8PORT_LIBRARY);
#else
        handle_ = dlopen(WEXAL_U8PORT_LIBRARY, RTLD_NOW | RTLD_LOCAL);
#endif
    }
    ~loaded_library() { unload(); }
    loaded_library(const loaded_library&) = delete;
    loaded_library& operator=(const loaded_library&) = delete;

    bool loaded() const { return handle_ != nullptr; }

    void* symbol(const char* name) const {
#if defined(_WIN32)
        return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
        return dlsym(handle_, name);
#endif
    }

    std::ostream* stream(const char* name) const { return static_cast<winconsole_ostream*>(symbol(name)); }

    void unload() {
        if (handle_ == nullptr) return;
#if defined(_WIN32)
        FreeLibrary(static_cast<HMODULE>(handle_));
#else
        dlclose(handle_);
#endif
        handle_ = nullptr;
    }

    // Whether the process still has the library mapped.
    static bool in_process() {
#if defined(_WIN32)
        return GetModuleHandleA(WEXAL_U8PORT_LIBRARY) != nullptr;
#else
        void* h = dlopen(WEXAL_U8PORT_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
        if (h != nullptr) dlclose(h);
        return h != nullptr;
#endif
    }

private:
    void* handle_ = nullptr;
};

// The library's names for the objects and calls used here (the same mangling
// on both platforms).
const char* const cout_symbol = "_ZN5wexal6u8port4coutE";
const char* const cerr_symbol = "_ZN5wexal6u8port4cerrE";
const char* const clog_symbol = "_ZN5wexal6u8port4clogE";
const char* const cin_symbol = "_ZN5wexal6u8port3cinE";
const char* const getenv_symbol = "_ZN5wexal6u8port6getenvEPKc";
using getenv_call = char* (*)(const char*);

// Sets WEXAL_UNLOAD_TEST to "grüße" through the platform itself, not through
// the library.
void set_test_variable() {
#if defined(_WIN32)
    SetEnvironmentVariableW(L"WEXAL_UNLOAD_TEST", L"gr\u00FC\u00DFe");
#else
    ::setenv("WEXAL_UNLOAD_TEST",
             "gr\xC3\xBC\xC3\x9F"
             "e",
             1);
#endif
}

// Points standard output and error at other descriptors for its lifetime.
class redirected_output {
public:
    redirected_output(int out, int err) {
        std::fflush(stdout);
        std::fflush(stderr);
        saved_out_ = dup_fd(1);
        saved_err_ = dup_fd(2);
        dup2_fd(out, 1);
        dup2_fd(err, 2);
    }
    ~redirected_output() {
        std::fflush(stdout);
        std::fflush(stderr);
        dup2_fd(saved_out_, 1);
        dup2_fd(saved_err_, 2);
        close_fd(saved_out_);
        close_fd(saved_err_);
    }
    redirected_output(const redirected_output&) = delete;
    redirected_output& operator=(const redirected_output&) = delete;

private:
    int saved_out_;
    int saved_err_;
};

std::string read_file(const char* name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes through all three output streams and uses getenv, so that its result
// holder exists at unload too.
void use_library(const loaded_library& lib, const char* last) {
    std::ostream* cout = lib.stream(cout_symbol);
    std::ostream* cerr = lib.stream(cerr_symbol);
    std::ostream* clog = lib.stream(clog_symbol);
    const auto getenv = reinterpret_cast<getenv_call>(lib.symbol(getenv_symbol));
    ASSERT_TRUE(cout && cerr && clog && lib.symbol(cin_symbol) && getenv);

    set_test_variable();
    const char* value = getenv("WEXAL_UNLOAD_TEST");
    ASSERT_NE(value, nullptr);
    EXPECT_STREQ(value,
                 "gr\xC3\xBC\xC3\x9F"
                 "e");

    *cout << "A";
    *clog << "B";  // flushes cout first
    *cout << "C";
    *cerr << "D";  // flushes cout, then itself: unit-buffered
    *cout << "E";
    *clog << "F";  // flushes cout; B and F wait in clog
    *cout << last;
}

class Unload : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(loaded_library::in_process()) << "this program must not link the library"; }
};

// Redirected: the streams go through the standard ones. Standard error has no
// buffer of its own, so B, D and F go out at once; C, E and G wait in
// standard output's buffer until clog, destroyed first, flushes its tie.
TEST_F(Unload, BorrowedBuffersAreFlushedAtUnload) {
    const int out = create_file("unload-out.txt");
    const int err = create_file("unload-err.txt");
    ASSERT_GE(out, 0);
    ASSERT_GE(err, 0);
    {
        const redirected_output redirect(out, err);
        loaded_library lib;
        ASSERT_TRUE(lib.loaded());
        use_library(lib, "G");
        std::string before = read_file("unload-out.txt");
        lib.unload();
        std::string after = read_file("unload-out.txt");
        std::fflush(stdout);
        std::string at_end = read_file("unload-out.txt");
        EXPECT_EQ(before, "ACE") << "output on clog and cerr flushed cout";
        EXPECT_EQ(after, "ACEG") << "the pending G came out at unload";
        EXPECT_EQ(at_end, after) << "nothing was left in the shared buffer";
        EXPECT_FALSE(loaded_library::in_process());
    }
    close_fd(out);
    close_fd(err);
    EXPECT_EQ(read_file("unload-err.txt"), "BDF");
    std::remove("unload-out.txt");
    std::remove("unload-err.txt");
}

#if defined(_WIN32)
// The characters on the console's screen from one cell on, spaces at the end
// dropped (the text written here is ASCII).
std::string screen_text(HANDLE console, COORD from) {
    wchar_t cells[64] = {};
    DWORD got = 0;
    ReadConsoleOutputCharacterW(console, cells, 64, from, &got);
    std::string text;
    for (DWORD i = 0; i < got; ++i) text += static_cast<char>(cells[i] < 0x80 ? cells[i] : '?');
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

// On a Wine console each output stream has a console buffer: B and F wait in
// clog's, G in cout's, and a UTF-8 sequence still incomplete at unload is
// dropped with the buffer. What the console shows is read back from its
// screen. ctest runs this case a second time on a pseudo-terminal, where the
// process has a console.
TEST_F(Unload, ConsoleBuffersAreFlushedAtUnloadInOrder) {
    const HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(console, &mode) == 0) {
        if (std::getenv("WEXAL_EXPECT_CONSOLE") != nullptr) FAIL() << "started without a console";
        GTEST_SKIP() << "needs a console";
    }
    std::fflush(stdout);
    CONSOLE_SCREEN_BUFFER_INFO info;
    ASSERT_NE(GetConsoleScreenBufferInfo(console, &info), 0);
    const COORD start = info.dwCursorPosition;
    {
        loaded_library lib;
        ASSERT_TRUE(lib.loaded());
        use_library(lib, "G\xF0\x9F");
        const std::string before = screen_text(console, start);
        lib.unload();
        const std::string after = screen_text(console, start);
        EXPECT_EQ(before, "ACDE");
        EXPECT_EQ(after, "ACDEGBF");
        EXPECT_FALSE(loaded_library::in_process());
    }
    std::printf("\n");
}
#endif

}  // namespace
