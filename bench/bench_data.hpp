// The inputs every benchmark shares: each corpus in both encodings, built
// once on first use, and the helpers that cut them to a size.
#ifndef WEXAL_BENCH_BENCH_DATA_HPP
#define WEXAL_BENCH_BENCH_DATA_HPP

#include <cstddef>
#include <string>
#include <vector>

#include "corpora.hpp"

namespace wexal {
namespace bench {

constexpr std::size_t corpus_size = 1024 * 1024;

struct corpus_text {
    std::string utf8;   // the UTF-8 corpus
    wide_string utf16;  // its UTF-16 counterpart (see make_utf16_corpus)
    // The names corpus as the wrapper calls meet it: one string per call.
    // Other corpora leave these empty.
    std::vector<std::string> names;
    std::vector<wide_string> wide_names;
};

const corpus_text& text_of(corpus_kind kind);

// Bytes of input: UTF-8 bytes, or two per UTF-16 unit.
inline std::size_t input_bytes(const std::string& s) { return s.size(); }
inline std::size_t input_bytes(const wide_string& s) { return s.size() * sizeof(s[0]); }

// The first size bytes of s, cut at the start of a character.
std::string utf8_prefix(const std::string& s, std::size_t size);
// The first size / 2 units of s, never ending on a lead surrogate.
wide_string utf16_prefix(const wide_string& s, std::size_t size);

}  // namespace bench
}  // namespace wexal

#endif  // WEXAL_BENCH_BENCH_DATA_HPP
