// The carry step of text that arrives in pieces: how much of a piece's end is
// a sequence cut short, to be held back, and the completion of a held
// sequence with the first units of the next piece. The one carry step of the
// library: the widener and narrower, the console buffers and any converter of
// text in pieces use it, so that a piece boundary never changes a result.
//
// Both follow the codecs exactly. A sequence is cut short at the end of a
// piece exactly when decode, started at its first unit, returns
// truncated_input there; every other sequence of the piece converts the same
// in the piece as in the whole text. decode of a held sequence followed by
// the units it still asks for reads what it would read in the whole text,
// and consumes at least the held units (they are a lead and the
// continuations it asked for).
#ifndef WEXAL_U8PORT_SRC_TRANSCODE_CARRY_HPP
#define WEXAL_U8PORT_SRC_TRANSCODE_CARRY_HPP

#include <cstddef>
#include <cstdint>

#include <wexal/u8port/utf.hpp>

namespace wexal {
namespace u8port {
namespace detail {

// The units at the end of [begin, end) that begin a sequence cut short by
// the end: a UTF-8 lead followed by fewer continuations than it asks for (0
// to 3 bytes), or a UTF-16 high surrogate (0 or 1 unit).
inline std::size_t incomplete_tail(const char* begin, const char* end) noexcept {
    const std::size_t n = static_cast<std::size_t>(end - begin);
    for (std::size_t back = 1; back <= 3 && back <= n; ++back) {
        const unsigned char b = static_cast<unsigned char>(end[-static_cast<std::ptrdiff_t>(back)]);
        if (utf8_codec::is_continuation(b)) continue;
        return utf8_codec::trail_count(b) >= static_cast<int>(back) ? back : 0;
    }
    return 0;
}

inline std::size_t incomplete_tail(const wide_char* begin, const wide_char* end) noexcept {
    // A high surrogate is never the second unit of a sequence: decode leaves
    // a unit that is not a low surrogate where it is.
    return begin != end && (static_cast<std::uint16_t>(end[-1]) & 0xFC00u) == 0xD800u ? 1 : 0;
}

// The longest sequence a carry holds, with the units that complete it.
template <typename In>
constexpr std::size_t max_held = sizeof(In) == 1 ? 4 : 2;

// What completing a held sequence gave.
struct completion {
    std::size_t taken;  // units of the next piece used
    code_point code;    // the codec's result; truncated_input: still cut short
};

// Completes the sequence in held (held_size units, begun by an earlier
// piece and cut short at its end; room for max_held<In>) with the first units
// of [begin, end). The units it takes join held. When they still leave it
// cut short (the piece is shorter than what it asks for), all of the piece is
// taken and the code is truncated_input; otherwise held[0, held_size) is the
// whole sequence as decode consumed it, and the code its result (a code
// point or invalid_input), the sequence's one character or U+FFFD.
template <typename In>
completion complete_held(In* held, std::size_t& held_size, const In* begin, const In* end) noexcept {
    std::size_t taken = 0;
    while (held_size + taken < max_held<In> && begin + taken != end) {
        held[held_size + taken] = begin[taken];
        ++taken;
    }
    const In* p = held;
    const code_point code = codec_for_t<In>::decode(p, static_cast<const In*>(held + held_size + taken));
    if (code == truncated_input) {
        held_size += taken;
        return {taken, code};
    }
    const std::size_t consumed = static_cast<std::size_t>(p - held);
    const std::size_t used = consumed - held_size;
    held_size = consumed;
    return {used, code};
}

}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_SRC_TRANSCODE_CARRY_HPP
