// Other programs on POSIX systems: posix_spawn and waitpid, with arguments,
// environment and commands passed as the bytes they are.
#include <wexal/u8port/process.hpp>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/command_line.hpp"
#include "standard_streams.hpp"

// Defined under their own names, whatever <stdio.h> renamed them to.
#undef popen
#undef pclose

extern char** environ;

namespace wexal {
namespace u8port {
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

// Starts `program` (searched on PATH like execvp when it holds no '/', and
// checked before it starts, so that a program that cannot run is an error and
// never an exit status) with the null-terminated argv and envp (null:
// inherited), in `directory` (null: the current one), and waits for it. 0
// with the exit code (-N for signal N) in *exit_code, or an errno value.
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

}  // namespace

int run(const std::vector<std::string>& args, const run_options& options) {
    detail::check_arguments(args);
    detail::check_options(options);
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    if (options.environment) {
        for (const std::string& entry : *options.environment) envp.push_back(const_cast<char*>(entry.c_str()));
        envp.push_back(nullptr);
    }
    detail::flush_standard_streams();
    int code = 0;
    const int error = spawn_and_wait(args[0].c_str(), argv.data(), options.environment ? envp.data() : nullptr,
                                     options.directory.empty() ? nullptr : options.directory.c_str(), &code);
    if (error != 0) throw std::system_error(error, std::system_category(), "cannot start " + args[0]);
    return code;
}

std::FILE* popen(const char* command, const char* mode) {
    detail::flush_standard_streams();
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

}  // namespace u8port
}  // namespace wexal
