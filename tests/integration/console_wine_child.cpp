// Started on a Wine console by console_pty_driver: writes through the console
// output buffer, or reads lines through the console input buffer, and
// reports in ASCII what the console holds or what was read; or writes through
// u8::cout while the program points standard output elsewhere and back.
//
//   console_wine_child write
//   console_wine_child read <lines>
//   console_wine_child handles
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <istream>
#include <iterator>
#include <ostream>
#include <string>

#include <wexal/u8port/cstdio.hpp>
#include <wexal/u8port/iostream.hpp>

#include "windows/console_buffers.hpp"

namespace {

using wexal::u8port::detail::console_input_buffer;
using wexal::u8port::detail::console_output_buffer;

void say(const std::string& text) {
    DWORD written = 0;
    WriteConsoleA(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
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

int write_mode() {
    HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    console_output_buffer buffer(console);
    std::ostream out(&buffer);
    // Flushes that cut sequences apart, then more than one put area of text.
    out << "caf\xC3" << std::flush << "\xA9 \xE2\x82" << std::flush << "\xAC \xCE\xB1\xCE\xB2\n" << std::flush;
    for (int i = 0; i < 40; ++i)
        out << i
            << " Gr\xC3\xBC\xC3\x9F"
               "e \xD0\xBF\xD1\x80\xD0\xB8 \xE4\xBD\xA0\xE5\xA5\xBD\n";
    out << "bad \xFF byte\n" << std::flush;

    // Wine shows each surrogate on the terminal as U+FFFD, so a character
    // beyond the BMP is checked in the console's own cells.
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(console, &info)) return 1;
    out << "x\xF0" << std::flush << "\x9F\x98" << std::flush << "\x80y" << std::flush;
    wchar_t cells[4] = {};
    DWORD got = 0;
    if (!ReadConsoleOutputCharacterW(console, cells, 4, info.dwCursorPosition, &got)) return 1;
    char line[64];
    std::snprintf(line, sizeof line, "\ncells:%04x %04x %04x %04x\n", static_cast<unsigned>(cells[0]),
                  static_cast<unsigned>(cells[1]), static_cast<unsigned>(cells[2]), static_cast<unsigned>(cells[3]));
    say(line);
    return out ? 0 : 1;
}

int read_mode(int lines) {
    console_input_buffer buffer(GetStdHandle(STD_INPUT_HANDLE));
    std::istream in(&buffer);
    for (int i = 0; i < lines; ++i) {
        say("ready\n");
        std::string line;
        if (!std::getline(in, line)) {
            say("line:eof\n");
            return 1;
        }
        // In short pieces, since Wine wraps long lines on the terminal.
        const std::string digits = hex(line);
        say("line:\n");
        for (std::size_t at = 0; at < digits.size(); at += 64) say(digits.substr(at, 64) + "\n");
        say("end\n");
    }
    return 0;
}

// The file's bytes, each CR LF as LF.
std::string read_text(const char* name) {
    std::ifstream in(name, std::ios::binary);
    std::string text;
    for (std::istreambuf_iterator<char> c(in), end; c != end; ++c) {
        if (*c != '\r') text += *c;
    }
    return text;
}

// Standard output pointed at files and back in each of the ways a program
// does it; u8::cout follows it every time. Then a prompt that std::cin shows
// before it reads.
int handles_mode() {
    namespace u8 = wexal::u8port;
    u8::cout << "before\n";
    const int saved = _dup(1);
    // freopen gives the file the console's handle value.
    if (u8::freopen("wexal-handles-log.txt", "w", stdout) == nullptr) return 1;
    u8::cout << "into the log\n";
    std::fflush(stdout);
    _dup2(saved, 1);
    u8::cout << "after freopen\n";
    const int file = _open("wexal-handles-dup.txt", _O_WRONLY | _O_CREAT | _O_TRUNC, _S_IREAD | _S_IWRITE);
    _dup2(file, 1);
    u8::cout << "into the copy\n";
    std::fflush(stdout);
    _dup2(saved, 1);
    _close(file);
    u8::cout << "after _dup2\n";
    // A handle of its own, which the C runtime's descriptor does not follow.
    const HANDLE set = CreateFileW(L"wexal-handles-set.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    const HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    SetStdHandle(STD_OUTPUT_HANDLE, set);
    u8::cout << "into the handle\n";
    SetStdHandle(STD_OUTPUT_HANDLE, console);
    CloseHandle(set);
    u8::cout << "after SetStdHandle\n";
    say("files:" + read_text("wexal-handles-log.txt") + read_text("wexal-handles-dup.txt") +
        read_text("wexal-handles-set.txt") + "end\n");
    for (const char* name : {"wexal-handles-log.txt", "wexal-handles-dup.txt", "wexal-handles-set.txt"})
        std::remove(name);

    u8::cout << "Name? ";
    std::string name;
    if (!std::getline(std::cin, name)) return 1;
    say("name:" + name + "\n");
    return u8::cout.good() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "handles") == 0) return handles_mode();
    if (argc >= 2 && std::strcmp(argv[1], "write") == 0) return write_mode();
    if (argc >= 3 && std::strcmp(argv[1], "read") == 0) return read_mode(std::atoi(argv[2]));
    say("usage: console_wine_child write | read <lines> | handles\n");
    return 2;
}
