// Uses both installed libraries as a user's program would, and says
// "consumer: ok" on standard output when everything behaved, between the lines
// written by a global object's constructor and destructor.
#include <wexal/calltrail/calltrail.hpp>
#include <wexal/u8port.hpp>

#include <cstdio>
#include <cstring>
#include <string>

namespace u8 = wexal::u8port;
namespace calltrail = wexal::calltrail;

namespace {

int failures = 0;

void expect(bool ok, const char* what) {
    if (!ok) {
        u8::cerr << "consumer: " << what << " failed\n";
        ++failures;
    }
}

// The streams exist before a global constructor runs and after a global
// destructor has run, whether the library is shared or static.
struct global_writer {
    global_writer() { u8::cout << "consumer: before main\n"; }
    ~global_writer() { u8::cout << "consumer: after main" << std::endl; }
} writer;

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? std::string(argv[1]) + "/" : std::string();
    const std::string name = dir + "wexal-consumer-caf\xC3\xA9-\xF0\x9F\x98\x80.txt";  // café-😀
    const std::string text =
        "Gr\xC3\xBC\xC3\x9F"
        "e";  // Grüße

    if (std::FILE* out = u8::fopen(name.c_str(), "wb")) {
        expect(std::fputs(text.c_str(), out) >= 0, "fputs");
        expect(std::fclose(out) == 0, "fclose");
    } else {
        expect(false, "fopen for writing");
    }
    if (std::FILE* in = u8::fopen(name.c_str(), "rb")) {
        char back[64] = {};
        expect(std::fread(back, 1, sizeof back - 1, in) == text.size() && text == back, "reading the file back");
        std::fclose(in);
    } else {
        expect(false, "fopen for reading");
    }
    expect(u8::remove(name.c_str()) == 0, "remove");

    expect(u8::setenv("WEXAL_CONSUMER", "\xC3\xA9t\xC3\xA9", 1) == 0, "setenv");  // été
    const char* value = u8::getenv("WEXAL_CONSUMER");
    expect(value != nullptr && std::strcmp(value, "\xC3\xA9t\xC3\xA9") == 0, "getenv");

    const void* frames[4] = {};
    expect(calltrail::detail::this_thread_frames::collect(frames, 4, 0) == 0, "collect");
    expect(calltrail::to_string(calltrail::frame(frames[0])).empty(), "to_string");

    if (failures == 0) u8::cout << "consumer: ok" << std::endl;
    return failures == 0 ? 0 : 1;
}
