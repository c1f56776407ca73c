// What the library adds to a platform call: fopen of a 40-byte UTF-8 name and
// getenv of a short name through the fake platform, against handing the fake
// the finished UTF-16 strings directly, the conversion alone, and the C
// library's own fopen of a missing file of the same length. The counter "allocs" is the number of heap
// allocations the library makes per call (the fake's own bookkeeping is not
// counted). Names: "call/<what>/<row>", in nanoseconds per call.
#include <benchmark/benchmark.h>
#include <unicode/ustring.h>

#include <cstdio>
#include <string>

#if defined(WEXAL_BENCH_HAS_SIMDUTF)
#include <simdutf.h>
#endif

#include <wexal/u8port/cstdio.hpp>
#include <wexal/u8port/cstdlib.hpp>
#include <wexal/u8port/stackstring.hpp>

#include "bench_data.hpp"
#include "registry.hpp"
#include "support/counting_allocator.hpp"
#include "support/fake_environment.hpp"
#include "support/fake_platform.hpp"
#include "support/transcode_reference.hpp"
#include "windows/win32.hpp"

namespace wexal {
namespace bench {
namespace {

// 40 bytes: "photos/été-写真-" and the like, padded with ASCII.
std::string name_of_40_bytes() {
    std::string name = "photos/\xC3\xA9t\xC3\xA9-\xE5\x86\x99\xE7\x9C\x9F-\xF0\x9F\x98\x80-";
    while (name.size() < 36) name += 'a';
    name += ".jpg";
    return name;
}

// The fake keeps a record of every call; keep it small.
void forget_calls(std::size_t round) {
    if (round % 1024 == 0) {
        test::fake_files().calls.clear();
        test::fake_environment().calls.clear();
        test::fake_call_log().clear();
    }
}

// Runs call() per iteration and reports the allocations it made per call.
// The fake platform must be set up before: the run starts from its state.
template <typename Call>
void run_counted(benchmark::State& state, Call call) {
    std::size_t round = 0;
    test::allocation_scope scope;
    for (auto _ : state) {
        call();
        forget_calls(++round);
    }
    state.counters["allocs"] = benchmark::Counter(static_cast<double>(scope.allocations()),
                                                  benchmark::Counter::kAvgIterations);
    test::reset_fake_platform();
}

}  // namespace

// A variable with a short name and a short value, in the fake environment.
const char* const variable_name = "WEXAL_DATA";
const char* const variable_value =
    "C:\\Users\\ren\xC3\xA9"
    "e\\data";  // C:\Users\renée\data

void set_up_environment() {
    test::reset_fake_platform();
    test::fake_environment().variables[to_utf16(variable_name)] = to_utf16(variable_value);
}

void register_wrapper_benchmarks() {
    add_benchmark("call/getenv/library", [](benchmark::State& state) {
        set_up_environment();
        run_counted(state, [] { benchmark::DoNotOptimize(u8port::getenv(variable_name)); });
    });
    add_benchmark("call/getenv/fake_direct", [](benchmark::State& state) {
        set_up_environment();
        const u8port::wide_short_stackstring name(variable_name);
        run_counted(state, [&] {
            u8port::wide_char value[256];
            benchmark::DoNotOptimize(u8port::detail::win32::GetEnvironmentVariableW(name.get(), value, 256));
            benchmark::ClobberMemory();
        });
    });
    add_benchmark("call/fopen/library", [](benchmark::State& state) {
        const std::string name = name_of_40_bytes();
        test::reset_fake_platform();
        run_counted(state, [&] { benchmark::DoNotOptimize(u8port::fopen(name.c_str(), "rb")); });
    });
    add_benchmark("call/fopen/fake_direct", [](benchmark::State& state) {
        const u8port::wide_stackstring name(name_of_40_bytes().c_str());
        const u8port::wide_short_stackstring mode("rb");
        test::reset_fake_platform();
        run_counted(state, [&] { benchmark::DoNotOptimize(u8port::detail::win32::_wfopen(name.get(), mode.get())); });
    });
    add_benchmark("call/convert40/wide_stackstring", [](benchmark::State& state) {
        const std::string name = name_of_40_bytes();
        run_counted(state, [&] {
            const u8port::wide_stackstring s(name.c_str());
            benchmark::DoNotOptimize(s.get()[0]);
        });
    });
    add_benchmark("call/convert40/transcode_into", [](benchmark::State& state) {
        const std::string name = name_of_40_bytes();
        run_counted(state, [&] {
            u8port::wide_char out[256];
            benchmark::DoNotOptimize(u8port::transcode_into(out, 256, name.data(), name.data() + name.size()));
            benchmark::ClobberMemory();
        });
    });
    add_benchmark("call/convert40/reference", [](benchmark::State& state) {
        const std::string name = name_of_40_bytes();
        run_counted(state, [&] {
            u8port::wide_char out[256];
            benchmark::DoNotOptimize(
                u8port::detail::transcode_reference(out, 256, name.data(), name.data() + name.size()));
            benchmark::ClobberMemory();
        });
    });
    add_benchmark("call/convert40/transcode_into_utf8", [](benchmark::State& state) {
        const wide_string name = to_utf16(name_of_40_bytes());
        run_counted(state, [&] {
            char out[256];
            benchmark::DoNotOptimize(u8port::transcode_into(out, 256, name.data(), name.data() + name.size()));
            benchmark::ClobberMemory();
        });
    });
    add_benchmark("call/convert40/reference_utf8", [](benchmark::State& state) {
        const wide_string name = to_utf16(name_of_40_bytes());
        run_counted(state, [&] {
            char out[256];
            benchmark::DoNotOptimize(
                u8port::detail::transcode_reference(out, 256, name.data(), name.data() + name.size()));
            benchmark::ClobberMemory();
        });
    });
    // ICU on the same name, both ways, into arrays the size of a stack string's.
    add_benchmark("call/convert40/icu_to_utf16", [](benchmark::State& state) {
        const std::string name = name_of_40_bytes();
        run_counted(state, [&] {
            UChar out[256];
            UErrorCode error = U_ZERO_ERROR;
            std::int32_t length = 0;
            u_strFromUTF8WithSub(out, 256, &length, name.data(), static_cast<std::int32_t>(name.size()), 0xFFFD,
                                 nullptr, &error);
            benchmark::DoNotOptimize(length);
            benchmark::ClobberMemory();
        });
    });
    add_benchmark("call/convert40/icu_to_utf8", [](benchmark::State& state) {
        const wide_string name = to_utf16(name_of_40_bytes());
        run_counted(state, [&] {
            char out[256];
            UErrorCode error = U_ZERO_ERROR;
            std::int32_t length = 0;
            u_strToUTF8WithSub(out, 256, &length, name.data(), static_cast<std::int32_t>(name.size()), 0xFFFD, nullptr,
                               &error);
            benchmark::DoNotOptimize(length);
            benchmark::ClobberMemory();
        });
    });
#if defined(WEXAL_BENCH_HAS_SIMDUTF)
    // The rival's best kernel on the same name (it only validates).
    add_benchmark("call/convert40/simdutf_to_utf16", [](benchmark::State& state) {
        const std::string name = name_of_40_bytes();
        run_counted(state, [&] {
            char16_t out[256];
            benchmark::DoNotOptimize(simdutf::convert_utf8_to_utf16le(name.data(), name.size(), out));
            benchmark::ClobberMemory();
        });
    });
    add_benchmark("call/convert40/simdutf_to_utf8", [](benchmark::State& state) {
        const wide_string name = to_utf16(name_of_40_bytes());
        run_counted(state, [&] {
            char out[256];
            benchmark::DoNotOptimize(
                simdutf::convert_utf16le_to_utf8(reinterpret_cast<const char16_t*>(name.data()), name.size(), out));
            benchmark::ClobberMemory();
        });
    });
#endif
    add_benchmark("call/convert40/narrow_stackstring", [](benchmark::State& state) {
        const wide_string name = to_utf16(name_of_40_bytes());
        run_counted(state, [&] {
            const u8port::narrow_stackstring s(name.c_str());
            benchmark::DoNotOptimize(s.get()[0]);
        });
    });
    // The platform's own work for the same call: a path walk and a system call.
    add_benchmark("call/fopen/libc_missing_file", [](benchmark::State& state) {
        const std::string name = "/nonexistent-wexal-bench/" + name_of_40_bytes().substr(25);
        run_counted(state, [&] { benchmark::DoNotOptimize(std::fopen(name.c_str(), "rb")); });
    });
}

}  // namespace bench
}  // namespace wexal
