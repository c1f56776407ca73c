// The name calls, the current directory and the listing on Linux, where a
// name is bytes: it reaches the C library exactly as given.
#include <wexal/u8port/system.hpp>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <system_error>

#include "null_names.hpp"
#include "system_names.hpp"

namespace wexal {
namespace u8port {

static_assert(dt_unknown == DT_UNKNOWN && dt_directory == DT_DIR && dt_regular == DT_REG && dt_symlink == DT_LNK,
              "the listing's types are readdir's");

int stat(const char* name, stat_type* out) { return detail::refuse_null(name) ? -1 : ::stat(name, out); }

int lstat(const char* name, stat_type* out) { return detail::refuse_null(name) ? -1 : ::lstat(name, out); }

int access(const char* name, int mode) { return detail::refuse_null(name) ? -1 : ::access(name, mode); }

int mkdir(const char* name, int mode) {
    return detail::refuse_null(name) ? -1 : ::mkdir(name, static_cast<mode_t>(mode));
}

int rmdir(const char* name) { return detail::refuse_null(name) ? -1 : ::rmdir(name); }

int chdir(const char* name) { return detail::refuse_null(name) ? -1 : ::chdir(name); }

int chmod(const char* name, int mode) {
    return detail::refuse_null(name) ? -1 : ::chmod(name, static_cast<mode_t>(mode));
}

int open(const char* name, int flags, int mode) {
    return detail::refuse_null(name) ? -1 : ::open(name, flags & ~open_inheritable, static_cast<mode_t>(mode));
}

// glibc's getcwd(nullptr, size) allocates size bytes only; here the buffer
// is as large as the name needs, as on Windows.
char* getcwd(char* buffer, std::size_t size) {
    if (buffer != nullptr) return ::getcwd(buffer, size);
    char* name = ::getcwd(nullptr, 0);
    if (name == nullptr || size <= std::strlen(name) + 1) return name;
    char* larger = static_cast<char*>(std::realloc(name, size));
    if (larger == nullptr) {
        std::free(name);
        errno = ENOMEM;
    }
    return larger;
}

std::string current_directory() {
    char* name = ::getcwd(nullptr, 0);
    if (name == nullptr) throw std::system_error(errno, std::generic_category(), "current_directory");
    std::string result;
    try {
        result = name;
    } catch (...) {
        std::free(name);
        throw;
    }
    std::free(name);
    return result;
}

std::string system_path(std::string_view name) { return std::string(name); }

struct DIR_type {
    ::DIR* dir = nullptr;
    dirent_type entry{};
};

DIR_type* opendir(const char* name) {
    if (detail::refuse_null(name)) return nullptr;
    DIR_type* listing = new (std::nothrow) DIR_type();
    if (listing == nullptr) {
        errno = ENOMEM;
        return nullptr;
    }
    listing->dir = ::opendir(name);
    if (listing->dir != nullptr) return listing;
    delete listing;
    return nullptr;
}

// A type the file system does not tell (DT_UNKNOWN) is asked of the entry
// itself, not following a link.
dirent_type* readdir(DIR_type* listing) {
    if (listing == nullptr) {
        errno = EBADF;
        return nullptr;
    }
    const ::dirent* found = ::readdir(listing->dir);
    if (found == nullptr) return nullptr;
    dirent_type& entry = listing->entry;
    std::memcpy(entry.d_name, found->d_name, std::strlen(found->d_name) + 1);
    entry.d_type = found->d_type;
    entry.d_size = size_unknown;
    if (entry.d_type == DT_UNKNOWN) {
        struct ::stat st;
        const int saved = errno;
        if (::fstatat(::dirfd(listing->dir), found->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            entry.d_type = S_ISDIR(st.st_mode)   ? dt_directory
                           : S_ISLNK(st.st_mode) ? dt_symlink
                           : S_ISREG(st.st_mode) ? dt_regular
                                                 : dt_unknown;
        }
        errno = saved;
    }
    return &entry;
}

int closedir(DIR_type* listing) {
    if (listing == nullptr) {
        errno = EBADF;
        return -1;
    }
    const int result = ::closedir(listing->dir);
    delete listing;
    return result;
}

namespace detail {

std::string join_name(std::string_view folder, std::string_view name) {
    std::string joined(folder);
    if (!joined.empty() && joined.back() != '/') joined += '/';
    joined += name;
    return joined;
}

}  // namespace detail
}  // namespace u8port
}  // namespace wexal
