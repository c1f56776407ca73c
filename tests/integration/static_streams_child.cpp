// The standard streams of a static build: eight threads write argv[1] lines
// each to cout, then come "1", a command that prints "2", "3", and the lines
// of late_writer.cpp. Exits with 1 when cout went bad.
#include <wexal/u8port/cstdlib.hpp>
#include <wexal/u8port/iostream.hpp>

#include <cstdlib>
#include <thread>
#include <vector>

namespace u8 = wexal::u8port;

void write_late(const char* line) { u8::cout << line << '\n'; }

int main(int argc, char** argv) {
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
