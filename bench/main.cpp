// The benchmark program: every group in one binary, so that all rows of a
// table come from the same run.
#include <benchmark/benchmark.h>

#include <utility>

#include "registry.hpp"

namespace wexal {
namespace bench {

void add_benchmark(const std::string& name, std::function<void(benchmark::State&)> run) {
    benchmark::RegisterBenchmark(name.c_str(), [run = std::move(run)](benchmark::State& state) { run(state); });
}

}  // namespace bench
}  // namespace wexal

int main(int argc, char** argv) {
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
