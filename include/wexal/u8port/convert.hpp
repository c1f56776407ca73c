// Whole-string conversion between UTF-8 and UTF-16: widen and narrow, for the
// wide APIs the library does not wrap.
//
// The default forms never fail on bad input: each malformed UTF-8 sequence and
// each unpaired surrogate becomes U+FFFD, with the codecs' rules, exactly as
// transcode gives it. The result is made in one pass, allocated once as a
// rule (nothing for a result that fits the string's own small buffer), with
// at most a sixteenth of spare room; embedded NULs are converted like any
// other character.
//
// The lossless forms (WTF-8, on request with the tag lossless) keep unpaired
// surrogates, which Windows allows in file names and other strings:
// - narrow(u, lossless) writes a valid pair as its 4-byte form and an unpaired
//   surrogate U+D800..U+DFFF as the 3-byte sequence ED A0..BF 80..BF. A lead
//   followed by a trail is always one 4-byte character, never two 3-byte ones.
// - widen(s, lossless) decodes UTF-8 and, besides, exactly those 3-byte forms
//   back to the surrogate unit; everything else malformed still becomes
//   U+FFFD. Two forms in a row that make a pair widen to that pair, so joining
//   two lossless strings loses nothing (narrowing again gives the 4-byte form).
// So widen(narrow(u, lossless), lossless) == u for every UTF-16 sequence u,
// narrow(widen(s, lossless), lossless) == s for every s that narrow(·,
// lossless) produced, and on valid UTF-8 and on UTF-16 without unpaired
// surrogates the lossless and default forms agree.
#ifndef WEXAL_U8PORT_CONVERT_HPP
#define WEXAL_U8PORT_CONVERT_HPP

#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>

#include <wexal/u8port/config.hpp>
#include <wexal/u8port/transcode.hpp>
#include <wexal/u8port/utf.hpp>

namespace wexal {
namespace u8port {

// std::wstring on Windows, std::u16string elsewhere.
using wide_string = std::basic_string<wide_char>;
using wide_string_view = std::basic_string_view<wide_char>;

// Asks a conversion to keep unpaired surrogates (WTF-8).
struct lossless_t {
    explicit lossless_t() = default;
};
inline constexpr lossless_t lossless{};

namespace detail {

// A string of exactly the units transcode gives for [begin, end), for the
// pairs the public headers convert inline (UTF-8 to UTF-8): sized first, so
// that it is allocated once and keeps no spare room. A long one is
// reserved and filled from a small buffer, not made at its size: making it
// writes every unit once more, one at a time for 16-bit units.
template <typename Out, typename In>
std::basic_string<Out> transcode_to_string(const In* begin, const In* end) {
    const std::size_t length = transcoded_length<Out>(begin, end);
    if (length < 64) {
        // Made at its size, not reserved: reserving rounds a short capacity up.
        std::basic_string<Out> result(length, Out(0));
        transcode(&result[0], length, begin, end);
        return result;
    }
    std::basic_string<Out> result;
    result.reserve(length);
    constexpr std::size_t chunk_size = 8192 / sizeof(Out);
    Out chunk[chunk_size];
    while (begin != end) {
        const transcode_result<Out, In> r = transcode(chunk, chunk_size, begin, end);
        result.append(chunk, static_cast<std::size_t>(r.out - chunk));
        begin = r.in;
    }
    return result;
}

}  // namespace detail

// UTF-8 to UTF-16; each malformed sequence becomes U+FFFD.
WEXAL_U8PORT_API wide_string widen(std::string_view utf8);
// UTF-16 to UTF-8; each unpaired surrogate becomes U+FFFD.
WEXAL_U8PORT_API std::string narrow(wide_string_view utf16);
// WTF-8 to UTF-16: also decodes the 3-byte forms of surrogates.
WEXAL_U8PORT_API wide_string widen(std::string_view wtf8, lossless_t);
// UTF-16 to WTF-8: unpaired surrogates as their 3-byte forms.
WEXAL_U8PORT_API std::string narrow(wide_string_view utf16, lossless_t);

// NUL-terminated forms; null gives an empty string.
inline wide_string widen(const char* utf8) { return utf8 == nullptr ? wide_string() : widen(std::string_view(utf8)); }
inline std::string narrow(const wide_char* utf16) {
    return utf16 == nullptr ? std::string() : narrow(wide_string_view(utf16));
}
inline wide_string widen(const char* wtf8, lossless_t tag) {
    return wtf8 == nullptr ? wide_string() : widen(std::string_view(wtf8), tag);
}
inline std::string narrow(const wide_char* utf16, lossless_t tag) {
    return utf16 == nullptr ? std::string() : narrow(wide_string_view(utf16), tag);
}

// Text that arrives in pieces (a child's output, a socket, a file read in
// blocks), converted piece by piece: append converts a piece and adds it to
// out, holding back a sequence cut at the piece's end until the next piece;
// finish ends the text (a sequence still held becomes what the whole text's
// conversion makes of it: U+FFFD, or in the lossless narrower the 3-byte form
// of a lone high surrogate) and makes the object ready for a new text. The
// pieces' results joined are always the one-call result of the whole text
// (widen, narrow, or with lossless their lossless forms), wherever the
// pieces are cut.
class widener {
public:
    widener() noexcept = default;
    explicit widener(lossless_t) noexcept : lossless_(true) {}

    WEXAL_U8PORT_API void append(std::string_view piece, wide_string& out);
    WEXAL_U8PORT_API void finish(wide_string& out);

private:
    char held_[4] = {};
    std::size_t held_size_ = 0;
    bool lossless_ = false;
};

class narrower {
public:
    narrower() noexcept = default;
    explicit narrower(lossless_t) noexcept : lossless_(true) {}

    WEXAL_U8PORT_API void append(wide_string_view piece, std::string& out);
    WEXAL_U8PORT_API void finish(std::string& out);

private:
    wide_char held_[2] = {};
    std::size_t held_size_ = 0;
    bool lossless_ = false;
};

#if defined(__cpp_char8_t)
template <typename C, detail::if_char8_unit<C> = 0>
wide_string widen(const C* utf8) {
    return widen(detail::as_chars(utf8));
}
template <typename S, detail::if_u8string_arg<S> = 0>
wide_string widen(const S& utf8) {
    return widen(detail::as_chars(utf8));
}
template <typename C, detail::if_char8_unit<C> = 0>
wide_string widen(const C* wtf8, lossless_t tag) {
    return widen(detail::as_chars(wtf8), tag);
}
template <typename S, detail::if_u8string_arg<S> = 0>
wide_string widen(const S& wtf8, lossless_t tag) {
    return widen(detail::as_chars(wtf8), tag);
}
#endif

}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_CONVERT_HPP
