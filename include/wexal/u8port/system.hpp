// UTF-8 calls on names beyond the file streams: stat, access, mkdir, rmdir,
// chdir, chmod, open, getcwd, a C-style directory listing, the form a name
// takes for the system, and a directory walk.
// - Windows: every name goes through the same conversion as u8port::fopen
//   (UTF-8 to UTF-16, the three-byte form of a lone surrogate taken as that
//   surrogate, the verbatim "\\?\" form where the full path reaches
//   MAX_PATH), and every name that comes back (getcwd, readdir, the walk) is
//   UTF-8 in the lossless form (to_utf8(p, lossless)), so handing it back
//   reaches the same file.
// - Elsewhere names are bytes, handed to the C library's call unchanged (a
//   null name is refused with EINVAL).
// Each call returns what the replaced call returns and leaves errno as it
// leaves it. Should a runtime header turn one of these names into a macro
// (mingw-w64's access with __USE_MINGW_ACCESS, stat with _FILE_OFFSET_BITS),
// call it as (u8::access)(name, mode).
#ifndef WEXAL_U8PORT_SYSTEM_HPP
#define WEXAL_U8PORT_SYSTEM_HPP

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include <wexal/u8port/config.hpp>

namespace wexal {
namespace u8port {

#if defined(_WIN32)
using stat_type = struct ::_stat64;  // what _wstat64 fills
#else
using stat_type = struct ::stat;
#endif

// Windows: _wstat64, except that a name ending in a separator is taken as
// POSIX takes it: the directory it names, and ENOTDIR for anything else
// (the C runtime fails such a name with ENOENT).
WEXAL_U8PORT_API int stat(const char* name, stat_type* out);
#if !defined(_WIN32)
// The link itself, not its target (Linux only: Windows has no such call).
WEXAL_U8PORT_API int lstat(const char* name, stat_type* out);
#endif
// Windows: X_OK (which the C runtime refuses) asks whether the name exists.
WEXAL_U8PORT_API int access(const char* name, int mode);
// The mode is ignored on Windows, as _wmkdir has none.
WEXAL_U8PORT_API int mkdir(const char* name, int mode = 0777);
WEXAL_U8PORT_API int rmdir(const char* name);
// Windows: a current directory past MAX_PATH needs a long-path-aware program
// (Wine takes it as it is).
WEXAL_U8PORT_API int chdir(const char* name);
WEXAL_U8PORT_API int chmod(const char* name, int mode);

// OR'ed into open's flags: the descriptor is inherited by the programs this
// one starts. Without it, Windows gets _O_NOINHERIT added, since an inherited
// descriptor keeps the file open in every child. On Linux the flag is only
// taken out (descriptors follow O_CLOEXEC, and the library's own children
// get the standard three alone).
inline constexpr int open_inheritable = 0x40000000;
// Windows: of the mode, only the owner's read and write bits (0600) reach
// _wopen, which takes no others.
WEXAL_U8PORT_API int open(const char* name, int flags, int mode = 0);

// The current directory, C style: null and ERANGE when it and its terminator
// do not fit size bytes; a null buffer is allocated with malloc (at least
// size bytes, and as large as the name needs), for the caller to free. On
// Windows from GetCurrentDirectoryW at any length (_wgetcwd fails past
// MAX_PATH).
WEXAL_U8PORT_API char* getcwd(char* buffer, std::size_t size);
// The same as a string; std::system_error if there is none.
WEXAL_U8PORT_API std::string current_directory();

// The name as the library's own calls hand it to the system, in UTF-8
// (lossless form), for a program that calls the system itself: on Windows
// the verbatim form of the full path where that reaches MAX_PATH, else the
// name; elsewhere the name unchanged.
WEXAL_U8PORT_API std::string system_path(std::string_view name);

// The listing's types, with the values of POSIX's DT_ constants.
inline constexpr unsigned char dt_unknown = 0;
inline constexpr unsigned char dt_directory = 4;
inline constexpr unsigned char dt_regular = 8;
inline constexpr unsigned char dt_symlink = 10;  // Windows: a symbolic link or a junction
inline constexpr std::uint64_t size_unknown = ~std::uint64_t(0);

// One entry of opendir's listing. Named so that it cannot clash with
// <dirent.h>, which a program may include too.
struct dirent_type {
    // The UTF-8 of a name of up to 255 UTF-16 units (Windows), 255 bytes
    // (Linux), and its terminator.
    char d_name[766];
    unsigned char d_type;  // dt_ values; Linux: what readdir tells (other DT_ values too)
    std::uint64_t d_size;  // a regular file's size where the listing gives it (Windows), else size_unknown
};
struct DIR_type;

// A directory's entries in the system's order, "." and ".." among them (on
// Windows first, also for a drive root, where the system gives neither).
// opendir fails with null and errno as POSIX's does (ENOENT, ENOTDIR,
// EACCES); readdir's null is the end, or an error when errno was set. The
// entry stays valid until the next readdir or closedir of the same listing.
WEXAL_U8PORT_API DIR_type* opendir(const char* name);
WEXAL_U8PORT_API dirent_type* readdir(DIR_type* dir);
WEXAL_U8PORT_API int closedir(DIR_type* dir);

// Asks directory() to walk the folders below as well.
struct recursive_t {
    explicit recursive_t() = default;
};
inline constexpr recursive_t recursive{};

// One entry of a walk. name is relative to the walked folder, path is the
// walked folder's name joined with it; both join with the platform's
// separator ('\' on Windows, '/' elsewhere) and are UTF-8 as readdir gives.
class directory_entry {
public:
    std::string name;
    std::string path;

