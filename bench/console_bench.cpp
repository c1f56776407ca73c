// The console buffers against the in-memory console of the fake platform:
// output of each corpus written in 4 KiB chunks and flushed, input served
// from 1024-unit console reads. Names: "console/out/<corpus>" (MB/s of UTF-8
// written) and "console/in/<corpus>" (MB/s of UTF-16 read).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "bench_data.hpp"
#include "console_buffers.hpp"
#include "registry.hpp"
#include "support/fake_console.hpp"
#include "support/fake_platform.hpp"

namespace wexal {
namespace bench {
namespace {

constexpr std::size_t chunk_size = 4096;
constexpr std::size_t read_size = 1024;

void console_output(benchmark::State& state, corpus_kind kind) {
    const std::string& text = text_of(kind).utf8;
    test::reset_fake_platform();
    u8port::detail::console_output_buffer buffer(test::fake_handle(1));
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

void console_input(benchmark::State& state, corpus_kind kind) {
    const wide_string& units = text_of(kind).utf16;
    std::vector<char> sink(64 * 1024);
    test::reset_fake_platform();
    std::size_t delivered = 0;
    for (auto _ : state) {
        state.PauseTiming();
        test::fake_console().reads.clear();
        test::fake_console().read_capacities.clear();
        test::fake_call_log().clear();
        for (std::size_t at = 0; at < units.size(); at += read_size) {
            const std::size_t n = std::min(read_size, units.size() - at);
            test::fake_console().reads.push_back(
                test::console_read{std::vector<u8port::wide_char>(units.begin() + static_cast<std::ptrdiff_t>(at),
                                                                  units.begin() + static_cast<std::ptrdiff_t>(at + n)),
                                   false, 0});
        }
        state.ResumeTiming();
        u8port::detail::console_input_buffer buffer(test::fake_handle(2));
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

}  // namespace

void register_console_benchmarks() {
    for (const corpus_kind kind : all_corpus_kinds) {
        add_benchmark(std::string("console/out/") + corpus_name(kind),
                      [kind](benchmark::State& state) { console_output(state, kind); });
    }
    for (const corpus_kind kind : all_corpus_kinds) {
        add_benchmark(std::string("console/in/") + corpus_name(kind),
                      [kind](benchmark::State& state) { console_input(state, kind); });
    }
}

}  // namespace bench
}  // namespace wexal
