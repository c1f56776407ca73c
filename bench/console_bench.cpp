// The console buffers against the in-memory console of the fake platform:
// output of each corpus written in 4 KiB chunks and flushed (the console
// keeps its screen, not a record of each write), input served
// from 1024-unit console reads. Names: "console/out/<corpus>" (MB/s of UTF-8
// written) and "console/in/<corpus>" (MB/s of UTF-16 read); the same with
// "out_old_loop" and "in_old_loop" for buffers that convert one code point
// at a time, as the library's did before, so that the gain shows in one run.
// "console/out_lines_80" writes 1 MiB as lines of 80 bytes through an ostream
// (one << per line) and "console/out_write_1MiB" one 1 MiB write; both count
// the console writes per MiB ("writes").
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include <wexal/u8port/utf.hpp>

#include "bench_data.hpp"
#include "registry.hpp"
#include "support/fake_console.hpp"
#include "support/fake_platform.hpp"
#include "windows/console_buffers.hpp"
#include "windows/win32.hpp"

namespace wexal {
namespace bench {
namespace {

constexpr std::size_t chunk_size = 4096;
constexpr std::size_t read_size = 1024;

namespace platform = u8port::detail::win32;
using u8port::code_point;
using u8port::wide_char;

// The console output buffer's former conversion: decode and encode one code
// point at a time, an incomplete sequence at the end carried over.
class old_loop_output : public std::streambuf {
public:
    explicit old_loop_output(void* handle) : handle_(handle) {}

protected:
    int_type overflow(int_type c) override {
        const char* const begin = pbase() == nullptr ? buffer_ : pbase();
        const char* const end = pbase() == nullptr ? buffer_ : pptr();
        const char* cursor = begin;
        const char* consumed = begin;
        wide_char* out = wbuffer_;
        for (;;) {
            code_point cp = u8port::utf8_codec::decode(cursor, end);
            if (cp == u8port::truncated_input) break;
            if (cp == u8port::invalid_input) cp = u8port::replacement_code_point;
            out = u8port::utf16_codec::encode(cp, out);
            consumed = cursor;
        }
        platform::dword written = 0;
        if (platform::WriteConsoleW(handle_, wbuffer_, static_cast<platform::dword>(out - wbuffer_), &written,
                                    nullptr) == 0) {
            return traits_type::eof();
        }
        const std::ptrdiff_t carried = end - consumed;
        std::memmove(buffer_, consumed, static_cast<std::size_t>(carried));
        setp(buffer_, buffer_ + sizeof buffer_);
        pbump(static_cast<int>(carried));
        if (!traits_type::eq_int_type(c, traits_type::eof())) sputc(traits_type::to_char_type(c));
        return 0;
    }
    int sync() override { return overflow(traits_type::eof()) == traits_type::eof() ? -1 : 0; }

private:
    char buffer_[1024];
    wide_char wbuffer_[2048];
    void* handle_;
};

// The console input buffer's former conversion, one code point at a time
// (without put-back, Ctrl+Z and CR LF handling).
class old_loop_input : public std::streambuf {
public:
    explicit old_loop_input(void* handle) : handle_(handle) {}

protected:
    int_type underflow() override {
        for (;;) {
            platform::dword read = 0;
            if (platform::ReadConsoleW(handle_, wbuffer_ + wpending_, static_cast<platform::dword>(1024 - wpending_),
                                       &read, nullptr) == 0 ||
                read == 0) {
                return traits_type::eof();
            }
            const wide_char* cursor = wbuffer_;
            const wide_char* const end = wbuffer_ + wpending_ + read;
            char* out = buffer_;
            wpending_ = wpending_ + read;
            for (;;) {
                code_point cp = u8port::utf16_codec::decode(cursor, end);
                if (cp == u8port::truncated_input) break;
                if (cp == u8port::invalid_input) cp = u8port::replacement_code_point;
                out = u8port::utf8_codec::encode(cp, out);
                wpending_ = static_cast<std::size_t>(end - cursor);
            }
            if (wpending_ != 0) wbuffer_[0] = end[-1];
            if (out == buffer_) continue;
            setg(buffer_, buffer_, out);
            return traits_type::to_int_type(buffer_[0]);
        }
    }

private:
    char buffer_[4096];
    wide_char wbuffer_[1024];
    void* handle_;
    std::size_t wpending_ = 0;
};

template <typename Buffer>
void console_output(benchmark::State& state, corpus_kind kind) {
    const std::string& text = text_of(kind).utf8;
    test::reset_fake_platform();
    test::fake_console().record_writes = false;
    test::fake_console().keep_screen = false;
    Buffer buffer(test::fake_handle(1));
    for (auto _ : state) {
        for (std::size_t at = 0; at < text.size(); at += chunk_size) {
            buffer.sputn(text.data() + at, static_cast<std::streamsize>(std::min(chunk_size, text.size() - at)));
        }
        buffer.pubsync();
        // The console keeps what it showed; forget it between rounds.
        benchmark::DoNotOptimize(test::fake_console().screen.data());
        test::fake_console().writes.clear();
        test::fake_console().screen.clear();
        test::fake_call_log().clear();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
}

template <typename Buffer>
void console_input(benchmark::State& state, corpus_kind kind) {
    const wide_string& units = text_of(kind).utf16;
    std::vector<char> sink(64 * 1024);
    test::reset_fake_platform();
    std::size_t delivered = 0;
    for (auto _ : state) {
        state.PauseTiming();
        test::fake_console().reads.clear();
        test::fake_console().read_capacities.clear();
        test::fake_console().reads_made.clear();
        test::fake_call_log().clear();
        for (std::size_t at = 0; at < units.size(); at += read_size) {
            const std::size_t n = std::min(read_size, units.size() - at);
            test::fake_console().reads.push_back(
                test::console_read{std::vector<u8port::wide_char>(units.begin() + static_cast<std::ptrdiff_t>(at),
                                                                  units.begin() + static_cast<std::ptrdiff_t>(at + n)),
                                   false, 0});
        }
        state.ResumeTiming();
        Buffer buffer(test::fake_handle(2));
        std::streamsize n = 0;
        while ((n = buffer.sgetn(sink.data(), static_cast<std::streamsize>(sink.size()))) > 0) {
            delivered += static_cast<std::size_t>(n);
        }
        benchmark::DoNotOptimize(sink.data());
    }
    benchmark::DoNotOptimize(delivered);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(input_bytes(units)));
}

constexpr std::size_t mebibyte = 1024 * 1024;

// ASCII lines of 80 bytes, the newline included, 1 MiB in all.
std::string lines_of_80() {
    std::string line(79, 'x');
    line += '\n';
    std::string text;
    while (text.size() < mebibyte) text += line;
    return text;
}

void console_lines(benchmark::State& state, bool as_lines) {
    static const std::string text = lines_of_80();
    test::reset_fake_platform();
    test::fake_console().record_writes = false;
    u8port::detail::console_output_buffer buffer(test::fake_handle(1));
    std::ostream out(&buffer);
    std::size_t writes = 0;
    for (auto _ : state) {
        if (as_lines) {
            for (std::size_t at = 0; at < text.size(); at += 80) out.write(text.data() + at, 80);
        } else {
            out.write(text.data(), static_cast<std::streamsize>(text.size()));
        }
        out.flush();
        benchmark::DoNotOptimize(test::fake_console().screen.data());
        writes += test::fake_call_log().size();
        test::fake_console().screen.clear();
        test::fake_call_log().clear();
    }
    state.counters["writes"] = static_cast<double>(writes) / static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
}

}  // namespace

void register_console_benchmarks() {
    add_benchmark("console/out_lines_80", [](benchmark::State& state) { console_lines(state, true); });
    add_benchmark("console/out_write_1MiB", [](benchmark::State& state) { console_lines(state, false); });
    for (const corpus_kind kind : all_corpus_kinds) {
        add_benchmark(std::string("console/out/") + corpus_name(kind), [kind](benchmark::State& state) {
            console_output<u8port::detail::console_output_buffer>(state, kind);
        });
        add_benchmark(std::string("console/out_old_loop/") + corpus_name(kind),
                      [kind](benchmark::State& state) { console_output<old_loop_output>(state, kind); });
    }
    for (const corpus_kind kind : all_corpus_kinds) {
        add_benchmark(std::string("console/in/") + corpus_name(kind), [kind](benchmark::State& state) {
            console_input<u8port::detail::console_input_buffer>(state, kind);
        });
        add_benchmark(std::string("console/in_old_loop/") + corpus_name(kind),
                      [kind](benchmark::State& state) { console_input<old_loop_input>(state, kind); });
    }
}

}  // namespace bench
}  // namespace wexal
