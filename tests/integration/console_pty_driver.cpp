// Runs the console buffers' Windows test program under Wine on a new
// pseudo-terminal, so that it gets a real Wine console, and plays the user at
// the terminal: reads back what the program wrote and types lines for it.
// A native program: the Windows build compiles it with the host compiler.
//
//   console_pty_driver <wine runner> <console_wine_child.exe> <static_streams_child.exe>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

using clock_type = std::chrono::steady_clock;
constexpr std::chrono::seconds time_allowed(90);

// One program on one terminal.
class terminal_program {
public:
    explicit terminal_program(const std::vector<std::string>& command) {
        winsize size{};
        size.ws_row = 50;
        size.ws_col = 200;  // wide enough that no line of the checks wraps
        // Raw from the start: Wine switches the terminal to raw mode only
        // once the program reads, and keys typed before that would be
        // echoed by the terminal and their carriage return turned into a
        // line feed, which Wine's line editing takes as an ordinary key.
        termios settings{};
        int m = -1, s = -1;
        if (::openpty(&m, &s, nullptr, nullptr, nullptr) != 0) return;
        ::tcgetattr(s, &settings);
        ::close(m);
        ::close(s);
        ::cfmakeraw(&settings);
        pid_ = ::forkpty(&terminal_, nullptr, &settings, &size);
        if (pid_ == 0) {
            std::vector<char*> argv;
            for (const std::string& arg : command) argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        deadline_ = clock_type::now() + time_allowed;
    }
    ~terminal_program() {
        if (pid_ > 0 && status_ < 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status_, 0);
        }
        if (terminal_ >= 0) ::close(terminal_);
    }
    terminal_program(const terminal_program&) = delete;
    terminal_program& operator=(const terminal_program&) = delete;

    bool started() const { return pid_ > 0 && terminal_ >= 0; }

    // Waits until the text shown on the terminal since the last wait contains
    // what; returns that text (control sequences and carriage returns
    // removed) up to and including what, or an empty string on time-out or
    // when the program ends first.
    std::string wait_for(const std::string& what) {
        for (;;) {
            const std::size_t at = shown_.find(what);
            if (at != std::string::npos) {
                std::string text = shown_.substr(0, at + what.size());
                shown_.erase(0, at + what.size());
                return text;
            }
            if (!read_some()) return std::string();
        }
    }

    void type(const std::string& keys) {
        std::size_t done = 0;
        while (done < keys.size()) {
            const ssize_t n = ::write(terminal_, keys.data() + done, keys.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            done += static_cast<std::size_t>(n);
        }
    }

    // The exit code, or -1 when the program did not end in time by itself.
    int wait_exit() {
        for (;;) {
            const pid_t done = ::waitpid(pid_, &status_, WNOHANG);
            if (done == pid_) return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
            if (clock_type::now() >= deadline_) return -1;
            if (closed_ || !read_some()) ::usleep(20000);
        }
    }

private:
    bool read_some() {
        if (closed_) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - clock_type::now());
        if (left.count() <= 0) return false;
        pollfd p{terminal_, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 200)));
        if (ready < 0) return errno == EINTR;
        if (ready == 0) return true;
        char chunk[4096];
        const ssize_t n = ::read(terminal_, chunk, sizeof chunk);
        if (n <= 0) {
            closed_ = true;  // the terminal's last user went away: nothing more comes
            return false;
        }
        append_shown(chunk, static_cast<std::size_t>(n));
        return true;
    }

    // Keeps the text, dropping carriage returns and the control sequences
    // Wine's console emits (ESC [ ... final byte, ESC ] ... BEL, ESC x).
    void append_shown(const char* p, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            const char c = p[i];
            switch (escape_) {
            case 0:
                if (c == '\x1b') {
                    escape_ = 1;
                } else if (c != '\r') {
                    shown_ += c;
                }
                break;
            case 1:
                escape_ = c == '[' ? 2 : c == ']' ? 3 : 0;
                break;
            case 2:
                // Wine moves the cursor right over blanks instead of writing
                // spaces: ESC [ n C shows as n spaces.
                if (c >= '0' && c <= '9') {
                    count_ = count_ * 10 + (c - '0');
                } else if (c >= 0x40 && c <= 0x7E) {
                    if (c == 'C') shown_.append(count_ == 0 ? 1 : count_, ' ');
                    escape_ = 0;
                    count_ = 0;
                }
                break;
            default:
                if (c == '\x07') escape_ = 0;
                break;
            }
        }
    }

    pid_t pid_ = -1;
    int terminal_ = -1;
    int status_ = -1;
    int escape_ = 0;
    bool closed_ = false;
    std::size_t count_ = 0;
    std::string shown_;
    clock_type::time_point deadline_;
};

int passed = 0;
int failed = 0;

void check(bool ok, const char* what, const std::string& detail = std::string()) {
    if (ok) {
        ++passed;
        std::printf("ok: %s\n", what);
    } else {
        ++failed;
        std::printf("FAILED: %s\n%s\n", what, detail.c_str());
    }
    std::fflush(stdout);
}

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 0xF];
    }
    return out;
}

