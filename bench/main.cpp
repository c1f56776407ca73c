// The benchmark program: every group in one binary, so that all rows of a
// table come from the same run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "registry.hpp"
#include "transcode/kernels.hpp"

namespace wexal {
namespace bench {

void add_benchmark(const std::string& name, std::function<void(benchmark::State&)> run) {
    benchmark::RegisterBenchmark(name.c_str(), [run = std::move(run)](benchmark::State& state) { run(state); });
}

}  // namespace bench
}  // namespace wexal

int main(int argc, char** argv) {
    // --wexal_kernel=NAME: every row of the library with that kernel as the
    // best (the kernel_* rows still force their own).
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--wexal_kernel=", 15) != 0) continue;
        namespace d = wexal::u8port::detail;
        bool found = false;
        for (const d::transcode_kernel kernel : d::all_transcode_kernels) {
            if (std::strcmp(argv[i] + 15, d::name_of(kernel)) == 0) found = d::use_transcode_kernel(kernel);
        }
        if (!found) {
            std::fprintf(stderr, "%s: no such kernel on this processor\n", argv[i]);
            return 1;
        }
        benchmark::AddCustomContext("wexal_kernel", argv[i] + 15);
        for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
        --argc;
        break;
    }
    wexal::bench::register_conversion_benchmarks();
    wexal::bench::register_console_benchmarks();
    wexal::bench::register_wrapper_benchmarks();
    wexal::bench::register_string_benchmarks();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
