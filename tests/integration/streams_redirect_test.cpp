// The standard streams of a program whose handles are redirected to files and
// pipes: every stream goes through the standard library's, the bytes pass
// unchanged (malformed UTF-8 included), in order with what goes through
// std::cout and std::cerr, and what is pending comes out at exit.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

// The child program lives beside this one.
std::string child_program() {
#if defined(_WIN32)
    char path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string self(path, n);
    return self.substr(0, self.find_last_of("\\/") + 1) + "u8port_stream_child.exe";
#else
    char path[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    const std::string self(path, n > 0 ? static_cast<std::size_t>(n) : 0);
    return "'" + self.substr(0, self.find_last_of('/') + 1) + "u8port_stream_child'";
#endif
}

// Runs a command line through the shell (cmd.exe on Windows); its exit code.
int run(const std::string& command) {
    const int status = std::system(command.c_str());
#if defined(_WIN32)
    return status;
#else
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

// A pipe to the command's standard input, or from its standard output, that
// carries bytes unchanged on this side.
std::FILE* open_pipe(const std::string& command, bool read_from_it) {
#if defined(_WIN32)
    return _popen(command.c_str(), read_from_it ? "rb" : "wb");
#else
    return popen(command.c_str(), read_from_it ? "r" : "w");
#endif
}

int close_pipe(std::FILE* f) {
#if defined(_WIN32)
    return _pclose(f);
#else
    const int status = pclose(f);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

std::string read_file(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& name, const std::string& bytes) { std::ofstream(name, std::ios::binary) << bytes; }

// What std::cout itself would put in the file: the Windows C runtime writes
// standard output and error in text mode, each LF as CR LF. The library's
// streams share that buffer, so they do the same; nothing else changes.
std::string as_written(const std::string& text) {
#if defined(_WIN32)
    std::string out;
    for (const char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
#else
    return text;
#endif
}

std::string interleaved_output() {
    std::string text =
        "1 Gr\xC3\xBC\xC3\x9F"
        "e 2 \xE4\xB8\x96 3 \xFF\xC3 (malformed, passed as it is)\n";
    for (int i = 0; i < 1500; ++i) text += "\xC3\xBC";
    return text + "|4\n";
}

const std::string interleaved_errors = "e1 \xF0\x9F\x98\x80 e2 e3 e4\n";

// Each case has files of its own, since ctest may run cases side by side.
class RedirectedStreams : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string prefix = std::string("wexal-") +
                                   ::testing::UnitTest::GetInstance()->current_test_info()->name();
        out_ = prefix + "-out.txt";
        err_ = prefix + "-err.txt";
        in_ = prefix + "-in.txt";
        TearDown();
    }
    void TearDown() override {
        for (const std::string* name : {&out_, &err_, &in_}) std::remove(name->c_str());
    }

    std::string out_;
    std::string err_;
    std::string in_;
};

TEST_F(RedirectedStreams, OutputToFilesKeepsBytesAndOrder) {
    ASSERT_EQ(run(child_program() + " interleave >" + out_ + " 2>" + err_), 0);
    EXPECT_EQ(read_file(out_), as_written(interleaved_output()));
    EXPECT_EQ(read_file(err_), as_written(interleaved_errors));
}

TEST_F(RedirectedStreams, OutputToAPipeKeepsBytesAndOrder) {
    std::FILE* pipe = open_pipe(child_program() + " interleave 2>" + err_, true);
    ASSERT_NE(pipe, nullptr);
    std::string got;
    char chunk[512];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) got.append(chunk, n);
    EXPECT_EQ(close_pipe(pipe), 0);
    EXPECT_EQ(got, as_written(interleaved_output()));
    EXPECT_EQ(read_file(err_), as_written(interleaved_errors));
}

TEST_F(RedirectedStreams, InputFromAFileOrAPipeKeepsBytes) {
    const std::string input = "h\xC3\xA9 \xFF\xE4\xB8\n";  // malformed UTF-8 is not replaced
    const std::string expected = "68 C3 A9 20 FF E4 B8 0A";
    write_file(in_, input);
    ASSERT_EQ(run(child_program() + " echo-input <" + in_ + " >" + out_), 0);
    EXPECT_EQ(read_file(out_), expected);

    std::remove(out_.c_str());
    std::FILE* pipe = open_pipe(child_program() + " echo-input >" + out_, false);
    ASSERT_NE(pipe, nullptr);
    std::fwrite(input.data(), 1, input.size(), pipe);
    EXPECT_EQ(close_pipe(pipe), 0);
    EXPECT_EQ(read_file(out_), expected);
}

// After std::ios::sync_with_stdio(false) the standard library's streams have
// new buffers; the library's streams go on through them.
TEST_F(RedirectedStreams, StreamsFollowTheStandardBuffersAfterSyncWithStdioFalse) {
    write_file(in_, "typed \xC3\xBC\nnot read\n");
    ASSERT_EQ(run(child_program() + " unsynced <" + in_ + " >" + out_), 0);
    EXPECT_EQ(read_file(out_), as_written("first \xC3\xA9\nread [typed \xC3\xBC]\n"));
}

TEST_F(RedirectedStreams, ObjectsAreTiedToCout) {
    write_file(in_, "");
    ASSERT_EQ(run(child_program() + " objects <" + in_ + " >" + out_ + " 2>" + err_), 0);
    EXPECT_EQ(read_file(out_), as_written("ties: none cout cout cout\n"
                                          "flags: default default default+unitbuf default\n"));
}

TEST_F(RedirectedStreams, PendingOutputComesOutAtExit) {
    struct exit_case {
        const char* mode;
        int status;
    };
    for (const exit_case c : {exit_case{"exit", 0}, exit_case{"exit-call", 3}}) {
        EXPECT_EQ(run(child_program() + " " + c.mode + " >" + out_ + " 2>" + err_), c.status) << c.mode;
        EXPECT_EQ(read_file(out_), "cout: wert \xC3\xBC") << c.mode;
        // Standard error has no buffer of its own, so clog's text went first.
        EXPECT_EQ(read_file(err_), "clog: pendingcerr: at once ") << c.mode;
    }
}

}  // namespace
