// The console buffers on the library's own console layer for Linux, with a
// pseudo-terminal as the console: a child process gets the terminal as its
// standard handles and writes or reads through the buffers, and the test
// plays the user at the other end of the terminal.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <istream>
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

#include "console_buffers.hpp"
#include "platform/platform.hpp"

namespace wexal {
namespace {

namespace platform = u8port::detail::platform;
using u8port::detail::console_input_buffer;
using u8port::detail::console_output_buffer;

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

void report(int fd, const std::string& text) { write_fully(fd, text); }

TEST(console_terminal_test, the_standard_handles_of_a_terminal_are_consoles) {
    const terminal_session session = run_on_terminal(
        [](int out) {
            int pipe_ends[2];
            if (::pipe(pipe_ends) != 0) return;
            ::dup2(pipe_ends[1], 2);  // standard error goes to a pipe instead
            std::ostringstream answer;
            platform::dword mode = 0;
            answer << platform::GetConsoleMode(platform::GetStdHandle(platform::std_input_handle), &mode) << ' '
                   << platform::GetConsoleMode(platform::GetStdHandle(platform::std_output_handle), &mode) << ' '
                   << platform::GetConsoleMode(platform::GetStdHandle(platform::std_error_handle), &mode) << ' ';
            ::close(0);
            answer << (platform::GetStdHandle(platform::std_input_handle) == nullptr ? "none" : "handle");
            report(out, answer.str());
        },
        [](int, pid_t, int) {});
    EXPECT_EQ(session.report, "1 1 0 none");
    EXPECT_EQ(session.status, 0);
}

TEST(console_terminal_test, output_reaches_the_terminal_as_the_utf8_written) {
    // A long text in several scripts, longer than one put area.
    std::string long_text;
    for (int i = 0; i < 150; ++i)
        long_text +=
            "Gr\xC3\xBC\xC3\x9F"
            "e \xE4\xBD\xA0\xE5\xA5\xBD \xF0\x9F\x98\x80 ";
    long_text += "\n";
    const terminal_session session = run_on_terminal(
        [&long_text](int) {
            console_output_buffer buffer(platform::GetStdHandle(platform::std_output_handle));
            std::ostream out(&buffer);
            out << "caf\xC3" << std::flush << "\xA9 \xF0\x9F" << std::flush << "\x98\x80\n" << std::flush;
            out << long_text << "bad \xFF byte\n" << std::flush;
        },
        [](int, pid_t, int) {});
    EXPECT_EQ(session.output, "caf\xC3\xA9 \xF0\x9F\x98\x80\n" + long_text + "bad \xEF\xBF\xBD byte\n");
    EXPECT_EQ(session.status, 0);
}

TEST(console_terminal_test, the_console_calls_convert_whatever_units_they_are_given) {
    // More units than the layer converts at once, with pairs across its
    // chunks, and surrogates that pair with nothing.
    std::u16string units;
    for (int i = 0; i < 700; ++i) units += u"\U0001F600";
    units += u"<\xD83D>";
    units += u"\xDE00";
    const terminal_session session = run_on_terminal(
        [&units](int out) {
            const platform::handle console = platform::GetStdHandle(platform::std_output_handle);
            platform::dword written = 0;
            const int ok = platform::WriteConsoleW(console, units.data(), static_cast<platform::dword>(units.size()),
                                                   &written, nullptr);
            report(out, std::to_string(ok) + " " + std::to_string(written));
        },
        [](int, pid_t, int) {});
    std::string expected;
    for (int i = 0; i < 700; ++i) expected += "\xF0\x9F\x98\x80";
    expected += "<\xEF\xBF\xBD>\xEF\xBF\xBD";
    EXPECT_EQ(session.output, expected);
    EXPECT_EQ(session.report, "1 " + std::to_string(units.size()));
}

TEST(console_terminal_test, a_read_of_one_unit_splits_a_pair_and_keeps_the_rest) {
    const terminal_session session = run_on_terminal(
        [](int out) {
            const platform::handle console = platform::GetStdHandle(platform::std_input_handle);
            std::ostringstream answer;
            answer << std::hex;
            for (int i = 0; i < 4; ++i) {
                u8port::wide_char unit = 0;
                platform::dword read = 0;
                const int ok = platform::ReadConsoleW(console, &unit, 1, &read, nullptr);
                answer << ok << ':' << read << ':' << static_cast<unsigned>(unit) << ' ';
            }
            report(out, answer.str());
        },
        [](int terminal, pid_t, int) { write_fully(terminal, "\xF0\x9F\x98\x80\xC3\xA9\n"); });
    EXPECT_EQ(session.report, "1:1:d83d 1:1:de00 1:1:e9 1:1:a ");
}

// The child reads lines until end of input, twice, and reports each line.
void read_lines(int out) {
    console_input_buffer buffer(platform::GetStdHandle(platform::std_input_handle));
    std::istream in(&buffer);
    std::string answer;
    for (int round = 0; round < 2; ++round) {
        std::string line;
        while (std::getline(in, line)) answer += "[" + line + "]";
        answer += in.eof() ? "<eof>" : "<failed>";
        in.clear();
    }
    report(out, answer);
}

TEST(console_terminal_test, typed_lines_arrive_as_utf8_and_input_goes_on_after_its_end) {
    // 3000 bytes of three-byte characters: the terminal delivers them in
    // pieces that cut characters apart.
    std::string long_line;
    for (int i = 0; i < 1000; ++i) long_line += "\xE4\xB8\xAD";
    const std::string typed = "h\xC3\xA9llo \xF0\x9F\x98\x80\n" + long_line +
                              "\n\x04"
                              "again\n\x04";
    const terminal_session session = run_on_terminal(
        read_lines, [&typed](int terminal, pid_t, int) { write_fully(terminal, typed); });
    EXPECT_EQ(session.report, "[h\xC3\xA9llo \xF0\x9F\x98\x80][" + long_line + "]<eof>[again]<eof>");
    EXPECT_EQ(session.status, 0);
}

volatile std::sig_atomic_t interrupts = 0;
int interrupt_report_fd = -1;
void on_interrupt(int) {
    interrupts = interrupts + 1;
    const char seen = '!';
    (void)!::write(interrupt_report_fd, &seen, 1);
}

TEST(console_terminal_test, an_interrupt_the_program_handles_does_not_end_the_input) {
    const terminal_session session = run_on_terminal(
        [](int out) {
            struct sigaction action {};
            action.sa_handler = on_interrupt;
            ::sigemptyset(&action.sa_mask);
            action.sa_flags = 0;  // no restart: the read is interrupted
            ::sigaction(SIGINT, &action, nullptr);
            interrupt_report_fd = out;
            console_input_buffer buffer(platform::GetStdHandle(platform::std_input_handle));
            std::istream in(&buffer);
            std::string line;
            std::string answer = std::getline(in, line) ? "[" + line + "]" : "<eof>";
            report(out, answer + " interrupts " + std::to_string(interrupts));
        },
        [](int terminal, pid_t child, int report_fd) {
            wait_until_reading(child);
            write_fully(terminal, "\x03");  // the terminal's interrupt character
            // Type the next line only once the handler has run and the child
            // reads again, so that the interrupt meets a read with no input.
            char seen = 0;
            while (::read(report_fd, &seen, 1) < 0 && errno == EINTR) {}
            wait_until_reading(child);
            write_fully(terminal, "after\n");
        });
    EXPECT_EQ(session.report, "[after] interrupts 1");
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