void check_output(const std::string& runner, const std::string& child) {
    terminal_program program({runner, child, "write"});
    if (!program.started()) return check(false, "the program starts on a terminal");
    std::string expected = "caf\xC3\xA9 \xE2\x82\xAC \xCE\xB1\xCE\xB2\n";
    for (int i = 0; i < 40; ++i) {
        expected += std::to_string(i) +
                    " Gr\xC3\xBC\xC3\x9F"
                    "e \xD0\xBF\xD1\x80\xD0\xB8 \xE4\xBD\xA0\xE5\xA5\xBD\n";
    }
    expected += "bad \xEF\xBF\xBD byte\n";
    const std::string shown = program.wait_for("bad \xEF\xBF\xBD byte\n");
    check(shown.size() >= expected.size() &&
              shown.compare(shown.size() - expected.size(), expected.size(), expected) == 0,
          "text cut at flushes and longer than one put area reaches the terminal intact", "shown: " + shown);
    program.wait_for("cells:");
    const std::string cell_line = program.wait_for("\n");
    check(cell_line == "0078 d83d de00 0079\n",
          "a character cut at two flushes is one surrogate pair in the console's cells", "shown: " + cell_line);
    check(program.wait_exit() == 0, "the writing program ends with 0");
}

void check_input(const std::string& runner, const std::string& child) {
    const std::vector<std::string> lines = {
        "h\xC3\xA9llo w\xC3\xB6rld \xE2\x88\x91",
        "\xF0\x9F\x98\x80 \xE4\xB8\xAD\xE6\x96\x87",
        // Wine's ReadConsoleW hands out this line's first 1024 units, the
        // last one a lead surrogate, and the trail with the next read.
        std::string(1023, 'a') +
            "\xF0\x9F\x98\x80"
            "b",
        // Its CR ends a read that fills the capacity; the LF comes with the next.
        std::string(1023, 'c'),
    };
    terminal_program program({runner, child, "read", std::to_string(lines.size())});
    if (!program.started()) return check(false, "the program starts on a terminal");
    for (const std::string& line : lines) {
        if (program.wait_for("ready\n").empty()) return check(false, "the reading program asks for a line");
        program.type(line + "\r");
        program.wait_for("line:\n");
        std::string got;
        for (char c : program.wait_for("end\n")) {
            if (c != '\n') got += c;
        }
        const std::string expected = hex(line) + "end";
        check(got == expected,
              ("a typed line arrives as its UTF-8, without its line end: " + line.substr(0, 24)).c_str(),
              "got:      " + got + "\nexpected: " + expected);
    }
    check(program.wait_exit() == 0, "the reading program ends with 0");
}

// u8::cout follows standard output to files and back (freopen, _dup2,
// SetStdHandle) with nothing lost, and a prompt it holds shows before
// std::cin reads.
void check_handles(const std::string& runner, const std::string& child) {
    terminal_program program({runner, child, "handles"});
    if (!program.started()) return check(false, "the program starts on a terminal");
    std::string shown = program.wait_for("after SetStdHandle\n");
    const std::size_t from = shown.find("before\n");
    check(from != std::string::npos && shown.substr(from) == "before\nafter freopen\nafter _dup2\nafter SetStdHandle\n",
          "u8::cout's lines reach the console again after each change of standard output", "shown: " + shown);
    program.wait_for("files:");
    shown = program.wait_for("end\n");
    check(shown == "into the log\ninto the copy\ninto the handle\nend\n",
          "u8::cout's lines reach the file standard output pointed at", "files: " + shown);
    shown = program.wait_for("Name? ");
    check(!shown.empty(), "a prompt written through u8::cout shows before std::cin reads");
    program.type("Ann\r");
    check(!program.wait_for("name:Ann\n").empty(), "std::cin reads the answer");
    check(program.wait_exit() == 0, "the program ends with 0");
}

// The standard streams of a static build: 500 lines from each of eight
// threads, whole and once, then lines around a command and after exit began.
void check_static_streams(const std::string& runner, const std::string& child) {
    terminal_program program({runner, child, "500"});
    if (!program.started()) return check(false, "the program starts on a terminal");
    const std::string shown = program.wait_for("exit handler\n");
    std::size_t at = shown.find('0'), blocks = 0, newlines = 0;  // up to the first byte that is neither
    while (at < shown.size() && (shown[at] == '\n' || shown.compare(at, 10, "0123456789") == 0))
        at += shown[at] == '\n' ? (++newlines, 1) : (++blocks, 10);
    check(
        blocks == 4000 && newlines == 4000 &&
            shown.substr(at) == "1\n2\n3\nglobal destructor\nlocal static\nexit handler\n",
        "cout's lines from eight threads, around a command and after exit began, whole and in order",
        std::to_string(blocks) + " blocks, " + std::to_string(newlines) + " newlines, then: " + shown.substr(at, 200));
    check(program.wait_exit() == 0, "the static build's program ends with 0");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <wine runner> <console_wine_child.exe> <static_streams_child.exe>\n", argv[0]);
        return 2;
    }
    check_output(argv[1], argv[2]);
    check_input(argv[1], argv[2]);
    check_handles(argv[1], argv[2]);
    check_static_streams(argv[1], argv[3]);
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 && passed > 0 ? 0 : 1;
}
