// Other programs on POSIX systems: posix_spawn and waitpid, with arguments,
// environment and commands passed as the bytes they are.
#include "platform.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace wexal {
namespace u8port {
namespace detail {
namespace platform {
namespace {

// 0 when `path` is a file this process may execute, else the errno that exec
// would report (ENOENT when it is missing, EACCES for a directory or a file
// without execute permission).
int check_executable(const std::string& path) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) return errno;
    if (!S_ISREG(info.st_mode) || ::access(path.c_str(), X_OK) != 0) return EACCES;
    return 0;
}

// Finds the program as execvp would, checking it first: some C libraries
// report a failed exec from posix_spawnp only as exit status 127, which must
// never be mistaken for the program's own. Returns 0 and the path, or errno.
int resolve(const char* program, std::string& path) {
    if (program[0] == 0) return ENOENT;
    if (std::strchr(program, '/') != nullptr) {
        path = program;
        return check_executable(path);
    }
    const char* search = std::getenv("PATH");
    if (search == nullptr) search = "/bin:/usr/bin";
    int error = ENOENT;
    for (const char* begin = search;; ++begin) {
        const char* end = std::strchr(begin, ':');
        if (end == nullptr) end = begin + std::strlen(begin);
        // An empty entry is the current directory, as for execvp.
        path.assign(begin, end);
        if (path.empty()) path = ".";
        path.append("/").append(program);
        const int found = check_executable(path);
        if (found == 0) return 0;
        if (found == EACCES) error = EACCES;  // as execvp: a later success still wins
        if (*end == 0) return error;
        begin = end;
    }
}

}  // namespace

int spawn_and_wait(const char* program, char* const* argv, char* const* envp, const char* directory, int* exit_code) {
    std::string path;
    if (const int error = resolve(program, path)) return error;
    posix_spawn_file_actions_t actions;
    if (const int error = ::posix_spawn_file_actions_init(&actions)) return error;
    int error = 0;
    if (directory != nullptr) {
        // The path was checked from this directory; the child must run that one.
        if (path[0] != '/') {
            char* const here = ::getcwd(nullptr, 0);
            if (here == nullptr)
                error = errno;
            else
                path = std::string(here) + "/" + path;
            std::free(here);
        }
#if (defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 29)) || defined(__APPLE__) || defined(__FreeBSD__)
        if (error == 0) error = ::posix_spawn_file_actions_addchdir_np(&actions, directory);
#else
        error = ENOSYS;  // no way to change the child's directory before it runs
#endif
    }
    pid_t child = 0;
    if (error == 0)
        error = ::posix_spawn(&child, path.c_str(), &actions, nullptr, argv, envp != nullptr ? envp : environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (error != 0) return error;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return errno;
    }
    *exit_code = WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
    return 0;
}

std::FILE* popen(const char* command, const char* mode) {
    if (command == nullptr || mode == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    // The C library takes "r" or "w" (and 'e'); text and binary are one here.
    std::string kept;
    for (const char* c = mode; *c != 0; ++c) {
        if (*c != 'b' && *c != 't') kept += *c;
    }
    return ::popen(command, kept.c_str());
}

int pclose(std::FILE* stream) {
    if (stream == nullptr) {
        errno = EINVAL;
        return -1;
    }
    return ::pclose(stream);
}

}  // namespace platform
}  // namespace detail
}  // namespace u8port
}  // namespace wexal
