// The standard streams on Linux with a pseudo-terminal as their standard
// handles: a child program writes and reads through them, and the test plays
// the user at the other end of the terminal.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <istream>
#include <iterator>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace wexal {
namespace {

struct terminal_session {
    std::string output;  // everything the child wrote to the terminal
    std::string report;  // what the child wrote to its report pipe
    int status = -1;     // as waitpid gives it
};

void write_fully(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

// Reads fd until end of file (or EIO, once the terminal's other side is closed).
std::string drain(int fd) {
    std::string bytes;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes.append(chunk, static_cast<std::size_t>(n));
    }
    return bytes;
}

// Waits until the child sits in a read of its standard input, so that a
// signal sent now interrupts that read. Falls back to a pause where the
// system does not show the call.
void wait_until_reading(pid_t child) {
    const std::string path = "/proc/" + std::to_string(child) + "/syscall";
    for (int i = 0; i < 500; ++i) {
        std::ifstream in(path);
        if (!in) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            return;
        }
        std::string call, fd;
        in >> call >> fd;                        // "running" while it runs
        if (call == "0" && fd == "0x0") return;  // read(0, ...)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// Runs child_main in a child process whose standard handles are a new
// terminal in canonical mode without echo and without output processing,
// so that the bytes read from the terminal are exactly those written.
// drive runs in the parent with the terminal's other side, the child and the
// report pipe's read end, from which it may take what arrives first.
using driver = std::function<void(int terminal, pid_t child, int report_fd)>;
terminal_session run_on_terminal(const std::function<void(int report_fd)>& child_main, const driver& drive) {
    terminal_session session;
    int report[2];
    if (::pipe(report) != 0) return session;
    termios settings{};
    int terminal = -1;
    {
        // The defaults of a new terminal, less echo and output processing.
        int m = -1, s = -1;
        if (::openpty(&m, &s, nullptr, nullptr, nullptr) != 0) return session;
        ::tcgetattr(s, &settings);
        ::close(m);
        ::close(s);
        settings.c_lflag &= static_cast<tcflag_t>(~(ECHO | ECHONL));
        settings.c_oflag &= static_cast<tcflag_t>(~OPOST);
        settings.c_cc[VSUSP] = _POSIX_VDISABLE;  // Ctrl+Z is a byte like any other
    }
    const pid_t child = ::forkpty(&terminal, nullptr, &settings, nullptr);
    if (child < 0) return session;
    if (child == 0) {
        ::close(report[0]);
        child_main(report[1]);
        std::cout.flush();
        ::_exit(0);
    }
    ::close(report[1]);
    std::thread collect([&] { session.output = drain(terminal); });
    drive(terminal, child, report[0]);
    session.report = drain(report[0]);
    ::waitpid(child, &session.status, 0);
    collect.join();
    ::close(report[0]);
    ::close(terminal);
    return session;
}

// The library's streams on a terminal give the program exactly the bytes a
// pipe gives: typed input and written output pass unchanged, malformed UTF-8,
// a Ctrl+Z and a sequence cut at the end included.
TEST(StreamsOnATerminal, PassTheSameBytesAsAPipe) {
    const std::string typed = "caf\xE9 \xFF\n\x1A after Ctrl+Z\n\xE4\xB8\xAD\xE6\x96\x87\ntail \xF0\x9F";
    const std::string trailer = "caf\xE9 \x1A \xF0\x9F";  // what the child writes after the copy
    const terminal_session session = run_on_terminal(
        [](int) { ::execl(WEXAL_STREAM_CHILD, WEXAL_STREAM_CHILD, "copy", nullptr); },
        [&typed](int terminal, pid_t, int) {
            // Ctrl+D hands over the unfinished last line, then ends the input.
            write_fully(terminal, typed + "\x04");
            write_fully(terminal, "\x04");
        });
    EXPECT_EQ(session.output, typed + trailer);
    EXPECT_EQ(session.status, 0);

    // Through pipes, the same.
    const std::string in = ::testing::TempDir() + "wexal-terminal-in", out = in + "-out";
    std::ofstream(in, std::ios::binary) << typed;
    ASSERT_EQ(std::system(("'" WEXAL_STREAM_CHILD "' copy <'" + in + "' | cat >'" + out + "'").c_str()), 0);
    std::ifstream piped(out, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(piped), {}), typed + trailer);
    std::remove(in.c_str());
    std::remove(out.c_str());
}

// Ctrl+C with a handler that does not ask for restarted calls ends a read of
// u8::cin, as it ends one of std::cin: the program regains control.
TEST(StreamsOnATerminal, AnInterruptTheHandlerDoesNotRestartEndsTheRead) {
    const terminal_session session = run_on_terminal(
        [](int report_fd) {
            ::dup2(report_fd, 2);
            ::execl(WEXAL_STREAM_CHILD, WEXAL_STREAM_CHILD, "interrupt", nullptr);
        },
        [](int terminal, pid_t child, int) {
            wait_until_reading(child);
            write_fully(terminal, "\x03");
            // A program that missed the interrupt takes this line instead.
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            write_fully(terminal, "typed later\n");
        });
    EXPECT_EQ(session.report, "interrupted\n");
    EXPECT_EQ(session.status, 0);
}

// A terminal in non-blocking mode refuses what it cannot take at once; a
// line may be lost then, as with std::cout, but none is written twice.
TEST(StreamsOnATerminal, ANonBlockingTerminalGetsNoLineTwice) {
    const terminal_session session = run_on_terminal(
        [](int) { ::execl(WEXAL_STREAM_CHILD, WEXAL_STREAM_CHILD, "nonblocking", nullptr); },
        [](int, pid_t, int) { std::this_thread::sleep_for(std::chrono::milliseconds(500)); });
    // Whole lines only: a line the terminal took in part is lost, not repeated.
    std::istringstream lines(session.output);
    std::string line;
    long last = -1, count = 0, out_of_order = 0;
    while (std::getline(lines, line)) {
        if (line.rfind("line ", 0) != 0 || line.size() == 5 ||
            line.find_first_not_of("0123456789", 5) != std::string::npos || lines.eof()) {
            continue;
        }
        const long n = std::strtol(line.c_str() + 5, nullptr, 10);
        if (n <= last) ++out_of_order;
        last = std::max(last, n);
        ++count;
    }
    EXPECT_GT(count, 0);
    EXPECT_EQ(out_of_order, 0) << session.output.substr(0, 2000);
    EXPECT_EQ(session.status, 0);
}

// A static build's cout on a terminal: lines from eight threads, each block
// of digits whole and once; then a line shows before a command started after
// it, and output after the streams' last counter object is gone arrives too.
TEST(ConcurrentConsole, StandardStreamsKeepEveryLineInOrderUntilTheVeryEnd) {
    const terminal_session session = run_on_terminal(
        [](int) { ::execl(WEXAL_STATIC_STREAMS_CHILD, WEXAL_STATIC_STREAMS_CHILD, "50000", nullptr); },
        [](int, pid_t, int) {});
    const std::string& shown = session.output;
    std::size_t at = 0, blocks = 0, newlines = 0;  // up to the first byte that is neither
    while (at < shown.size() && (shown[at] == '\n' || shown.compare(at, 10, "0123456789") == 0))
        at += shown[at] == '\n' ? (++newlines, 1) : (++blocks, 10);
    EXPECT_EQ(blocks, 400000u);
    EXPECT_EQ(newlines, 400000u);
    EXPECT_EQ(shown.substr(at), "1\n2\n3\nglobal destructor\nlocal static\nexit handler\n");
    EXPECT_EQ(session.status, 0);
}

}  // namespace
}  // namespace wexal
