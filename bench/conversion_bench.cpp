// Whole-text conversion, UTF-8 to UTF-16 and back, on every corpus: the
// library's transcode_into and stack strings, the plain reference loop, ICU,
// glibc iconv, and two bandwidth limits (widen or narrow every unit; memcpy
// of the UTF-16 bytes). Names: "<direction>/<corpus>/<row>".
#include <benchmark/benchmark.h>
#include <emmintrin.h>
#include <iconv.h>
#include <unicode/ustring.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <wexal/u8port/stackstring.hpp>
#include <wexal/u8port/transcode.hpp>
#include "support/transcode_reference.hpp"

#include "bench_data.hpp"
#include "registry.hpp"
#include "transcode/kernels.hpp"

#if defined(WEXAL_BENCH_HAS_SIMDUTF)
#include <simdutf.h>
#endif

namespace wexal {
namespace bench {
namespace {

using u8port::wide_char;
static_assert(std::is_same<UChar, wide_char>::value, "ICU's UChar is the 16-bit unit here");

const char* const u8to16 = "u8to16";
const char* const u16to8 = "u16to8";

// One conversion call per input: the whole text, or each file name.
template <typename In>
struct call_list {
    std::vector<const std::basic_string<In>*> inputs;
    std::size_t bytes = 0;
    std::size_t longest = 0;
};

template <typename In>
call_list<In> calls_for(const std::basic_string<In>& whole, const std::vector<std::basic_string<In>>& names) {
    call_list<In> list;
    if (names.empty()) {
        list.inputs.push_back(&whole);
    } else {
        for (const auto& name : names) list.inputs.push_back(&name);
    }
    for (const auto* input : list.inputs) {
        list.bytes += input_bytes(*input);
        if (input->size() > list.longest) list.longest = input->size();
    }
    return list;
}

call_list<char> utf8_calls(corpus_kind kind) {
    const corpus_text& text = text_of(kind);
    return calls_for(text.utf8, text.names);
}

call_list<wide_char> utf16_calls(corpus_kind kind) {
    const corpus_text& text = text_of(kind);
    return calls_for(text.utf16, text.wide_names);
}

// Runs convert(input, out, capacity) over every input of the list, per iteration.
template <typename Out, typename In, typename Convert>
void run_calls(benchmark::State& state, const call_list<In>& list, std::size_t max_width, Convert convert) {
    std::vector<Out> out(list.longest * max_width + 1);
    for (auto _ : state) {
        for (const auto* input : list.inputs) {
            benchmark::DoNotOptimize(convert(*input, out.data(), out.size()));
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(list.bytes));
}

// glibc iconv, replacing what it rejects by U+FFFD the way a caller must:
// on an invalid sequence it stops, so write the replacement and skip one unit.
class iconv_converter {
public:
    iconv_converter(const char* to, const char* from, std::string replacement, std::size_t unit)
        : cd_(iconv_open(to, from)), replacement_(std::move(replacement)), unit_(unit) {}
    ~iconv_converter() {
        if (ok()) iconv_close(cd_);
    }
    iconv_converter(const iconv_converter&) = delete;
    iconv_converter& operator=(const iconv_converter&) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    std::size_t convert(const void* in, std::size_t in_bytes, void* out, std::size_t out_bytes) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char* ip = const_cast<char*>(static_cast<const char*>(in));
        char* op = static_cast<char*>(out);
        std::size_t il = in_bytes;
        std::size_t ol = out_bytes;
        while (il > 0) {
            if (iconv(cd_, &ip, &il, &op, &ol) != static_cast<std::size_t>(-1)) break;
            if ((errno != EILSEQ && errno != EINVAL) || ol < replacement_.size()) break;
            std::memcpy(op, replacement_.data(), replacement_.size());
            op += replacement_.size();
            ol -= replacement_.size();
            const std::size_t skip = errno == EINVAL ? il : unit_;  // EINVAL: cut off at the end
            ip += skip;
            il -= skip;
        }
        return static_cast<std::size_t>(op - static_cast<char*>(out));
    }

private:
    iconv_t cd_;
    std::string replacement_;
    std::size_t unit_;
};

void register_u8to16(corpus_kind kind) {
    const std::string prefix = std::string(u8to16) + "/" + corpus_name(kind) + "/";
    using input = std::string;

    add_benchmark(prefix + "transcode_into", [kind](benchmark::State& state) {
        run_calls<wide_char>(state, utf8_calls(kind), 2, [](const input& in, wide_char* out, std::size_t capacity) {
            return u8port::transcode_into(out, capacity, in.data(), in.data() + in.size());
        });
    });
    add_benchmark(prefix + "stackstring", [kind](benchmark::State& state) {
        run_calls<wide_char>(state, utf8_calls(kind), 2, [](const input& in, wide_char*, std::size_t) {
            const u8port::wide_stackstring s(in.data(), in.data() + in.size());
            return s.get()[0];
        });
    });
    add_benchmark(prefix + "reference", [kind](benchmark::State& state) {
        run_calls<wide_char>(state, utf8_calls(kind), 2, [](const input& in, wide_char* out, std::size_t capacity) {
            return u8port::detail::transcode_reference(out, capacity, in.data(), in.data() + in.size());
        });
    });
    add_benchmark(prefix + "icu", [kind](benchmark::State& state) {
        run_calls<wide_char>(state, utf8_calls(kind), 2, [](const input& in, wide_char* out, std::size_t capacity) {
            UErrorCode error = U_ZERO_ERROR;
            std::int32_t length = 0;
            u_strFromUTF8WithSub(out, static_cast<std::int32_t>(capacity), &length, in.data(),
                                 static_cast<std::int32_t>(in.size()), 0xFFFD, nullptr, &error);
            return length;
        });
    });
    add_benchmark(prefix + "iconv", [kind](benchmark::State& state) {
        iconv_converter converter("UTF-16LE", "UTF-8", std::string("\xFD\xFF", 2), 1);
        if (!converter.ok()) {
            state.SkipWithError("iconv_open failed");
            return;
        }
        run_calls<wide_char>(state, utf8_calls(kind), 2, [&](const input& in, wide_char* out, std::size_t capacity) {
            return converter.convert(in.data(), in.size(), out, capacity * sizeof(wide_char));
        });
    });
    // Every byte to 16 bits, 16 at a time: what moving the data costs.
    add_benchmark(prefix + "widen_limit", [kind](benchmark::State& state) {
        run_calls<wide_char>(state, utf8_calls(kind), 2, [](const input& in, wide_char* out, std::size_t) {
            const __m128i zero = _mm_setzero_si128();
            std::size_t i = 0;
            for (; i + 16 <= in.size(); i += 16) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in.data() + i));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(v, zero));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpackhi_epi8(v, zero));
            }
            for (; i < in.size(); ++i) out[i] = static_cast<unsigned char>(in[i]);
            return out[0];
        });
    });
    // Copying the finished UTF-16 text; throughput counted in UTF-8 input bytes.
    add_benchmark(prefix + "memcpy_limit", [kind](benchmark::State& state) {
        const corpus_text& text = text_of(kind);
        const call_list<char> list = utf8_calls(kind);
        const wide_string& units = text.utf16;
        std::vector<wide_char> out(units.size() + 1);
        for (auto _ : state) {
            std::memcpy(out.data(), units.data(), units.size() * sizeof(wide_char));
            benchmark::ClobberMemory();
        }
        state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(list.bytes));
    });
}

