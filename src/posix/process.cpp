// Other programs on POSIX systems: posix_spawn and waitpid, with arguments,
// environment and commands passed as the bytes they are, and pipes to the
// child read and written with poll.
#include <wexal/u8port/process.hpp>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <system_error>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <wexal/u8port/system_error.hpp>

#include "child_process.hpp"
#include "common/command_line.hpp"
#include "standard_streams.hpp"

// Defined under their own names, whatever <stdio.h> renamed them to.
#undef popen
#undef pclose

extern char** environ;

namespace wexal {
namespace u8port {
namespace {

[[noreturn]] void fail(int error, const std::string& what) {
    throw std::system_error(error, u8port::system_category(), what);
}

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

// The child keeps descriptors 0 to 2 only, whatever O_CLOEXEC the program
// forgot. Where the C library cannot close a range, every descriptor open
// now is closed one by one.
int close_the_rest(posix_spawn_file_actions_t* actions) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || __GLIBC_MINOR__ >= 34)
    return ::posix_spawn_file_actions_addclosefrom_np(actions, 3);
#else
    DIR* open_ones = ::opendir("/proc/self/fd");
    if (open_ones == nullptr) return errno;
    int error = 0;
    while (const dirent* entry = ::readdir(open_ones)) {
        const int fd = std::atoi(entry->d_name);
        if (fd > 2 && fd != ::dirfd(open_ones) && error == 0) error = ::posix_spawn_file_actions_addclose(actions, fd);
    }
    ::closedir(open_ones);
    return error;
#endif
}

// The file actions that give the child its standard streams: a pipe's far
// end, /dev/null, or this program's own. The parent's ends go to `pipes`;
// `far` keeps the child's ends, to close once it has started.
int standard_streams(posix_spawn_file_actions_t* actions, const run_options& options, detail::pipe_end (&pipes)[3],
                     int (&far)[3]) {
    const stdio_mode modes[] = {options.input, options.output,
                                options.error_to_output ? stdio_mode::inherit : options.error};
    for (int fd = 0; fd < 3; ++fd) {
        int error = 0;
        if (modes[fd] == stdio_mode::null) {
            error = ::posix_spawn_file_actions_addopen(actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
        } else if (modes[fd] == stdio_mode::pipe) {
            int ends[2];
            if (::pipe2(ends, O_CLOEXEC) != 0) return errno;
            pipes[fd] = ends[fd == 0 ? 1 : 0];
            far[fd] = ends[fd == 0 ? 0 : 1];
            error = ::posix_spawn_file_actions_adddup2(actions, far[fd], fd);
        }
        if (error != 0) return error;
    }
    if (options.error_to_output) {
        if (const int error = ::posix_spawn_file_actions_adddup2(actions, 1, 2)) return error;
    }
    return close_the_rest(actions);
}

// Starts `program` (searched on PATH like execvp when it holds no '/', and
// checked before it starts, so that a program that cannot run is an error and
// never an exit status) with the null-terminated argv and envp (null:
// inherited), in `directory` (null: the current one). 0 or an errno value.
int spawn_process(const char* program, char* const* argv, char* const* envp, const char* directory,
                  const run_options& options, detail::started_process& started) {
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
    int far[3] = {-1, -1, -1};
    if (error == 0) error = standard_streams(&actions, options, started.pipes, far);
    pid_t child = 0;
    if (error == 0)
        error = ::posix_spawn(&child, path.c_str(), &actions, nullptr, argv, envp != nullptr ? envp : environ);
    ::posix_spawn_file_actions_destroy(&actions);
    for (int fd : far) {
        if (fd >= 0) ::close(fd);
    }
    if (error != 0) {
        for (detail::pipe_end& end : started.pipes) {
            if (end != detail::no_pipe) ::close(static_cast<int>(end));
            end = detail::no_pipe;
        }
        return error;
    }
    started.native = child;
    started.id = child;
    return 0;
}

}  // namespace

namespace detail {

started_process start_process(const std::vector<std::string>& args, const run_options& options) {
    check_arguments(args);
    check_options(options);
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    if (options.environment) {
        for (const std::string& entry : *options.environment) envp.push_back(const_cast<char*>(entry.c_str()));
        envp.push_back(nullptr);
    }
    if (!options.directory.empty()) {
        struct stat info;
        if (::stat(options.directory.c_str(), &info) != 0) fail(errno, "no directory " + options.directory);
        if (!S_ISDIR(info.st_mode)) fail(ENOTDIR, "not a directory: " + options.directory);
    }
    flush_standard_streams();
    started_process started;
    const int error = spawn_process(args[0].c_str(), argv.data(), options.environment ? envp.data() : nullptr,
                                    options.directory.empty() ? nullptr : options.directory.c_str(), options, started);
    if (error != 0) fail(error, "cannot start " + args[0]);
    return started;
}

std::optional<int> wait_process(started_process& process, std::optional<clock::time_point> deadline,
                                const std::string& name) {
    // Without a limit waitpid blocks; with one it is asked again at growing
    // steps of at most 10 ms until the child ends or the limit passes.
    auto step = std::chrono::microseconds(500);
    for (;;) {
        int status = 0;
        const pid_t ended = ::waitpid(static_cast<pid_t>(process.native), &status, deadline ? WNOHANG : 0);
        if (ended > 0) return WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
        if (ended < 0 && errno == ECHILD) {
            throw std::system_error(std::make_error_code(std::errc::no_child_process),
                                    "started; its status was taken elsewhere: " + name);
        }
        if (ended < 0 && errno != EINTR) fail(errno, "cannot wait for " + name);
        if (ended == 0) {
            const auto now = clock::now();
            if (now >= *deadline) return std::nullopt;
            std::this_thread::sleep_for(std::min<clock::duration>(step, *deadline - now));
            step = std::min<std::chrono::microseconds>(step * 2, std::chrono::milliseconds(10));
        }
    }
}

void kill_process(started_process& process) noexcept { ::kill(static_cast<pid_t>(process.native), SIGKILL); }

void release_process(started_process&) noexcept {}  // waitpid released it

std::ptrdiff_t read_pipe(pipe_end end, char* buffer, std::size_t size) noexcept {
    for (;;) {
        const ssize_t n = ::read(static_cast<int>(end), buffer, size);
        if (n >= 0 || errno != EINTR) return n;
    }
}

namespace {

// Writing to a pipe whose reader has gone raises SIGPIPE, which would end
// this program: the signal is blocked on this thread for one write and taken
// back if that write raised it.
ssize_t write_quietly(int fd, const char* data, std::size_t size) noexcept {
    sigset_t pipe_signal, before, pending;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipe_signal, &before);
    sigpending(&pending);
    const bool was_pending = sigismember(&pending, SIGPIPE) == 1;
    const ssize_t n = ::write(fd, data, size);
    const int error = errno;
    if (n < 0 && error == EPIPE && !was_pending) {
        const timespec now = {0, 0};
        ::sigtimedwait(&pipe_signal, nullptr, &now);
    }
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    errno = error;
    return n;
}

}  // namespace

bool write_pipe(pipe_end end, const char* data, std::size_t size) noexcept {
    while (size != 0) {
        const ssize_t n = write_quietly(static_cast<int>(end), data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void close_pipe(pipe_end end) noexcept { ::close(static_cast<int>(end)); }

bool exchange(pipe_end (&pipes)[3], std::string_view input, std::string& out, std::string& err,
              std::optional<clock::time_point> deadline) {
    if (pipes[0] != no_pipe) ::fcntl(static_cast<int>(pipes[0]), F_SETFL, O_NONBLOCK);
    std::string* const into[] = {nullptr, &out, &err};
    char buffer[65536];
    for (;;) {
        pollfd ready[3];
        int at[3];
        nfds_t count = 0;
        for (int i = 0; i < 3; ++i) {
            if (pipes[i] == no_pipe) continue;
            if (i == 0 && input.empty()) {
                close_pipe(pipes[0]);
                pipes[0] = no_pipe;
                continue;
            }
            ready[count] = {static_cast<int>(pipes[i]), static_cast<short>(i == 0 ? POLLOUT : POLLIN), 0};
            at[count++] = i;
        }
        if (count == 0) return true;
        int wait = -1;
        if (deadline) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - clock::now());
            if (left.count() <= 0) break;
            wait = static_cast<int>(std::min<std::chrono::milliseconds::rep>(left.count(), 1 << 30));
        }
        if (::poll(ready, count, wait) < 0) {
            if (errno == EINTR) continue;
            fail(errno, "cannot read from a child");  // the child's state closes the pipes
        }
        for (nfds_t k = 0; k < count; ++k) {
            if (ready[k].revents == 0) continue;
            const int i = at[k];
            if (i == 0) {
                // Non-blocking: writes what fits now; the reader gone ends the input.
                const ssize_t n = write_quietly(static_cast<int>(pipes[0]), input.data(), input.size());
                if (n > 0) input.remove_prefix(static_cast<std::size_t>(n));
                if (n < 0 && errno != EAGAIN && errno != EINTR) input = {};
                continue;
            }
            const std::ptrdiff_t n = read_pipe(pipes[i], buffer, sizeof buffer);
            if (n > 0) {
                into[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                close_pipe(pipes[i]);
                pipes[i] = no_pipe;
            }
        }
    }
    for (pipe_end& end : pipes) {
        if (end != no_pipe) close_pipe(end);
        end = no_pipe;
    }
    return false;
}

void captured_to_utf8(std::string&, const run_options&) {}  // bytes, unchanged

}  // namespace detail

int exit_code(int status) {
    if (status == -1) return -1;
    return WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
}

namespace {

// The streams popen gave and pclose has not closed: pclose of any other is
// refused, as the C library's own would not be.
std::mutex& popen_lock() {
    static std::mutex* lock = new std::mutex;
    return *lock;
}
std::set<std::FILE*>& popen_streams() {
    static std::set<std::FILE*>* streams = new std::set<std::FILE*>;
    return *streams;
}

}  // namespace

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
    const std::lock_guard<std::mutex> hold(popen_lock());
    std::FILE* stream = ::popen(command, kept.c_str());
    if (stream != nullptr) popen_streams().insert(stream);
    return stream;
}

int pclose(std::FILE* stream) {
    {
        const std::lock_guard<std::mutex> hold(popen_lock());
        if (popen_streams().erase(stream) == 0) {
            errno = EINVAL;
            return -1;
        }
    }
    return ::pclose(stream);
}

}  // namespace u8port
}  // namespace wexal
