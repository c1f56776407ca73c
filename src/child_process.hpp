// What the platform gives the shared process code (src/child_process.cpp):
// start a program with its three standard streams as asked, wait for it with
// or without a limit, stop it, and move bytes through the parent's ends of
// its pipes. src/windows/process.cpp and src/posix/process.cpp define these.
#ifndef WEXAL_U8PORT_SRC_CHILD_PROCESS_HPP
#define WEXAL_U8PORT_SRC_CHILD_PROCESS_HPP

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

#include <wexal/u8port/process.hpp>

namespace wexal {
namespace u8port {
namespace detail {

// The parent's end of a pipe: a file descriptor, or a HANDLE's value.
using pipe_end = std::intptr_t;
constexpr pipe_end no_pipe = -1;

using clock = std::chrono::steady_clock;

struct started_process {
    std::intptr_t native = 0;  // the process HANDLE's value; the pid
    child::id_type id = 0;
    // The parent's ends for input (written), output and error (read); no_pipe
    // where the stream is not a pipe.
    pipe_end pipes[3] = {no_pipe, no_pipe, no_pipe};
};

// Starts args[0] as run describes, or throws as run does.
started_process start_process(const std::vector<std::string>& args, const run_options& options);
// Waits until the process ends (its exit code) or until `deadline` (nothing).
// Throws std::system_error when its status cannot be had.
std::optional<int> wait_process(started_process& process, std::optional<clock::time_point> deadline,
                                const std::string& name);
// Stops it at once; no error for a process that has ended.
void kill_process(started_process& process) noexcept;
// Gives back what the process holds once it has been waited for.
void release_process(started_process& process) noexcept;

// The bytes read (0 at the end of the pipe, -1 on failure); whether all of
// `size` bytes were written; closing.
std::ptrdiff_t read_pipe(pipe_end end, char* buffer, std::size_t size) noexcept;
bool write_pipe(pipe_end end, const char* data, std::size_t size) noexcept;
void close_pipe(pipe_end end) noexcept;

// Writes `input` to pipes[0] and closes it (if it is a pipe) while reading
// pipes[1] and pipes[2] (those that are pipes) to their end into out and err,
// all at once, until each is done or `deadline` passes. Closes every pipe it
// was given; true if all reached their end in time.
bool exchange(pipe_end (&pipes)[3], std::string_view input, std::string& out, std::string& err,
              std::optional<clock::time_point> deadline);

// The captured bytes of output() in UTF-8 (Windows: from options.output_code_page).
void captured_to_utf8(std::string& bytes, const run_options& options);

// A stream buffer over one end of a pipe, reading or writing.
class pipe_buffer : public std::streambuf {
public:
    pipe_buffer() = default;
    pipe_buffer(const pipe_buffer&) = delete;
    pipe_buffer& operator=(const pipe_buffer&) = delete;
    ~pipe_buffer() override { close(); }

    void open(pipe_end end, bool writing) noexcept;
    bool is_open() const noexcept { return end_ != no_pipe; }
    // Writes out what is pending and closes the pipe. false if that failed.
    bool close() noexcept;

protected:
    int_type underflow() override;
    int_type overflow(int_type c) override;
    int sync() override;
    std::streamsize xsputn(const char* data, std::streamsize n) override;

private:
    bool flush_pending() noexcept;

    pipe_end end_ = no_pipe;
    char buffer_[4096];
};

}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_SRC_CHILD_PROCESS_HPP
