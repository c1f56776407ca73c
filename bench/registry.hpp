// Registration of the benchmark groups; main() calls each register function
// once, before the runner starts.
#ifndef WEXAL_BENCH_REGISTRY_HPP
#define WEXAL_BENCH_REGISTRY_HPP

#include <benchmark/benchmark.h>

#include <functional>
#include <string>

namespace wexal {
namespace bench {

void add_benchmark(const std::string& name, std::function<void(benchmark::State&)> run);

void register_conversion_benchmarks();
void register_console_benchmarks();
void register_wrapper_benchmarks();
void register_string_benchmarks();

}  // namespace bench
}  // namespace wexal

#endif  // WEXAL_BENCH_REGISTRY_HPP
