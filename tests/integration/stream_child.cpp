// A program the stream tests start with its standard handles redirected to
// files or pipes, and whose output they read back.
//
//   u8port_stream_child interleave|exit|exit-call|echo-input|objects|unsynced|copy|interrupt|nonblocking
#include <wexal/u8port/cstdlib.hpp>
#include <wexal/u8port/iostream.hpp>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

namespace u8 = wexal::u8port;

namespace {

// The library's streams and the standard ones, alternately, on one buffer.
int interleave() {
    u8::cout << "1 Gr\xC3\xBC\xC3\x9F"
                "e ";
    std::cout << "2 \xE4\xB8\x96 ";
    u8::cout << "3 \xFF\xC3 (malformed, passed as it is)\n";
    for (int i = 0; i < 1500; ++i) u8::cout << "\xC3\xBC";  // well past one console buffer
    std::cout << "|4\n";
    u8::cerr << "e1 \xF0\x9F\x98\x80 ";
    std::cerr << "e2 ";
    u8::clog << "e3 ";
    std::cerr << "e4\n";
    return 0;
}

// Nothing flushed by hand: what is pending must come out when the library is
// unloaded at exit, after getenv's result holder is gone.
void write_pending() {
    u8::setenv("WEXAL_CHILD_VALUE", "wert \xC3\xBC", 1);
    const char* value = u8::getenv("WEXAL_CHILD_VALUE");
    u8::cout << "cout: " << (value != nullptr ? value : "(null)");
    u8::clog << "clog: pending";
    u8::cerr << "cerr: at once ";
}

int echo_input() {
    const char* const digits = "0123456789ABCDEF";
    std::string hex;
    for (int c = u8::cin.get(); c != std::char_traits<char>::eof(); c = u8::cin.get()) {
        if (!hex.empty()) hex += ' ';
        hex += digits[(c >> 4) & 0xF];
        hex += digits[c & 0xF];
    }
    u8::cout << hex;
    return 0;
}

const char* name_of(const std::ostream* s) {
    if (s == nullptr) return "none";
    if (s == &u8::cout) return "cout";
    return "other";
}

// Describes flags relative to those of a freshly built stream.
std::string flags_of(const std::ios_base& s) {
    const std::ostream fresh(nullptr);
    if (s.flags() == fresh.flags()) return "default";
    if (s.flags() == (fresh.flags() | std::ios_base::unitbuf)) return "default+unitbuf";
    return "other";
}

int objects() {
    std::cout << "ties: " << name_of(u8::cout.tie()) << ' ' << name_of(u8::cin.tie()) << ' ' << name_of(u8::cerr.tie())
              << ' ' << name_of(u8::clog.tie()) << '\n'
              << "flags: " << flags_of(u8::cout) << ' ' << flags_of(u8::cin) << ' ' << flags_of(u8::cerr) << ' '
              << flags_of(u8::clog) << '\n';
    return 0;
}

// The common speed idiom: the standard streams unsynchronised from C's
// before anything is written or read.
int unsynced() {
    std::ios::sync_with_stdio(false);
    u8::cout << "first \xC3\xA9\n";
    std::string line;
    std::getline(u8::cin, line);
    u8::cout << "read [" << line << "]\n" << std::flush;
    return u8::cout.good() ? 0 : 1;
}

// Standard input copied to standard output byte for byte, then bytes that a
// conversion would change: malformed UTF-8, a Ctrl+Z and a sequence cut at
// the very end.
int copy() {
    for (int c = u8::cin.get(); c != std::char_traits<char>::eof(); c = u8::cin.get())
        u8::cout.put(static_cast<char>(c));
    u8::cout << "caf\xE9 \x1A \xF0\x9F";
    return 0;
}

#if !defined(_WIN32)
void on_interrupt(int) {}

// A SIGINT handler installed without SA_RESTART asks that a read it cuts
// short ends, as it ends std::cin's.
int interrupt() {
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    std::string line;
    const bool read = static_cast<bool>(std::getline(u8::cin, line));
    u8::cerr << (read ? "[" + line + "]" : std::string("interrupted")) << '\n';
    return 0;
}

// Numbered lines to a standard output that does not block: a write the
// terminal cannot take at once fails, as std::cout's does, and nothing is
// written twice.
int nonblocking() {
    ::fcntl(1, F_SETFL, ::fcntl(1, F_GETFL) | O_NONBLOCK);
    for (int i = 0; i < 20000; ++i) {
        u8::cout << "line " << i << '\n';
        u8::cout.clear();  // a line lost, and the program goes on
    }
    u8::cout << std::flush;
    return 0;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "interleave") return interleave();
    if (mode == "echo-input") return echo_input();
    if (mode == "objects") return objects();
    if (mode == "unsynced") return unsynced();
    if (mode == "copy") return copy();
#if !defined(_WIN32)
    if (mode == "interrupt") return interrupt();
    if (mode == "nonblocking") return nonblocking();
#endif
    if (mode == "exit") {
        write_pending();
        return 0;
    }
    if (mode == "exit-call") {
        write_pending();
        std::exit(3);
    }
    std::cerr << "unknown mode '" << mode << "'\n";
    return 2;
}