void register_u16to8(corpus_kind kind) {
    const std::string prefix = std::string(u16to8) + "/" + corpus_name(kind) + "/";
    using input = wide_string;

    add_benchmark(prefix + "transcode_into", [kind](benchmark::State& state) {
        run_calls<char>(state, utf16_calls(kind), 3, [](const input& in, char* out, std::size_t capacity) {
            return u8port::transcode_into(out, capacity, in.data(), in.data() + in.size());
        });
    });
    add_benchmark(prefix + "stackstring", [kind](benchmark::State& state) {
        run_calls<char>(state, utf16_calls(kind), 3, [](const input& in, char*, std::size_t) {
            const u8port::narrow_stackstring s(in.data(), in.data() + in.size());
            return s.get()[0];
        });
    });
    add_benchmark(prefix + "reference", [kind](benchmark::State& state) {
        run_calls<char>(state, utf16_calls(kind), 3, [](const input& in, char* out, std::size_t capacity) {
            return u8port::detail::transcode_reference(out, capacity, in.data(), in.data() + in.size());
        });
    });
    add_benchmark(prefix + "icu", [kind](benchmark::State& state) {
        run_calls<char>(state, utf16_calls(kind), 3, [](const input& in, char* out, std::size_t capacity) {
            UErrorCode error = U_ZERO_ERROR;
            std::int32_t length = 0;
            u_strToUTF8WithSub(out, static_cast<std::int32_t>(capacity), &length, in.data(),
                               static_cast<std::int32_t>(in.size()), 0xFFFD, nullptr, &error);
            return length;
        });
    });
    add_benchmark(prefix + "iconv", [kind](benchmark::State& state) {
        iconv_converter converter("UTF-8", "UTF-16LE", "\xEF\xBF\xBD", 2);
        if (!converter.ok()) {
            state.SkipWithError("iconv_open failed");
            return;
        }
        run_calls<char>(state, utf16_calls(kind), 3, [&](const input& in, char* out, std::size_t capacity) {
            return converter.convert(in.data(), in.size() * sizeof(wide_char), out, capacity);
        });
    });
    // Every unit to a byte (saturating), 16 at a time.
    add_benchmark(prefix + "narrow_limit", [kind](benchmark::State& state) {
        run_calls<char>(state, utf16_calls(kind), 3, [](const input& in, char* out, std::size_t) {
            std::size_t i = 0;
            for (; i + 16 <= in.size(); i += 16) {
                const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in.data() + i));
                const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in.data() + i + 8));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(a, b));
            }
            for (; i < in.size(); ++i) out[i] = static_cast<char>(in[i]);
            return out[0];
        });
    });
    add_benchmark(prefix + "memcpy_limit", [kind](benchmark::State& state) {
        const wide_string& units = text_of(kind).utf16;
        const call_list<wide_char> list = utf16_calls(kind);
        std::vector<wide_char> out(units.size() + 1);
        for (auto _ : state) {
            std::memcpy(out.data(), units.data(), units.size() * sizeof(wide_char));
            benchmark::ClobberMemory();
        }
        state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(list.bytes));
    });
}

