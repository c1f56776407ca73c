// transcode_into takes shortcuts (blocks of ASCII, inline decoding of
// well-formed sequences); the plain loop of transcode_reference follows the
// codecs step by step. These tests hold the two to the same result for the
// same call: the same return value and the same buffer contents, unit for
// unit, including what lies after the terminator and past the capacity.
#include <wexal/u8port/convert.hpp>
#include <wexal/u8port/transcode.hpp>
#include "support/transcode_reference.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "corpora.hpp"
#include "transcode/kernels.hpp"

// Each test body runs once for every kernel, which it forces for its
// duration; a kernel the processor lacks is skipped, by name.
namespace {
namespace kernels = wexal::u8port::detail;
class TranscodeKernel : public testing::TestWithParam<kernels::transcode_kernel> {
protected:
    void SetUp() override {
        if (!kernels::use_transcode_kernel(GetParam()))
            GTEST_SKIP() << "the processor has no " << kernels::name_of(GetParam()) << ": kernel not tested";
    }
    void TearDown() override { kernels::use_transcode_kernel(before_); }

private:
    kernels::transcode_kernel before_ = kernels::active_transcode_kernel();
};
INSTANTIATE_TEST_SUITE_P(Every, TranscodeKernel, testing::ValuesIn(kernels::all_transcode_kernels),
                         [](const testing::TestParamInfo<kernels::transcode_kernel>& info) {
                             return std::string(kernels::name_of(info.param));
                         });
}  // namespace
#define TRANSCODE_TEST(name) TEST_P(TranscodeKernel, name)

