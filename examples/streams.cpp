// The UTF-8 standard streams: run it in a terminal (on Windows, a console)
// and type a line with any characters you like.
//
//   u8port_streams
//
// Writes through cout, cerr and clog, reads one line through cin and shows
// its UTF-8 bytes. Redirected to a file or a pipe, the same program writes
// the same bytes as it would through std::cout and std::cerr.
#include <wexal/u8port/iostream.hpp>

#include <string>

namespace u8 = wexal::u8port;

int main() {
    u8::cout << "cout: Grüße, 世界 😀\n";
    // cerr flushes cout, its tie, first, then shows at once: it is unit-buffered.
    u8::cerr << "cerr: ¡at once!\n";
    // On a Windows console clog, like cout, writes out at the end of each
    // line; this one ends as the program does. Elsewhere clog goes through
    // std::cerr and shows at once.
    u8::clog << "clog: adiós, written at exit";
    // Reading from cin flushes cout first, so the prompt shows.
    u8::cout << "Type a line: ";

    std::string line;
    if (!std::getline(u8::cin, line)) {
        u8::cerr << "no input\n";
        return 1;
    }

    u8::cout << "You typed: " << line << '\n' << "as UTF-8:";
    const char* const digits = "0123456789ABCDEF";
    for (const char c : line) {
        const unsigned char byte = static_cast<unsigned char>(c);
        u8::cout << ' ' << digits[byte >> 4] << digits[byte & 0xF];
    }
    u8::cout << '\n';
    u8::clog << '\n';
    return 0;
}