// transcode_into on the first 1 KiB, 64 KiB and 1 MiB of input: the cost per
// byte should not depend on the length. Names: "size/<direction>/<corpus>/<bytes>".
void register_sizes(corpus_kind kind) {
    for (const std::size_t size : {std::size_t(1024), std::size_t(64 * 1024), std::size_t(1024 * 1024)}) {
        const std::string suffix = std::string("/") + corpus_name(kind) + "/" + std::to_string(size);
        add_benchmark(std::string("size/") + u8to16 + suffix, [kind, size](benchmark::State& state) {
            const std::string in = utf8_prefix(text_of(kind).utf8, size);
            call_list<char> list;
            list.inputs.push_back(&in);
            list.bytes = in.size();
            list.longest = in.size();
            run_calls<wide_char>(state, list, 2, [](const std::string& s, wide_char* out, std::size_t capacity) {
                return u8port::transcode_into(out, capacity, s.data(), s.data() + s.size());
            });
        });
        add_benchmark(std::string("size/") + u16to8 + suffix, [kind, size](benchmark::State& state) {
            const wide_string in = utf16_prefix(text_of(kind).utf16, size);
            call_list<wide_char> list;
            list.inputs.push_back(&in);
            list.bytes = input_bytes(in);
            list.longest = in.size();
            run_calls<char>(state, list, 3, [](const wide_string& s, char* out, std::size_t capacity) {
                return u8port::transcode_into(out, capacity, s.data(), s.data() + s.size());
            });
        });
    }
}

}  // namespace

// Each kernel the processor has, forced, through transcode_into: rows
// "<direction>/<corpus>/kernel_<name>". A kernel it lacks has no rows.
void register_kernels(corpus_kind kind) {
    for (const u8port::detail::transcode_kernel kernel : u8port::detail::all_transcode_kernels) {
        if (!u8port::detail::processor_has(kernel)) continue;
        const std::string suffix = std::string("/") + corpus_name(kind) + "/kernel_" + u8port::detail::name_of(kernel);
        add_benchmark(u8to16 + suffix, [kind, kernel](benchmark::State& state) {
            const u8port::detail::transcode_kernel before = u8port::detail::active_transcode_kernel();
            u8port::detail::use_transcode_kernel(kernel);
            run_calls<wide_char>(state, utf8_calls(kind), 2,
                                 [](const std::string& in, wide_char* out, std::size_t capacity) {
                                     return u8port::transcode_into(out, capacity, in.data(), in.data() + in.size());
                                 });
            u8port::detail::use_transcode_kernel(before);
        });
        add_benchmark(u16to8 + suffix, [kind, kernel](benchmark::State& state) {
            const u8port::detail::transcode_kernel before = u8port::detail::active_transcode_kernel();
            u8port::detail::use_transcode_kernel(kernel);
            run_calls<char>(state, utf16_calls(kind), 3, [](const wide_string& in, char* out, std::size_t capacity) {
                return u8port::transcode_into(out, capacity, in.data(), in.data() + in.size());
            });
            u8port::detail::use_transcode_kernel(before);
        });
    }
}

