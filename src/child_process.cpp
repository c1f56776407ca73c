// What run, spawn and output share on every platform: a child's state (its
// process, its pipes as streams, its status once known), the time limit, and
// the stream buffer over a pipe. The platform's part is in child_process.hpp.
#include "child_process.hpp"

#include <stdexcept>
#include <system_error>

namespace wexal {
namespace u8port {
namespace detail {

void pipe_buffer::open(pipe_end end, bool writing) noexcept {
    end_ = end;
    if (writing) setp(buffer_, buffer_ + sizeof buffer_);
}

bool pipe_buffer::flush_pending() noexcept {
    if (pbase() == pptr()) return true;
    const bool written = is_open() && write_pipe(end_, pbase(), static_cast<std::size_t>(pptr() - pbase()));
    setp(buffer_, buffer_ + sizeof buffer_);
    return written;
}

bool pipe_buffer::close() noexcept {
    if (!is_open()) return true;
    const bool flushed = flush_pending();
    close_pipe(end_);
    end_ = no_pipe;
    setg(nullptr, nullptr, nullptr);
    setp(nullptr, nullptr);
    return flushed;
}

pipe_buffer::int_type pipe_buffer::underflow() {
    if (!is_open() || pbase() != nullptr) return traits_type::eof();
    const std::ptrdiff_t n = read_pipe(end_, buffer_, sizeof buffer_);
    if (n <= 0) return traits_type::eof();
    setg(buffer_, buffer_, buffer_ + n);
    return traits_type::to_int_type(buffer_[0]);
}

pipe_buffer::int_type pipe_buffer::overflow(int_type c) {
    if (!is_open() || pbase() == nullptr || !flush_pending()) return traits_type::eof();
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
}

int pipe_buffer::sync() { return pbase() == nullptr || flush_pending() ? 0 : -1; }

std::streamsize pipe_buffer::xsputn(const char* data, std::streamsize n) {
    // A large write goes to the pipe from the caller's bytes, not copied first.
    if (n < epptr() - pptr()) return std::streambuf::xsputn(data, n);
    if (!is_open() || pbase() == nullptr || !flush_pending()) return 0;
    return write_pipe(end_, data, static_cast<std::size_t>(n)) ? n : 0;
}

}  // namespace detail

struct child::state {
    detail::started_process process;
    std::string name;
    std::optional<int> status;
    bool ended = false;  // waited for, or its status lost
    detail::pipe_buffer buffers[3];
    std::ostream input{&buffers[0]};
    std::istream output{&buffers[1]};
    std::istream error{&buffers[2]};

    state(const std::vector<std::string>& args, const run_options& options)
        : process(detail::start_process(args, options)), name(args[0]) {}
    state(const state&) = delete;
    state& operator=(const state&) = delete;

    // The pipes are closed first, so that a child blocked on a full one ends
    // and the wait cannot hang on this program.
    ~state() {
        for (detail::pipe_buffer& buffer : buffers) buffer.close();
        for (detail::pipe_end& end : process.pipes) {
            if (end != detail::no_pipe) detail::close_pipe(end);
        }
        if (!ended) {
            try {
                wait(std::nullopt);
            } catch (...) {}
        }
        detail::release_process(process);
    }

    std::optional<int> wait(std::optional<detail::clock::time_point> deadline) {
        if (ended) {
            if (!status) throw std::system_error(std::make_error_code(std::errc::no_child_process), name);
            return status;
        }
        try {
            status = detail::wait_process(process, deadline, name);
        } catch (const std::system_error&) {
            ended = true;
            throw;
        }
        ended = status.has_value();
        return status;
    }

    // Waits at most until the deadline, else kills and waits: true if it
    // ended by itself.
    bool end_by(std::optional<detail::clock::time_point> deadline) {
        if (wait(deadline)) return true;
        detail::kill_process(process);
        wait(std::nullopt);
        return false;
    }
};

namespace {

std::optional<detail::clock::time_point> deadline_of(const run_options& options) {
    if (!options.timeout) return std::nullopt;
    return detail::clock::now() + *options.timeout;
}

std::istream& piped(std::istream& stream, const detail::pipe_buffer& buffer, const char* what) {
    if (!buffer.is_open()) throw std::logic_error(std::string("the child's ") + what + " is not a pipe");
    return stream;
}

}  // namespace

child::child() noexcept = default;
child::child(std::unique_ptr<state> s) noexcept : state_(std::move(s)) {}
child::child(child&& other) noexcept = default;
child& child::operator=(child&& other) noexcept = default;
child::~child() = default;

child::state& child::started() const {
    if (!state_) throw std::logic_error("no child: moved from or never started");
    return *state_;
}

std::ostream& child::input() {
    state& s = started();
    if (!s.buffers[0].is_open()) throw std::logic_error("the child's input is not a pipe");
    return s.input;
}

std::istream& child::output() { return piped(started().output, started().buffers[1], "output"); }
std::istream& child::error() { return piped(started().error, started().buffers[2], "error"); }

void child::close_input() {
    state& s = started();
    if (!s.buffers[0].close()) s.input.setstate(std::ios::badbit);
}

int child::wait() { return *started().wait(std::nullopt); }

std::optional<int> child::wait_for(std::chrono::milliseconds limit) {
    return started().wait(detail::clock::now() + limit);
}

void child::kill() {
    state& s = started();
    if (!s.ended) detail::kill_process(s.process);
}

bool child::running() {
    state& s = started();
    return !s.ended && !s.wait(detail::clock::now());
}

child::id_type child::id() const { return started().process.id; }

child spawn(const std::vector<std::string>& args, const run_options& options) {
    auto s = std::make_unique<child::state>(args, options);
    for (int i = 0; i < 3; ++i) {
        s->buffers[i].open(s->process.pipes[i], i == 0);
        s->process.pipes[i] = detail::no_pipe;
    }
    return child(std::move(s));
}

int run(const std::vector<std::string>& args, const run_options& options) {
    // Nobody reads or writes a pipe here: such a stream goes nowhere.
    run_options started = options;
    for (stdio_mode* mode : {&started.input, &started.output, &started.error}) {
        if (*mode == stdio_mode::pipe) *mode = stdio_mode::null;
    }
    child::state s(args, started);
    if (!s.end_by(deadline_of(options))) {
        throw std::system_error(std::make_error_code(std::errc::timed_out), "time limit passed: " + args[0]);
    }
    return *s.status;
}

run_output output(const std::vector<std::string>& args, const run_options& options) {
    run_options piped_options = options;
    piped_options.output = stdio_mode::pipe;
    piped_options.error = stdio_mode::pipe;
    if (options.input_text) piped_options.input = stdio_mode::pipe;
    const auto deadline = deadline_of(options);
    child::state s(args, piped_options);
    run_output result{0, {}, {}, false};
    const bool done = detail::exchange(s.process.pipes, options.input_text ? *options.input_text : std::string_view(),
                                       result.output, result.error, deadline);
    result.timed_out = !s.end_by(done ? deadline : detail::clock::now());
    result.status = *s.status;
    detail::captured_to_utf8(result.output, options);
    detail::captured_to_utf8(result.error, options);
    return result;
}

}  // namespace u8port
}  // namespace wexal
