// The program's places on Linux, as the bytes the system holds.
#include <wexal/u8port/cstdlib.hpp>

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include <wexal/u8port/system_error.hpp>

namespace wexal {
namespace u8port {
namespace {

[[noreturn]] void fail(int error, const char* what) { throw std::system_error(error, u8port::system_category(), what); }

// A variable's value when it is set and not empty.
std::optional<std::string> non_empty(const char* name) {
    std::optional<std::string> value = environment_value(name);
    if (value && value->empty()) value.reset();
    return value;
}

}  // namespace

std::string executable_path() {
    // readlink says nothing of the length: a result that fills the buffer may
    // have been cut, so it is asked again with twice the room.
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) fail(errno, "executable_path");
        if (static_cast<std::size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<std::size_t>(n));
        buffer.resize(2 * buffer.size());
    }
}

std::string temp_directory() { return non_empty("TMPDIR").value_or("/tmp"); }

std::string home_directory() {
    if (std::optional<std::string> home = non_empty("HOME")) return *home;
    std::vector<char> buffer(1024);
    for (;;) {
        passwd entry{};
        passwd* found = nullptr;
        const int error = ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found);
        if (error == ERANGE) {
            buffer.resize(2 * buffer.size());
            continue;
        }
        if (error != 0) fail(error, "home_directory");
        // No entry for this user, or one without a home.
        if (found == nullptr || entry.pw_dir == nullptr || entry.pw_dir[0] == 0) fail(ENOENT, "home_directory");
        return entry.pw_dir;
    }
}

}  // namespace u8port
}  // namespace wexal