#if defined(WEXAL_BENCH_HAS_SIMDUTF)
// The rival driven as a user must drive it to replace what is malformed (it
// only validates): validate up to the error it reports, convert the valid
// stretch, write U+FFFD, skip the bad sequence as the codec does, go on.
template <typename Out, typename In, typename Validate, typename Convert>
std::size_t rival_with_replacement(const In* p, const In* end, Out* out, Validate validate, Convert convert) {
    Out* const start = out;
    while (p != end) {
        const simdutf::result r = validate(p, static_cast<std::size_t>(end - p));
        out += convert(p, r.count, out);
        if (r.error == simdutf::error_code::SUCCESS) break;
        p += r.count;
        u8port::codec_for_t<In>::decode(p, end);
        out = u8port::codec_for_t<Out>::encode(u8port::replacement_code_point, out);
    }
    return static_cast<std::size_t>(out - start);
}

void register_simdutf_replacement(const simdutf::implementation* impl) {
    add_benchmark(std::string(u8to16) + "/invalid/simdutf_replace", [impl](benchmark::State& state) {
        run_calls<wide_char>(
            state, utf8_calls(corpus_kind::invalid), 2, [impl](const std::string& in, wide_char* out, std::size_t) {
                return rival_with_replacement(
                    in.data(), in.data() + in.size(), out,
                    [impl](const char* p, std::size_t n) { return impl->validate_utf8_with_errors(p, n); },
                    [impl](const char* p, std::size_t n, wide_char* o) {
                        return impl->convert_valid_utf8_to_utf16le(p, n, reinterpret_cast<char16_t*>(o));
                    });
            });
    });
    add_benchmark(std::string(u16to8) + "/invalid/simdutf_replace", [impl](benchmark::State& state) {
        run_calls<char>(
            state, utf16_calls(corpus_kind::invalid), 3, [impl](const wide_string& in, char* out, std::size_t) {
                return rival_with_replacement(
                    in.data(), in.data() + in.size(), out,
                    [impl](const wide_char* p, std::size_t n) {
                        return impl->validate_utf16le_with_errors(reinterpret_cast<const char16_t*>(p), n);
                    },
                    [impl](const wide_char* p, std::size_t n, char* o) {
                        return impl->convert_valid_utf16le_to_utf8(reinterpret_cast<const char16_t*>(p), n, o);
                    });
            });
    });
}

// The rival, on valid input only (it stops at a malformed sequence): its
// best kernel here and its AVX2 kernel, rows "<direction>/<corpus>/simdutf_<kernel>".
void register_simdutf(corpus_kind kind) {
    if (kind == corpus_kind::invalid) return;
    const std::pair<const char*, const simdutf::implementation*> kernels[] = {
        {"best", simdutf::get_active_implementation()}, {"avx2", simdutf::get_available_implementations()["haswell"]}};
    for (const auto& kernel : kernels) {
        const simdutf::implementation* const impl = kernel.second;
        if (impl == nullptr || !impl->supported_by_runtime_system()) continue;
        const std::string suffix = std::string("/") + corpus_name(kind) + "/simdutf_" + kernel.first;
        add_benchmark(u8to16 + suffix, [kind, impl](benchmark::State& state) {
            run_calls<wide_char>(
                state, utf8_calls(kind), 2, [impl](const std::string& in, wide_char* out, std::size_t) {
                    return impl->convert_utf8_to_utf16le(in.data(), in.size(), reinterpret_cast<char16_t*>(out));
                });
        });
        add_benchmark(u16to8 + suffix, [kind, impl](benchmark::State& state) {
            run_calls<char>(state, utf16_calls(kind), 3, [impl](const wide_string& in, char* out, std::size_t) {
                return impl->convert_utf16le_to_utf8(reinterpret_cast<const char16_t*>(in.data()), in.size(), out);
            });
        });
    }
}
#endif

void register_conversion_benchmarks() {
    for (const corpus_kind kind : all_corpus_kinds) register_u8to16(kind);
    for (const corpus_kind kind : all_corpus_kinds) register_u16to8(kind);
    for (const corpus_kind kind : all_corpus_kinds) register_kernels(kind);
#if defined(WEXAL_BENCH_HAS_SIMDUTF)
    for (const corpus_kind kind : all_corpus_kinds) register_simdutf(kind);
    register_simdutf_replacement(simdutf::get_active_implementation());
#endif
    for (const corpus_kind kind : all_corpus_kinds) {
        if (kind != corpus_kind::names) register_sizes(kind);
    }
}

}  // namespace bench
}  // namespace wexal