    bool is_directory() const noexcept { return type_ == dt_directory; }
    bool is_regular_file() const noexcept { return type_ == dt_regular; }
    bool is_symlink() const noexcept { return type_ == dt_symlink; }
    // A regular file's size (0 for anything else): from the listing on
    // Windows, asked of the system on Linux (std::system_error on failure).
    WEXAL_U8PORT_API std::uint64_t size() const;

private:
    friend class directory;
    unsigned char type_ = dt_unknown;
    mutable std::uint64_t size_ = size_unknown;
};

// A walk of a folder's entries (no "." or ".."), at any path length: an
// input range for range-for. With recursive, each folder's entries follow the
// folder, and a symbolic link or junction to a folder is given but not
// entered. Errors (the folder or one below it cannot be listed) throw
// std::system_error, or, given an error_code, set it and end the walk.
class directory {
public:
    WEXAL_U8PORT_API explicit directory(std::string_view name);
    WEXAL_U8PORT_API directory(std::string_view name, recursive_t);
    WEXAL_U8PORT_API directory(std::string_view name, std::error_code& error);
    WEXAL_U8PORT_API directory(std::string_view name, recursive_t, std::error_code& error);

    class iterator {
    public:
        using iterator_category = std::input_iterator_tag;
        using value_type = directory_entry;
        using difference_type = std::ptrdiff_t;
        using pointer = const directory_entry*;
        using reference = const directory_entry&;

        iterator() noexcept = default;
        reference operator*() const noexcept { return *entry_; }
        pointer operator->() const noexcept { return entry_; }
        WEXAL_U8PORT_API iterator& operator++();
        void operator++(int) { ++*this; }
        friend bool operator==(const iterator& a, const iterator& b) noexcept { return a.walk_ == b.walk_; }
        friend bool operator!=(const iterator& a, const iterator& b) noexcept { return a.walk_ != b.walk_; }

    private:
        friend class directory;
        struct state;
        std::shared_ptr<state> walk_;             // null at the end
        const directory_entry* entry_ = nullptr;  // the walk's current entry
    };

    // Starts a walk: each call begins a new one.
    WEXAL_U8PORT_API iterator begin();
    iterator end() const noexcept { return iterator(); }

private:
    std::string name_;
    bool recursive_ = false;
    std::error_code* error_ = nullptr;
};

#if defined(__cpp_char8_t)
// The name calls with C++20 UTF-8 text: u8::mkdir(u8"Grüße").
template <typename N, detail::if_char8_text_args<N> = 0>
int stat(const N& name, stat_type* out) {
    return u8port::stat(detail::utf8_arg(name).get(), out);
}
template <typename N, detail::if_char8_text_args<N> = 0>
int access(const N& name, int mode) {
    return u8port::access(detail::utf8_arg(name).get(), mode);
}
template <typename N, detail::if_char8_text_args<N> = 0>
int mkdir(const N& name, int mode = 0777) {
    return u8port::mkdir(detail::utf8_arg(name).get(), mode);
}
template <typename N, detail::if_char8_text_args<N> = 0>
int rmdir(const N& name) {
    return u8port::rmdir(detail::utf8_arg(name).get());
}
template <typename N, detail::if_char8_text_args<N> = 0>
int chdir(const N& name) {
    return u8port::chdir(detail::utf8_arg(name).get());
}
template <typename N, detail::if_char8_text_args<N> = 0>
int chmod(const N& name, int mode) {
    return u8port::chmod(detail::utf8_arg(name).get(), mode);
}
template <typename N, detail::if_char8_text_args<N> = 0>
int open(const N& name, int flags, int mode = 0) {
    return u8port::open(detail::utf8_arg(name).get(), flags, mode);
}
template <typename N, detail::if_char8_text_args<N> = 0>
DIR_type* opendir(const N& name) {
    return u8port::opendir(detail::utf8_arg(name).get());
}
#endif

}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_SYSTEM_HPP
