// The standard streams of a static build: eight threads write argv[1] lines
// each to cout, then come "1", a command that prints "2", "3", and the lines
// of late_writer.cpp. Exits with 1 when cout went bad. With "unsynced", a
// line each through cout and std::cout after std::ios::sync_with_stdio(false).
#include <wexal/u8port/cstdlib.hpp>
#include <wexal/u8port/iostream.hpp>

#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace u8 = wexal::u8port;

void write_late(const char* line) { u8::cout << line << '\n'; }

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "unsynced") {
        // The standard library's streams get new buffers; cout goes on.
        std::ios::sync_with_stdio(false);
        u8::cout << "unsynced\n";
        std::cout << "standard\n";
        return u8::cout.good() ? 0 : 1;
    }
    const int lines = argc > 1 ? std::atoi(argv[1]) : 0;
    std::vector<std::thread> writers(8);
    for (std::thread& w : writers)
        w = std::thread([lines] {
            for (int i = 0; i < lines; ++i) u8::cout << "0123456789" << '\n';
        });
    for (std::thread& w : writers) w.join();
    u8::cout << "1\n";
    u8::system("echo 2");
    u8::cout << "3\n";
    return u8::cout.good() ? 0 : 1;
}