namespace {

using wexal::bench::corpus_kind;
using wexal::bench::prng;
using wexal::u8port::transcode_into;
using wexal::u8port::wide_char;
using wexal::u8port::detail::transcode_reference;

using wide_string = std::basic_string<wide_char>;

// Units placed around the input and the output. After the input they would
// complete a sequence cut off at the end, so a converter that reads past end
// gives a different result; around the output they show any stray store.
template <typename Unit>
Unit after_input();
template <>
char after_input<char>() {
    return static_cast<char>(0x80);  // a continuation byte
}
template <>
wide_char after_input<wide_char>() {
    return wide_char(0xDC00);  // a trail surrogate
}
template <typename Unit>
Unit output_fill() {
    return static_cast<Unit>(0x5A);
}

constexpr std::size_t frame_size = 40;  // units around the input and the output

// A copy of the input whose first unit sits `alignment` units after a
// 16-byte boundary.
template <typename In>
class placed_input {
public:
    placed_input(const std::basic_string<In>& units, std::size_t alignment)
        : storage_(units.size() + 2 * frame_size + 16, after_input<In>()) {
        std::size_t start = frame_size;
        while (reinterpret_cast<std::uintptr_t>(storage_.data() + start) % 16 != 0) ++start;
        start += alignment;
        for (std::size_t i = 0; i < units.size(); ++i) storage_[start + i] = units[i];
        begin_ = storage_.data() + start;
        end_ = begin_ + units.size();
    }
    const In* begin() const { return begin_; }
    const In* end() const { return end_; }

private:
    std::vector<In> storage_;
    const In* begin_ = nullptr;
    const In* end_ = nullptr;
};

template <typename Unit>
std::string hex(const Unit* p, std::size_t n) {
    std::ostringstream s;
    s << std::hex;
    for (std::size_t i = 0; i < n; ++i) {
        s << (i == 0 ? "" : " ") << static_cast<unsigned>(static_cast<std::make_unsigned_t<Unit>>(p[i]));
    }
    return s.str();
}

// Runs both converters on the same call and compares everything they leave.
template <typename Out, typename In>
testing::AssertionResult same_as_reference(const In* begin, const In* end, std::size_t capacity,
                                           std::size_t out_alignment) {
    std::vector<Out> fast(frame_size + 16 + capacity + frame_size, output_fill<Out>());
    std::vector<Out> plain(fast);
    std::size_t start = frame_size;
    while (reinterpret_cast<std::uintptr_t>(fast.data() + start) % 16 != 0) ++start;
    start += out_alignment;

    Out* const fast_out = fast.data() + start;
    Out* const plain_out = plain.data() + start;
    Out* const fast_result = transcode_into(fast_out, capacity, begin, end);
    Out* const plain_result = transcode_reference(plain_out, capacity, begin, end);

    const auto describe = [&] {
        std::ostringstream s;
        s << "input (" << (end - begin) << " units): " << hex(begin, static_cast<std::size_t>(end - begin))
          << "; capacity " << capacity << ", output alignment " << out_alignment;
        return s.str();
    };
    if ((fast_result == nullptr) != (plain_result == nullptr) || (fast_result != nullptr && fast_result != fast_out)) {
        return testing::AssertionFailure()
               << "returned " << (fast_result == nullptr ? "null" : "a pointer") << ", the plain loop "
               << (plain_result == nullptr ? "null" : "out") << "; " << describe();
    }
    for (std::size_t i = 0; i < fast.size(); ++i) {
        if (fast[i] != plain[i]) {
            const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(i) - static_cast<std::ptrdiff_t>(start);
            const std::size_t from = i >= 4 ? i - 4 : 0;
            const std::size_t count = std::min<std::size_t>(12, fast.size() - from);
            return testing::AssertionFailure()
                   << "output differs at unit " << at << ": [" << hex(fast.data() + from, count)
                   << "] against the plain loop's [" << hex(plain.data() + from, count) << "]; " << describe();
        }
    }
    // The counted form with one unit less writes the same units without the
    // terminator and nothing else, and stops at a code point: the rest of the
    // input converts to what was missing.
    if (capacity == 0) return testing::AssertionSuccess();
    std::vector<Out> counted(fast.size(), output_fill<Out>());
    const auto r = wexal::u8port::transcode(counted.data() + start, capacity - 1, begin, end);
    const std::size_t written = static_cast<std::size_t>(r.out - (counted.data() + start));
    const std::size_t total = wexal::u8port::transcoded_length<Out>(begin, end);
    const bool same_units = written < capacity && fast_out[written] == Out(0) &&
                            std::equal(counted.begin(), counted.begin() + static_cast<std::ptrdiff_t>(start + written),
                                       fast.begin()) &&
                            std::equal(counted.begin() + static_cast<std::ptrdiff_t>(start + written + 1),
                                       counted.end(),
                                       fast.begin() + static_cast<std::ptrdiff_t>(start + written + 1)) &&
                            counted[start + written] == output_fill<Out>();
    if (!same_units || r.complete != (fast_result != nullptr) || (r.complete && r.in != end) ||
        wexal::u8port::transcoded_length<Out>(begin, r.in) != written ||
        wexal::u8port::transcoded_length<Out>(r.in, end) != total - written) {
        return testing::AssertionFailure()
               << "transcode wrote " << written << " units (complete " << r.complete << ", stopped at input unit "
               << (r.in - begin) << ", length " << total << ") unlike transcode_into; " << describe();
    }
    return testing::AssertionSuccess();
}

template <typename Out, typename In>
testing::AssertionResult same_as_reference(const std::basic_string<In>& input, std::size_t capacity,
                                           std::size_t in_alignment, std::size_t out_alignment) {
    const placed_input<In> placed(input, in_alignment);
    return same_as_reference<Out>(placed.begin(), placed.end(), capacity, out_alignment);
}

// The plain loop's conversion of the whole input.
template <typename Out, typename In>
std::basic_string<Out> reference_of(const std::basic_string<In>& input) {
    constexpr std::size_t max_width = sizeof(Out) == 1 ? 4 : 2;
    std::vector<Out> out(input.size() * max_width + 1);
    const auto r = wexal::u8port::detail::transcode_counted_reference(out.data(), out.size(), input.data(),
                                                                      input.data() + input.size());
    return std::basic_string<Out>(out.data(), r.out);
}

// The number of units the whole conversion needs, terminator included.
template <typename Out, typename In>
std::size_t needed_capacity(const std::basic_string<In>& input) {
    return reference_of<Out>(input).size() + 1;
}

// Random text of an exact length, in four flavours: mostly ASCII; well-formed
// with every width mixed; hostile (malformed sequences of every kind too);
// and runs of one width at a time, as in Cyrillic or CJK text, which the
// block paths take many characters at a time.
enum class flavour { mostly_ascii, well_formed, hostile, runs };
constexpr flavour all_flavours[] = {flavour::mostly_ascii, flavour::well_formed, flavour::hostile, flavour::runs};

// A code point of the given UTF-8 width (1 to 4), never a surrogate.
std::uint32_t code_point_of_width(prng& random, std::uint32_t width) {
    switch (width) {
    case 1:
        return random.below(0x80);
    case 2:
        return 0x80 + random.below(0x780);
    case 3: {
        const std::uint32_t c = 0x800 + random.below(0xF000);
        return c >= 0xD800 ? c + 0x800 : c;
    }
    default:
        return 0x10000 + random.below(0x100000);
    }
}

void append_utf8(std::string& s, std::uint32_t c) {
    char units[4];
    s.append(units, wexal::u8port::utf8_codec::encode(c, units));
}

std::string random_utf8(prng& random, std::size_t length, flavour kind) {
    std::string s;
    while (s.size() < length) {
        if (kind == flavour::runs) {
            const std::uint32_t width = 1 + random.below(4);
            for (std::uint32_t n = 1 + random.below(40); n != 0; --n)
                append_utf8(s, code_point_of_width(random, width));
            continue;
        }
        const std::uint32_t r = random.below(100);
        if (kind == flavour::mostly_ascii ? r < 90 : r < 30) {
            for (std::uint32_t n = 1 + random.below(kind == flavour::mostly_ascii ? 40 : 20); n != 0; --n) {
                s += static_cast<char>(0x20 + random.below(0x5F));
            }
            continue;
        }
        const std::uint32_t pick = kind == flavour::hostile ? random.below(14) : random.below(4);
        switch (pick) {
        case 0:
            append_utf8(s, 0x80 + random.below(0x780));
            break;
        case 1:
            append_utf8(s, 0x800 + random.below(0xD000));
            break;  // below the surrogates
        case 2:
            append_utf8(s, 0xE000 + random.below(0x2000));
            break;  // above them, up to U+FFFF
        case 3:
            append_utf8(s, 0x10000 + random.below(0x100000));
            break;  // four bytes
        case 4:
            s += static_cast<char>(0x80 + random.below(0x40));
            break;  // stray continuation
        case 5:
            s += static_cast<char>(0xC0 + random.below(2));
            break;  // C0, C1
        case 6:
            s += static_cast<char>(0xF5 + random.below(11));
            break;  // F5..FF
        case 7: {   // a sequence cut short by an ASCII byte or by another lead
            std::string full;
            append_utf8(full, 0x80 + random.below(0x10FF00));
            if (full.size() > 1) full.resize(1 + random.below(static_cast<std::uint32_t>(full.size() - 1)));
            s += full;
            s += random.chance(50) ? 'A' : '\xC3';
            break;
        }
        case 8:  // overlong three and four bytes
            s += '\xE0';
            s += static_cast<char>(0x80 + random.below(0x20));
            s += static_cast<char>(0x80 + random.below(0x40));
            break;
        case 9:
            s += '\xF0';
            s += static_cast<char>(0x80 + random.below(0x10));
            s += static_cast<char>(0x80 + random.below(0x40));
            s += static_cast<char>(0x80 + random.below(0x40));
            break;
        case 10:  // an encoded surrogate
            s += '\xED';
            s += static_cast<char>(0xA0 + random.below(0x20));
            s += static_cast<char>(0x80 + random.below(0x40));
            break;
        case 11:  // above U+10FFFF
            s += '\xF4';
            s += static_cast<char>(0x90 + random.below(0x30));
            s += static_cast<char>(0x80 + random.below(0x40));
            s += static_cast<char>(0x80 + random.below(0x40));
            break;
        case 12:  // a lone two-byte lead
            s += static_cast<char>(0xC2 + random.below(0x1E));
            break;
        default:  // any byte at all
            s += static_cast<char>(random.below(0x100));
            break;
        }
    }
    s.resize(length);  // may cut the last sequence short, which is wanted
    return s;
}

wide_string random_utf16(prng& random, std::size_t length, flavour kind) {
    wide_string s;
    while (s.size() < length) {
        if (kind == flavour::runs) {
            const std::uint32_t width = 1 + random.below(4);
            for (std::uint32_t n = 1 + random.below(40); n != 0; --n) {
                const std::uint32_t c = code_point_of_width(random, width);
                wide_char units[2];
                s.append(units, wexal::u8port::utf16_codec::encode(c, units));
            }
            continue;
        }
        const std::uint32_t r = random.below(100);
        if (kind == flavour::mostly_ascii ? r < 90 : r < 30) {
            for (std::uint32_t n = 1 + random.below(kind == flavour::mostly_ascii ? 40 : 20); n != 0; --n) {
                s += static_cast<wide_char>(random.below(0x80));
            }
            continue;
        }
        const std::uint32_t pick = kind == flavour::hostile ? random.below(8) : random.below(4);
        switch (pick) {
        case 0:
            s += static_cast<wide_char>(0x80 + random.below(0x780));
            break;
        case 1:
            s += static_cast<wide_char>(0x800 + random.below(0xD000));
            break;
        case 2:
            s += static_cast<wide_char>(0xE000 + random.below(0x2000));
            break;
        case 3:
            s += static_cast<wide_char>(0xD800 + random.below(0x400));
            s += static_cast<wide_char>(0xDC00 + random.below(0x400));
            break;
        case 4:
            s += static_cast<wide_char>(0xD800 + random.below(0x400));
            break;  // lone lead
        case 5:
            s += static_cast<wide_char>(0xDC00 + random.below(0x400));
            break;  // lone trail
        case 6:     // trail before lead
            s += static_cast<wide_char>(0xDC00 + random.below(0x400));
            s += static_cast<wide_char>(0xD800 + random.below(0x400));
            break;
        default:
            s += static_cast<wide_char>(random.below(0x10000));
            break;
        }
    }
    s.resize(length);  // may leave a lead surrogate last, which is wanted
    return s;
}

template <typename In>
std::basic_string<In> random_input(prng& random, std::size_t length, flavour kind);
template <>
std::string random_input<char>(prng& random, std::size_t length, flavour kind) {
    return random_utf8(random, length, kind);
}
template <>
wide_string random_input<wide_char>(prng& random, std::size_t length, flavour kind) {
    return random_utf16(random, length, kind);
}

// Every length 0..200, every capacity from 0 to one past the largest the
// heap path could ask for; the alignments of input and output move with the
// capacity so that each is met at every length.
template <typename Out, typename In>
void check_every_length_and_capacity(std::uint64_t seed) {
    constexpr std::size_t max_width = sizeof(Out) == 1 ? 4 : 2;
    prng random(seed);
    for (const flavour kind : all_flavours) {
        for (std::size_t length = 0; length <= 200; ++length) {
            const std::basic_string<In> input = random_input<In>(random, length, kind);
            for (std::size_t capacity = 0; capacity <= length * max_width + 2; ++capacity) {
                ASSERT_TRUE(
                    same_as_reference<Out>(input, capacity, (length + capacity) % 16, (capacity * 3 + length) % 16));
            }
        }
    }
}

TRANSCODE_TEST(RandomUtf8OfEveryLengthIntoEveryCapacity) { check_every_length_and_capacity<wide_char, char>(1); }

TRANSCODE_TEST(RandomUtf16OfEveryLengthIntoEveryCapacity) { check_every_length_and_capacity<char, wide_char>(2); }

// Every pairing of input and output alignment, with room to spare, exactly
// enough room, one unit too few and half of what is needed.
template <typename Out, typename In>
void check_every_alignment(std::uint64_t seed) {
    prng random(seed);
    for (const flavour kind : all_flavours) {
        for (std::size_t length = 0; length <= 200; length += length < 48 ? 1 : 19) {
            const std::basic_string<In> input = random_input<In>(random, length, kind);
            const std::size_t needed = needed_capacity<Out>(input);
            const std::size_t capacities[] = {needed + 8, needed, needed - 1, needed / 2};
            for (std::size_t in_alignment = 0; in_alignment < 16; ++in_alignment) {
                for (std::size_t out_alignment = 0; out_alignment < 16; ++out_alignment) {
                    for (const std::size_t capacity : capacities) {
                        ASSERT_TRUE(same_as_reference<Out>(input, capacity, in_alignment, out_alignment));
                    }
                }
            }
        }
    }
}

TRANSCODE_TEST(Utf8AtEveryAlignmentOfInputAndOutput) { check_every_alignment<wide_char, char>(3); }

TRANSCODE_TEST(Utf16AtEveryAlignmentOfInputAndOutput) { check_every_alignment<char, wide_char>(4); }

// One sequence placed at every offset of an ASCII text around the first two
// 16-unit block edges, with ASCII after it or with the input ending right
// after it; every capacity.
template <typename Out, typename In>
void check_at_block_edges(const std::vector<std::basic_string<In>>& sequences) {
    constexpr std::size_t max_width = sizeof(Out) == 1 ? 4 : 2;
    for (const std::basic_string<In>& sequence : sequences) {
        for (std::size_t offset = 0; offset <= 40; ++offset) {
            for (const bool ends_after : {false, true}) {
                std::basic_string<In> input;
                for (std::size_t i = 0; i < offset; ++i) input += static_cast<In>('a' + i % 26);
                input += sequence;
                if (!ends_after) {
                    for (std::size_t i = 0; i < 24; ++i) input += static_cast<In>('A' + i % 26);
                }
                for (std::size_t capacity = 0; capacity <= input.size() * max_width + 2; ++capacity) {
                    ASSERT_TRUE(same_as_reference<Out>(input, capacity, offset % 3, capacity % 5));
                }
            }
        }
    }
}

// Letters (plain), with an accented one every thirteenth (accented: text
// like French, which turns on the block paths for two-byte characters), or
// ideographs (runs of three-byte characters, as in CJK text).
enum class background { plain, accented, ideographs };
void append_background(std::string& s, std::size_t count, background kind) {
    for (std::size_t i = 0; i < count; ++i) {
        if (kind == background::ideographs) {
            append_utf8(s, 0x4E00 + i % 64);
        } else if (kind == background::accented && i % 13 == 5) {
            s += "\xC3\xA9";
        } else {
            s += static_cast<char>('a' + i % 26);
        }
    }
}
void append_background(wide_string& s, std::size_t count, background kind) {
    for (std::size_t i = 0; i < count; ++i) {
        s += static_cast<wide_char>(kind == background::ideographs                ? 0x4E00 + i % 64
                                    : kind == background::accented && i % 13 == 5 ? 0xE9
                                                                                  : 'a' + i % 26);
    }
}

// The same sequences in the middle of a long text of each background, where
// the main loop meets them rather than the end of the input; capacities
// that end anywhere from well before the sequence to past the whole text.
template <typename Out, typename In>
void check_inside_long_text(const std::vector<std::basic_string<In>>& sequences) {
    for (const std::basic_string<In>& sequence : sequences) {
        for (const background kind : {background::plain, background::accented, background::ideographs}) {
            for (std::size_t offset = 0; offset < 32; ++offset) {
                std::basic_string<In> input;
                append_background(input, 80 + offset, kind);
                input += sequence;
                append_background(input, 80, kind);
                const std::size_t needed = needed_capacity<Out>(input);
                for (std::size_t cut = 0; cut <= 120; ++cut) {
                    ASSERT_TRUE(same_as_reference<Out>(input, needed + 4 - cut, offset % 3, cut % 5));
                }
            }
        }
    }
}

TRANSCODE_TEST(Utf8SequencesAtBlockEdgesAndInLongText) {
    const std::vector<std::string> sequences = {
        "\xC3\xA9",
        "\xE2\x82\xAC",
        "\xF0\x9F\x98\x80",
        "\xEF\xBF\xBF",
        "\xF4\x8F\xBF\xBF",  // well-formed
        "\xC3",
        "\xE2\x82",
        "\xF0\x9F\x98",  // cut short
        "\xC3"
        "A",
        "\xE2"
        "A",
        "\xE2\x82"
        "A",
        "\xF0\x9F\x98"
        "A",
        "\xC3\xC3\xA9",  // broken off
        "\x80",
        "\xBF\xBF",
        "\xC0\x80",
        "\xC1\xBF",
        "\xF5\x80\x80\x80",
        "\xFF",  // never leads
        "\xE0\x80\x80",
        "\xE0\x9F\xBF",
        "\xF0\x8F\xBF\xBF",  // overlong
        "\xED\xA0\x80",
        "\xED\xBF\xBF",
        "\xF4\x90\x80\x80",  // surrogate, too big
        "\xC3\xC3",
        "\xC3\xA9\xC3\xA9",
        "\xE4\xB8\x80\xC3\xA9",  // next to accents
    };
    check_at_block_edges<wide_char, char>(sequences);
    check_inside_long_text<wide_char, char>(sequences);
}

TRANSCODE_TEST(Utf16SequencesAtBlockEdgesAndInLongText) {
    const auto units = [](std::initializer_list<unsigned> list) {
        wide_string s;
        for (const unsigned u : list) s += static_cast<wide_char>(u);
        return s;
    };
    const std::vector<wide_string> sequences = {
        units({0x7F}),           units({0x80}),
        units({0x7FF}),          units({0x800}),
        units({0xFFFF}),                                   // widths 1 to 3
        units({0xD83D, 0xDE00}), units({0xDBFF, 0xDFFF}),  // pairs
        units({0xD83D}),         units({0xDE00}),
        units({0xDE00, 0xD83D}),  // unpaired
        units({0xD83D, 0x41}),   units({0xD83D, 0xD83D, 0xDE00}),
        units({0xD83D, 0x20AC}), units({0xE9, 0xE9}),
        units({0x4E00, 0xE9}),   units({0x4E00, 0x4E01, 0x4E02}),  // next to accents
    };
    check_at_block_edges<char, wide_char>(sequences);
    check_inside_long_text<char, wide_char>(sequences);
}

// The corpora of the benchmarks, whole and cut by the capacity at several
// points, and a slice of each at every alignment.
template <typename Out, typename In>
void check_corpus(const std::basic_string<In>& corpus, const char* name) {
    SCOPED_TRACE(name);
    const std::size_t needed = needed_capacity<Out>(corpus);
    std::vector<std::size_t> capacities = {needed, needed - 1, needed + 1,
                                           corpus.size() * (sizeof(Out) == 1 ? 4 : 2) + 1};
    for (std::size_t part = 1; part < 8; ++part) capacities.push_back(needed * part / 8 + part);
    for (const std::size_t capacity : capacities) ASSERT_TRUE(same_as_reference<Out>(corpus, capacity, 0, 0));

    const std::basic_string<In> slice = corpus.substr(0, 4096);
    for (std::size_t skip = 0; skip < 16; ++skip) {
        const std::basic_string<In> shifted = slice.substr(skip);
        for (std::size_t alignment = 0; alignment < 16; ++alignment) {
            ASSERT_TRUE(same_as_reference<Out>(shifted, shifted.size() * 4 + 1, alignment, (alignment + skip) % 16));
        }
    }
}

TRANSCODE_TEST(EveryCorpusInBothDirections) {
    constexpr std::size_t corpus_size = 256 * 1024;
    for (const corpus_kind kind : wexal::bench::all_corpus_kinds) {
        check_corpus<wide_char>(wexal::bench::make_corpus(kind, corpus_size), wexal::bench::corpus_name(kind));
        check_corpus<char>(wexal::bench::make_utf16_corpus(kind, corpus_size), wexal::bench::corpus_name(kind));
    }
}

// Each name on its own, as the wrapper calls convert them, into a buffer the
// size of a stack string's array.
TRANSCODE_TEST(FileNamesOneByOne) {
    for (const std::string& name : wexal::bench::make_file_names(64 * 1024)) {
        ASSERT_TRUE(same_as_reference<wide_char>(name, 256, 0, 0));
        ASSERT_TRUE(same_as_reference<wide_char>(name, 16, 0, 0));
        const wide_string wide_name = wexal::bench::to_utf16(name);
        ASSERT_TRUE(same_as_reference<char>(wide_name, 256, 0, 0));
        ASSERT_TRUE(same_as_reference<char>(wide_name, 16, 0, 0));
    }
}

// Text in pieces: random text with bad input, cut at every position into two
// pieces and into random pieces (empty ones too), converts as the whole text
// does in one call, which is the plain loop's result; both modes, both ways.
template <typename Converter, typename In, typename Whole>
void check_pieces(prng& random, const std::basic_string<In>& text, Whole whole, bool lossless) {
    using Out = typename decltype(whole(text))::value_type;
    const auto expected = whole(text);
    if (!lossless) {
        ASSERT_EQ(expected, reference_of<Out>(text));
    }
    const auto in_pieces = [&](const std::vector<std::size_t>& cuts) {
        Converter converter = lossless ? Converter(wexal::u8port::lossless) : Converter();
        std::basic_string<Out> out;
        std::size_t from = 0;
        for (const std::size_t cut : cuts) {
            converter.append(std::basic_string_view<In>(text.data() + from, cut - from), out);
            from = cut;
        }
        converter.append(std::basic_string_view<In>(text.data() + from, text.size() - from), out);
        converter.finish(out);
        return out;
    };
    for (std::size_t cut = 0; cut <= text.size(); cut += text.size() < 600 ? 1 : 1 + random.below(997)) {
        ASSERT_EQ(in_pieces({cut}), expected) << "cut at " << cut << " of " << hex(text.data(), text.size());
    }
    std::vector<std::size_t> cuts;
    for (std::size_t at = random.below(4); at < text.size(); at += random.below(random.chance(80) ? 6 : 9000))
        cuts.push_back(at);
    ASSERT_EQ(in_pieces(cuts), expected);
}

TRANSCODE_TEST(TextInPiecesConvertsAsTheWholeText) {
    namespace u8 = wexal::u8port;
    prng random(5);
    for (int i = 0; i < 300; ++i) {
        const std::size_t length = i % 50 == 0 ? 20000 + random.below(20000) : random.below(200);
        const flavour kind = i % 3 == 0 ? flavour::runs : flavour::hostile;
        const std::string s = random_utf8(random, length, kind);
        const wide_string u = random_utf16(random, length, kind);
        check_pieces<u8::widener>(
            random, s, [](const std::string& t) { return u8::widen(t); }, false);
        check_pieces<u8::widener>(
            random, s, [](const std::string& t) { return u8::widen(t, u8::lossless); }, true);
        check_pieces<u8::narrower>(
            random, u, [](const wide_string& t) { return u8::narrow(t); }, false);
        check_pieces<u8::narrower>(
            random, u, [](const wide_string& t) { return u8::narrow(t, u8::lossless); }, true);
    }
}

}  // namespace
