// The directory walk, on each platform's opendir and readdir: one listing
// loop, a stack of open listings for a recursive walk.
#include <wexal/u8port/system.hpp>

#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "system_names.hpp"

namespace wexal {
namespace u8port {

namespace {

struct open_listing {
    DIR_type* dir;
    std::string path;  // the folder as opendir was given it
    std::string name;  // the folder relative to the walked one ("" for that one)
};

}  // namespace

struct directory::iterator::state {
    directory_entry entry;
    std::vector<open_listing> open;
    bool recursive = false;
    std::error_code* error = nullptr;

    state() = default;
    state(const state&) = delete;
    state& operator=(const state&) = delete;
    ~state() {
        for (const open_listing& l : open) closedir(l.dir);
    }

    // Lists the folder next; false with the error reported when it cannot be.
    bool enter(std::string path, std::string name) {
        DIR_type* const dir = opendir(path.c_str());
        if (dir == nullptr) return fail(errno, path);
        open.push_back({dir, std::move(path), std::move(name)});
        return true;
    }

    bool fail(int value, const std::string& path) {
        const std::error_code code(value, std::generic_category());
        if (error == nullptr) throw std::system_error(code, "directory: " + path);
        *error = code;
        return false;
    }

    // The next entry into `entry`; false at the end or on an error.
    bool next() {
        if (recursive && entry.is_directory() && !enter(entry.path, entry.name)) return false;
        while (!open.empty()) {
            open_listing& top = open.back();
            errno = 0;
            const dirent_type* found = readdir(top.dir);
            if (found == nullptr) {
                const int value = errno;
                const std::string path = std::move(top.path);
                closedir(top.dir);
                open.pop_back();
                if (value != 0) return fail(value, path);
                continue;
            }
            const char* name = found->d_name;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
            entry.name = detail::join_name(top.name, name);
            entry.path = detail::join_name(top.path, name);
            entry.type_ = found->d_type;
            entry.size_ = found->d_size;
            return true;
        }
        return false;
    }
};

std::uint64_t directory_entry::size() const {
    if (!is_regular_file()) return 0;
    if (size_ == size_unknown) {
        stat_type st;
        if (u8port::stat(path.c_str(), &st) != 0) {
            throw std::system_error(errno, std::generic_category(), "directory_entry::size: " + path);
        }
        size_ = static_cast<std::uint64_t>(st.st_size);
    }
    return size_;
}

directory::directory(std::string_view name) : name_(name) {}
directory::directory(std::string_view name, recursive_t) : name_(name), recursive_(true) {}
directory::directory(std::string_view name, std::error_code& error) : name_(name), error_(&error) {}
directory::directory(std::string_view name, recursive_t, std::error_code& error)
    : name_(name), recursive_(true), error_(&error) {}

directory::iterator directory::begin() {
    if (error_ != nullptr) error_->clear();
    iterator first;
    first.walk_.reset(new iterator::state());
    first.walk_->recursive = recursive_;
    first.walk_->error = error_;
    first.entry_ = &first.walk_->entry;
    if (!first.walk_->enter(name_, std::string()) || !first.walk_->next()) first = iterator();
    return first;
}

directory::iterator& directory::iterator::operator++() {
    if (!walk_->next()) *this = iterator();
    return *this;
}

}  // namespace u8port
}  // namespace wexal
