// The name calls, the current directory and the listing on Windows: each name
// as file_names.hpp converts it, for the C runtime's wide call or KERNEL32's;
// every name that comes back is narrowed in the lossless form.
//
// What Wine showed (and Windows documents): FindFirstFileExW gives "." and
// ".." in a folder but not in a drive root, fails a missing folder with
// ERROR_PATH_NOT_FOUND and a file taken as a folder with ERROR_INVALID_NAME
// (Windows: ERROR_DIRECTORY or ERROR_PATH_NOT_FOUND); _wstat64 fails a
// folder's name ending in a separator with ENOENT; _wgetcwd gives a broken
// name for a current directory past MAX_PATH, where GetCurrentDirectoryW
// gives the whole of it; _wopen makes an inheritable descriptor unless told
// _O_NOINHERIT.
#include <wexal/u8port/system.hpp>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <system_error>

#include <wexal/u8port/convert.hpp>

#include "common/long_path.hpp"
#include "file_names.hpp"
#include "fill_buffer.hpp"
#include "system_names.hpp"
#include "win32.hpp"

namespace wexal {
namespace u8port {

namespace win32 = detail::win32;

namespace {

bool is_separator(wide_char c) noexcept { return c == '\\' || c == '/'; }

// errno for a Win32 error of a listing or of the current directory, as the
// C runtime maps them.
int errno_of(win32::dword error) noexcept {
    switch (error) {
    case win32::error_file_not_found:
    case win32::error_path_not_found:
    case win32::error_invalid_name:
        return ENOENT;
    case win32::error_access_denied:
    case win32::error_sharing_violation:
        return EACCES;
    case win32::error_directory:
        return ENOTDIR;
    case win32::error_not_enough_memory:
        return ENOMEM;
    case win32::error_filename_exceed_range:
        return ENAMETOOLONG;
    default:
        return EINVAL;
    }
}

// The name less the separators at its end, but for the one of a root
// ("C:\", "\").
wide_string without_end_separators(const wide_char* name) {
    wide_string s(name);
    std::size_t end = s.size();
    while (end > 0 && is_separator(s[end - 1])) --end;
    if (end < s.size() && (end == 0 || s[end - 1] == ':')) ++end;  // the root's own separator
    s.resize(end);
    return s;
}

// The current directory in UTF-8; false with errno set when there is none.
bool current_utf8(std::string& out) {
    const bool ok = detail::fill_wide_buffer<detail::max_path>(
        [](wide_char* buffer, win32::dword size) { return win32::GetCurrentDirectoryW(size, buffer); },
        [&out](const wide_char* name, win32::dword n) {
            if (n == 0) return false;
            out = narrow(wide_string_view(name, n), lossless);
            return true;
        });
    if (!ok) errno = errno_of(win32::GetLastError());
    return ok;
}

}  // namespace

int stat(const char* name, stat_type* out) {
    const detail::system_name system(name);
    const wide_char* wide = system.get();
    const std::size_t n = wide == nullptr ? 0 : detail::wide_length(wide);
    if (n < 2 || !is_separator(wide[n - 1])) return detail::win32::_wstat64(wide, out);
    const wide_string folder = without_end_separators(wide);
    if (folder.size() == n) return detail::win32::_wstat64(wide, out);
    const int result = detail::win32::_wstat64(folder.c_str(), out);
    if (result != 0 || (out->st_mode & detail::win32::s_ifmt) == detail::win32::s_ifdir) return result;
    errno = ENOTDIR;
    return -1;
}

// The C runtime documents only the read and write bits of access's mode and
// of open's permissions, and stops the program (its invalid-parameter
// handler) on others: POSIX's X_OK, 0644. X_OK asks for existence here, and
// only the owner's read and write bits of a mode are kept.
int access(const char* name, int mode) {
    const detail::system_name system(name);
    return detail::win32::_waccess(system.get(), mode & 6);
}

int mkdir(const char* name, int) {
    const detail::system_name system(name);
    return detail::win32::_wmkdir(system.get());
}

int rmdir(const char* name) {
    const detail::system_name system(name);
    return detail::win32::_wrmdir(system.get());
}

int chdir(const char* name) {
    const detail::system_name system(name);
    return detail::win32::_wchdir(system.get());
}

int chmod(const char* name, int mode) {
    const detail::system_name system(name);
    return detail::win32::_wchmod(system.get(), mode);
}

int open(const char* name, int flags, int mode) {
    const detail::system_name system(name);
    flags = (flags & open_inheritable) != 0 ? flags & ~open_inheritable : flags | detail::win32::o_noinherit;
    return detail::win32::_wopen(system.get(), flags, mode & 0600);
}

char* getcwd(char* buffer, std::size_t size) {
    if (buffer != nullptr && size == 0) {
        errno = EINVAL;
        return nullptr;
    }
    try {
        std::string name;
        if (!current_utf8(name)) return nullptr;
        const std::size_t needed = name.size() + 1;
        if (buffer == nullptr) {
            buffer = static_cast<char*>(std::malloc(size > needed ? size : needed));
            if (buffer == nullptr) {
                errno = ENOMEM;
                return nullptr;
            }
        } else if (size < needed) {
            errno = ERANGE;
            return nullptr;
        }
        std::memcpy(buffer, name.c_str(), needed);
        return buffer;
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return nullptr;
    }
}

std::string current_directory() {
    std::string name;
    if (!current_utf8(name)) throw std::system_error(errno, std::generic_category(), "current_directory");
    return name;
}

std::string system_path(std::string_view name) {
    const detail::system_name system(name.data(), name.data() + name.size());
    return narrow(system.get(), lossless);
}

struct DIR_type {
    win32::handle find = nullptr;  // null once the system's listing is over (or was empty)
    win32::find_data data{};
    bool data_pending = false;  // data holds an entry not given yet
    int dots_given = 0;         // "." and "..", given first
    dirent_type entry{};
};

DIR_type* opendir(const char* name) {
    if (name == nullptr || *name == 0) {
        errno = name == nullptr ? EINVAL : ENOENT;
        return nullptr;
    }
    try {
        // name\*, or name* after a separator or a drive ("C:" is that drive's current directory).
        std::string pattern(name);
        const char last = pattern.back();
        if (last != '\\' && last != '/' && last != ':') pattern += '\\';
        pattern += '*';
        const detail::system_name system(pattern.data(), pattern.data() + pattern.size());
        std::unique_ptr<DIR_type> dir(new DIR_type());
        dir->find = detail::win32::FindFirstFileExW(system.get(), &dir->data);
        if (dir->find != nullptr) {
            dir->data_pending = true;
            return dir.release();
        }
        const win32::dword error = detail::win32::GetLastError();
        wide_string folder(system.get());
        folder.pop_back();
        const win32::dword attributes = detail::win32::GetFileAttributesW(
            without_end_separators(folder.c_str()).c_str());
        const bool is_folder = attributes != win32::invalid_file_attributes &&
                               (attributes & win32::file_attribute_directory) != 0;
        // Nothing at all: a drive root with no entries.
        if (error == win32::error_file_not_found && is_folder) return dir.release();
        errno = attributes != win32::invalid_file_attributes && !is_folder ? ENOTDIR : errno_of(error);
        return nullptr;
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
        return nullptr;
    }
}

namespace {

bool is_dot_or_dot_dot(const wide_char* name) noexcept {
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

unsigned char type_of(const win32::find_data& data) noexcept {
    if ((data.attributes & win32::file_attribute_reparse_point) != 0 &&
        (data.reserved0 == win32::io_reparse_tag_symlink || data.reserved0 == win32::io_reparse_tag_mount_point)) {
        return dt_symlink;
    }
    return (data.attributes & win32::file_attribute_directory) != 0 ? dt_directory : dt_regular;
}

}  // namespace

dirent_type* readdir(DIR_type* dir) {
    if (dir == nullptr) {
        errno = EBADF;
        return nullptr;
    }
    dirent_type& entry = dir->entry;
    if (dir->dots_given < 2) {
        std::memcpy(entry.d_name, "..", 3);
        entry.d_name[++dir->dots_given] = 0;
        entry.d_type = dt_directory;
        entry.d_size = size_unknown;
        return &entry;
    }
    for (;;) {
        if (!dir->data_pending) {
            if (dir->find == nullptr) return nullptr;
            if (!detail::win32::FindNextFileW(dir->find, &dir->data)) {
                const win32::dword error = detail::win32::GetLastError();
                if (error != win32::error_no_more_files) errno = errno_of(error);
                detail::win32::FindClose(dir->find);
                dir->find = nullptr;
                return nullptr;
            }
        }
        dir->data_pending = false;
        if (is_dot_or_dot_dot(dir->data.name)) continue;
        try {
            const std::string name = narrow(dir->data.name, lossless);
            if (name.size() >= sizeof entry.d_name) {
                errno = EOVERFLOW;
                return nullptr;
            }
            std::memcpy(entry.d_name, name.c_str(), name.size() + 1);
        } catch (const std::bad_alloc&) {
            errno = ENOMEM;
            return nullptr;
        }
        entry.d_type = type_of(dir->data);
        entry.d_size = entry.d_type == dt_regular ? (std::uint64_t(dir->data.size_high) << 32) | dir->data.size_low
                                                  : size_unknown;
        return &entry;
    }
}

int closedir(DIR_type* dir) {
    if (dir == nullptr) {
        errno = EBADF;
        return -1;
    }
    if (dir->find != nullptr) detail::win32::FindClose(dir->find);
    delete dir;
    return 0;
}

namespace detail {

std::string join_name(std::string_view folder, std::string_view name) {
    std::string joined(folder);
    if (!joined.empty() && joined.back() != '\\' && joined.back() != '/' && joined.back() != ':') joined += '\\';
    joined += name;
    return joined;
}

}  // namespace detail
}  // namespace u8port
}  // namespace wexal
