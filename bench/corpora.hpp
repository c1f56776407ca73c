// Deterministic text corpora for the conversion benchmarks and the equality
// tests: the same bytes on every run and every platform, generated in code
// from a fixed seed.
#ifndef WEXAL_BENCH_CORPORA_HPP
#define WEXAL_BENCH_CORPORA_HPP

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <wexal/u8port/config.hpp>

namespace wexal {
namespace bench {

using wide_string = std::basic_string<u8port::wide_char>;

// A small, fast generator with the same sequence everywhere (the standard
// distributions differ between libraries).
class prng {
public:
    explicit prng(std::uint64_t seed) noexcept : state_(seed) {}
    std::uint64_t next() noexcept {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15u);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return z ^ (z >> 31);
    }
    // Uniform in [0, n); n > 0.
    std::uint32_t below(std::uint32_t n) noexcept { return static_cast<std::uint32_t>((next() >> 32) % n); }
    // True with probability percent / 100.
    bool chance(std::uint32_t percent) noexcept { return below(100) < percent; }

private:
    std::uint64_t state_;
};

enum class corpus_kind {
    ascii,    // English-like prose, ASCII only
    french,   // French-like prose, about 5% two-byte letters
    cjk,      // CJK ideographs and punctuation, mostly three-byte
    emoji,    // chat lines, about 20% four-byte emoji among mixed scripts
    invalid,  // the French text with about 1% random bytes 0x80..0xFF inserted
    names,    // short file names, 10 to 60 bytes, mixed scripts
};

constexpr corpus_kind all_corpus_kinds[] = {corpus_kind::ascii, corpus_kind::french,  corpus_kind::cjk,
                                            corpus_kind::emoji, corpus_kind::invalid, corpus_kind::names};

const char* corpus_name(corpus_kind kind) noexcept;

// About size bytes of UTF-8 (never more), cut at a character boundary except
// for the invalid corpus. The names corpus is its names joined by '\n'.
std::string make_corpus(corpus_kind kind, std::size_t size);

// File names of 10 to 60 bytes each, about total_bytes in all.
std::vector<std::string> make_file_names(std::size_t total_bytes);

// The UTF-16 counterpart of a corpus: its conversion, except for the invalid
// corpus, where about 1% unpaired surrogates are inserted into the French
// text instead (a UTF-16 text has no stray bytes).
wide_string make_utf16_corpus(corpus_kind kind, std::size_t utf8_size);

// Converts well-formed or malformed UTF-8 the plain way (U+FFFD for each
// rejected sequence).
wide_string to_utf16(const std::string& utf8);
std::string to_utf8(const wide_string& utf16);

}  // namespace bench
}  // namespace wexal

#endif  // WEXAL_BENCH_CORPORA_HPP
