// Counted conversion and whole strings on every corpus:
// - "<direction>/<corpus>/transcode": transcode into a buffer, beside the
//   transcode_into row of the same name;
// - "strings/<direction>/<corpus>/<row>": widen or narrow into a new string,
//   against alloc_transcode_into (a string of the result's size, known in
//   advance, and transcode_into into it), and the lossless forms.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <wexal/u8port/convert.hpp>
#include <wexal/u8port/transcode.hpp>

#include "bench_data.hpp"
#include "registry.hpp"

namespace wexal {
namespace bench {
namespace {

using u8port::wide_char;

// The inputs of one row, one call each: the whole text, or each file name.
template <typename In>
std::vector<std::basic_string<In>> inputs_of(const std::basic_string<In>& whole,
                                             const std::vector<std::basic_string<In>>& names) {
    return names.empty() ? std::vector<std::basic_string<In>>{whole} : names;
}

template <typename In, typename Call>
void run_each(benchmark::State& state, const std::vector<std::basic_string<In>>& inputs, Call call) {
    std::size_t bytes = 0;
    for (const auto& in : inputs) bytes += input_bytes(in);
    for (auto _ : state) {
        for (std::size_t i = 0; i < inputs.size(); ++i) call(i, inputs[i]);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes));
}

// The rows of one direction; Convert(input) and Lossless(input) make the string.
template <typename Out, typename In, typename Pieces, typename Convert, typename Lossless>
void register_direction(const std::string& direction, corpus_kind kind,
                        std::vector<std::basic_string<In>> (*inputs)(corpus_kind), const char* convert_name,
                        const char* piece_name, Convert convert, Lossless lossless) {
    const std::string corpus = std::string("/") + corpus_name(kind) + "/";
    add_benchmark(direction + corpus + "transcode", [=](benchmark::State& state) {
        const auto in = inputs(kind);
        std::size_t longest = 0;
        for (const auto& s : in) longest = std::max(longest, s.size());
        std::vector<Out> out(longest * 3 + 1);
        run_each(state, in, [&](std::size_t, const std::basic_string<In>& s) {
            benchmark::DoNotOptimize(u8port::transcode(out.data(), out.size() - 1, s.data(), s.data() + s.size()));
        });
    });
    add_benchmark("strings/" + direction + corpus + "alloc_transcode_into", [=](benchmark::State& state) {
        const auto in = inputs(kind);
        std::vector<std::size_t> lengths;
        for (const auto& s : in) lengths.push_back(u8port::transcoded_length<Out>(s.data(), s.data() + s.size()));
        run_each(state, in, [&](std::size_t i, const std::basic_string<In>& s) {
            std::basic_string<Out> result(lengths[i], Out(0));
            benchmark::DoNotOptimize(u8port::transcode_into(&result[0], lengths[i] + 1, s.data(), s.data() + s.size()));
            benchmark::DoNotOptimize(result.data());
        });
    });
    add_benchmark("strings/" + direction + corpus + convert_name, [=](benchmark::State& state) {
        run_each(state, inputs(kind), [&](std::size_t, const std::basic_string<In>& s) {
            const std::basic_string<Out> result = convert(s);
            benchmark::DoNotOptimize(result.data());
        });
    });
    // Text in 64 KiB pieces into a string that keeps its room from one text to
    // the next, as a reader of a pipe would use it.
    add_benchmark("strings/" + direction + corpus + piece_name, [=](benchmark::State& state) {
        std::basic_string<Out> out;
        run_each(state, inputs(kind), [&](std::size_t, const std::basic_string<In>& s) {
            Pieces converter;
            out.clear();
            constexpr std::size_t piece = 65536 / sizeof(In);
            for (std::size_t at = 0; at < s.size(); at += piece) {
                converter.append(std::basic_string_view<In>(s).substr(at, piece), out);
            }
            converter.finish(out);
            benchmark::DoNotOptimize(out.data());
        });
    });
    add_benchmark("strings/" + direction + corpus + convert_name + "_lossless", [=](benchmark::State& state) {
        run_each(state, inputs(kind), [&](std::size_t, const std::basic_string<In>& s) {
            const std::basic_string<Out> result = lossless(s);
            benchmark::DoNotOptimize(result.data());
        });
    });
}

std::vector<std::string> utf8_inputs(corpus_kind kind) { return inputs_of(text_of(kind).utf8, text_of(kind).names); }
std::vector<wide_string> utf16_inputs(corpus_kind kind) {
    return inputs_of(text_of(kind).utf16, text_of(kind).wide_names);
}

}  // namespace

void register_string_benchmarks() {
    for (const corpus_kind kind : all_corpus_kinds) {
        register_direction<wide_char, char, u8port::widener>(
            "u8to16", kind, utf8_inputs, "widen", "widener", [](const std::string& s) { return u8port::widen(s); },
            [](const std::string& s) { return u8port::widen(s, u8port::lossless); });
    }
    for (const corpus_kind kind : all_corpus_kinds) {
        register_direction<char, wide_char, u8port::narrower>(
            "u16to8", kind, utf16_inputs, "narrow", "narrower", [](const wide_string& s) { return u8port::narrow(s); },
            [](const wide_string& s) { return u8port::narrow(s, u8port::lossless); });
    }
}

}  // namespace bench
}  // namespace wexal
