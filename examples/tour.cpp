// A short tour of u8port: every name below is UTF-8, on Windows as on Linux.
//
//   u8port_tour [directory [file name]] [--keep]
//
// Writes a file (by default one whose name holds é, a CJK character and
// U+1F600; the arguments arrive as UTF-8 on Windows too), reads it back,
// reopens it for appending, renames it to "renamed-" and its name and removes
// it (unless --keep is given, so the name can be looked at on disk). Then sets, reads back and
// removes an environment variable whose name and value are not ASCII, and
// runs a command. Finally writes and reads a file through the UTF-8 file
// streams.
#include <wexal/u8port.hpp>

#include <cstdio>
#include <cstring>
#include <istream>
#include <string>

namespace u8 = wexal::u8port;

// Environment variables and commands, in UTF-8 like everything else.
static int environment_tour() {
    // GRÜSSE and "¡hola, 世界! 😀"
    const char* const name = "GR\xC3\x9CSSE";
    const char* const value = "\xC2\xA1hola, \xE4\xB8\x96\xE7\x95\x8C! \xF0\x9F\x98\x80";
    if (u8::setenv(name, value, 1) != 0) {
        std::printf("setenv failed\n");
        return 1;
    }
    const char* read = u8::getenv(name);
    if (read == nullptr || std::strcmp(read, value) != 0) {
        std::printf("getenv did not give the value back\n");
        return 1;
    }
    std::printf("getenv    %s=%s\n", name, read);
    if (u8::unsetenv(name) != 0 || u8::getenv(name) != nullptr) {
        std::printf("unsetenv failed\n");
        return 1;
    }
    std::printf("unsetenv  %s: gone\n", name);

    if (u8::system(nullptr) == 0) {
        std::printf("no command processor\n");
        return 1;
    }
    std::fflush(stdout);  // the command writes to the same output
    const int status = u8::system("echo hello from the command processor");
    std::printf("system    returned %d\n", status);
    return status == 0 ? 0 : 1;
}

// The file streams: standard streams that take UTF-8 names.
static std::string first_line(std::istream& in) {
    std::string line;
    std::getline(in, line);
    return line;
}

static int stream_tour(const std::string& dir, bool keep) {
    const std::string name = dir + "/stream-r\xC3\xA9sum\xC3\xA9-\xE6\x97\xA5\xE6\x9C\xAC-\xF0\x9F\x98\x80.txt";
    u8::ofstream out(name);
    out << "Gr\xC3\xBC\xC3\x9F"
           "e through u8::ofstream\n";
    out.close();
    if (!out) {
        std::printf("ofstream could not write %s\n", name.c_str());
        return 1;
    }
    std::printf("ofstream  wrote %s\n", name.c_str());
    u8::ifstream in(name);
    const std::string line = first_line(in);  // u8::ifstream is a std::istream
    if (!in) {
        std::printf("ifstream could not read %s\n", name.c_str());
        return 1;
    }
    std::printf("ifstream  read back %s\n", line.c_str());
    in.close();
    return keep || u8::remove(name.c_str()) == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
    u8::args utf8(argc, argv);  // from here on argv is UTF-8, on Windows too
    std::string dir = ".";
    std::string file_name = "caf\xC3\xA9-\xE6\x97\xA5\xE6\x9C\xAC-\xF0\x9F\x98\x80.txt";
    bool keep = false;
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--keep") == 0) {
            keep = true;
        } else {
            (positional++ == 0 ? dir : file_name) = argv[i];
        }
    }
    const std::string name = dir + "/" + file_name;
    const std::string renamed = dir + "/renamed-" + file_name;

    std::FILE* f = u8::fopen(name.c_str(), "wb");
    if (f == nullptr) {
        std::printf("fopen(\"%s\", \"wb\") failed\n", name.c_str());
        return 1;
    }
    std::fputs(
        "Gr\xC3\xBC\xC3\x9F"
        "e, \xE4\xB8\x96\xE7\x95\x8C!\n",
        f);
    std::fclose(f);
    std::printf("wrote     %s\n", name.c_str());

    f = u8::fopen(name.c_str(), "rb");
    char line[128] = {};
    if (f == nullptr || std::fgets(line, sizeof line, f) == nullptr) {
        std::printf("reading %s back failed\n", name.c_str());
        return 1;
    }
    std::printf("read back %s", line);

    f = u8::freopen(name.c_str(), "ab", f);
    if (f == nullptr) {
        std::printf("freopen failed\n");
        return 1;
    }
    std::fputs("appended after freopen\n", f);
    std::fclose(f);
    std::printf("reopened  %s for appending\n", name.c_str());

    if (u8::rename(name.c_str(), renamed.c_str()) != 0) {
        std::printf("rename failed\n");
        return 1;
    }
    std::printf("renamed   to %s\n", renamed.c_str());

    if (!keep) {
        if (u8::remove(renamed.c_str()) != 0) {
            std::printf("remove failed\n");
            return 1;
        }
        std::printf("removed   %s\n", renamed.c_str());
    }
    if (environment_tour() != 0) return 1;
    return stream_tour(dir, keep);
}
