// The scalar step and the scalar loop: the part of every conversion that
// goes one code point at a time, written once for all kernels. Included by a
// kernel's file inside its region (target_begin.hpp), so each kernel has its
// own copy built for its instruction set.
//
// convert() is the whole conversion: the kernel's steps as far as they go,
// then the scalar loop for what they leave (see the contract in
// kernels.hpp). The portable kernel has no steps: it is the scalar loop.
//
// No include guard: included once per kernel file, inside its namespace.

// One sequence at c.in (c.in != c.end) as the plain loop converts it, each
// rejected sequence one U+FFFD; false, changing nothing, when it does not fit
// in the room left.
template <typename Out, typename In>
inline bool scalar_step(conversion<Out, In>& c) noexcept {
    const In* p = c.in;
    const code_point cp = decode_or_replace<codec_for_t<In>>(p, c.end);
    const std::size_t width = static_cast<std::size_t>(codec_for_t<Out>::width(cp));
    if (c.room < width) return false;
    c.out = codec_for_t<Out>::encode(cp, c.out);
    c.room -= width;
    c.in = p;
    return true;
}

// Index of the lowest set bit; mask must not be 0.
inline unsigned lowest_set_bit(std::uint32_t mask) noexcept {
#if defined(_MSC_VER) && !defined(__clang__)
    unsigned long index = 0;
    _BitScanForward(&index, mask);
    return static_cast<unsigned>(index);
#else
    return static_cast<unsigned>(__builtin_ctz(mask));
#endif
}

inline bool is_continuation_byte(unsigned b) noexcept { return (b & 0xC0u) == 0x80u; }

inline std::uint32_t load_u32(const void* p) noexcept {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline std::uint64_t load_u64(const void* p) noexcept {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The scalar loop from UTF-8: to the end, or to the first code point that
// does not fit. Well-formed sequences are decoded inline and ASCII goes
// eight bytes at a time; everything else is the scalar step.
WEXAL_STEP_INLINE void scalar_loop_inline(conversion<wide_char, char>& c) noexcept {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(c.in);
    const unsigned char* const end = reinterpret_cast<const unsigned char*>(c.end);
    wide_char* out = c.out;
    std::size_t room = c.room;
    while (p != end && room >= 2) {
        const unsigned b0 = *p;
        const std::size_t left = static_cast<std::size_t>(end - p);
        if (b0 < 0x80u) {
            if (left >= 8 && room >= 8) {
                if ((load_u64(p) & 0x8080808080808080u) == 0) {
                    wide_char units[8];  // all loaded before any is stored, as from UTF-16
                    for (std::size_t i = 0; i < 8; ++i) units[i] = static_cast<wide_char>(p[i]);
                    std::memcpy(out, units, sizeof units);
                    p += 8;
                    out += 8;
                    room -= 8;
                    continue;
                }
                // A byte above 0x7F among the eight: the ASCII before it, with
                // neither end nor room to look at.
                do {
                    *out++ = static_cast<wide_char>(*p++);
                    --room;
                } while (*p < 0x80u);
                continue;
            }
            if (left >= 4 && room >= 4 && (load_u32(p) & 0x80808080u) == 0) {  // a short word before an accent
                wide_char units[4];
                for (std::size_t i = 0; i < 4; ++i) units[i] = static_cast<wide_char>(p[i]);
                std::memcpy(out, units, sizeof units);
                p += 4;
                out += 4;
                room -= 4;
                continue;
            }
            *out++ = static_cast<wide_char>(b0);
            ++p;
            --room;
            continue;
        }
        if (b0 - 0xC2u < 0x1Eu) {  // C2..DF
            if (left >= 2 && is_continuation_byte(p[1])) {
                *out++ = static_cast<wide_char>(((b0 & 0x1Fu) << 6) | (p[1] & 0x3Fu));
                p += 2;
                --room;
                continue;
            }
        } else if ((b0 & 0xF0u) == 0xE0u) {  // E0..EF
            if (left >= 3 && is_continuation_byte(p[1]) && is_continuation_byte(p[2])) {
                const code_point cp = ((b0 & 0x0Fu) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
                if (cp >= 0x800u && (cp & 0xF800u) != 0xD800u) {  // neither overlong nor a surrogate
                    *out++ = static_cast<wide_char>(cp);
                    p += 3;
                    --room;
                    continue;
                }
            }
        } else if (b0 - 0xF0u < 0x05u) {  // F0..F4
            if (left >= 4 && is_continuation_byte(p[1]) && is_continuation_byte(p[2]) && is_continuation_byte(p[3])) {
                const code_point cp = ((b0 & 0x07u) << 18) | ((p[1] & 0x3Fu) << 12) | ((p[2] & 0x3Fu) << 6) |
                                      (p[3] & 0x3Fu);
                if (cp - 0x10000u < 0x100000u) {  // neither overlong nor above U+10FFFF
                    const code_point v = cp - 0x10000u;
                    out[0] = static_cast<wide_char>(0xD800u | (v >> 10));
                    out[1] = static_cast<wide_char>(0xDC00u | (v & 0x3FFu));
                    out += 2;
                    p += 4;
                    room -= 2;
                    continue;
                }
            }
        }
        const char* q = reinterpret_cast<const char*>(p);
        const code_point cp = decode_or_replace<utf8_codec>(q, c.end);
        out = utf16_codec::encode(cp, out);
        room -= static_cast<std::size_t>(utf16_codec::width(cp));
        p = reinterpret_cast<const unsigned char*>(q);
    }
    c.in = reinterpret_cast<const char*>(p);
    c.out = out;
    c.room = room;
    // The last unit of room: a code point of one unit may still fit.
    while (c.in != c.end && scalar_step(c)) {}
}

// The scalar loop from UTF-16: to the end, or to the first code point that
// does not fit. Units outside the surrogates are encoded inline, ASCII eight
// or two units at a time; a surrogate is the codec's. The cursors are locals: kept
// in c, every byte stored would make the compiler reload them.
WEXAL_STEP_INLINE void scalar_loop_inline(conversion<char, wide_char>& c) noexcept {
    const wide_char* p = c.in;
    const wide_char* const end = c.end;
    char* out = c.out;
    std::size_t room = c.room;
    while (p != end) {
        const unsigned u = static_cast<std::uint16_t>(*p);
        if (u < 0x80u) {
            if (end - p >= 8 && room >= 8 && ((load_u64(p) | load_u64(p + 4)) & 0xFF80FF80FF80FF80u) == 0) {
                // Loaded before any is stored: a store through out could
                // otherwise change the units not yet read.
                char bytes[8];
                for (std::size_t i = 0; i < 8; ++i) bytes[i] = static_cast<char>(p[i]);
                std::memcpy(out, bytes, 8);
                p += 8;
                out += 8;
                room -= 8;
                continue;
            }
            if (end - p >= 2 && room >= 2 && (load_u32(p) & 0xFF80FF80u) == 0) {
                const char bytes[2] = {static_cast<char>(p[0]), static_cast<char>(p[1])};
                std::memcpy(out, bytes, 2);
                p += 2;
                out += 2;
                room -= 2;
                continue;
            }
            if (room < 1) break;
            *out++ = static_cast<char>(u);
            ++p;
            --room;
        } else if (u < 0x800u) {
            if (room < 2) break;
            out[0] = static_cast<char>(0xC0u | (u >> 6));
            out[1] = static_cast<char>(0x80u | (u & 0x3Fu));
            out += 2;
            ++p;
            room -= 2;
        } else if (u - 0xD800u >= 0x800u) {  // not a surrogate
            if (room < 3) break;
            out[0] = static_cast<char>(0xE0u | (u >> 12));
            out[1] = static_cast<char>(0x80u | ((u >> 6) & 0x3Fu));
            out[2] = static_cast<char>(0x80u | (u & 0x3Fu));
            out += 3;
            ++p;
            room -= 3;
        } else {
            const wide_char* q = p;
            const code_point cp = decode_or_replace<utf16_codec>(q, end);
            const std::size_t width = static_cast<std::size_t>(utf8_codec::width(cp));
            if (room < width) break;
            out = utf8_codec::encode(cp, out);
            room -= width;
            p = q;
        }
    }
    c.in = p;
    c.out = out;
    c.room = room;
}

// The scalar loops as a call: for what a kernel's steps leave of a longer
// text. (A kernel whose steps leave it a short text whole has it inline,
// where a call would cost as much as the conversion.)
#if defined(_MSC_VER) && !defined(__clang__)
#define WEXAL_SCALAR_CALL __declspec(noinline)
#else
#define WEXAL_SCALAR_CALL __attribute__((noinline))
#endif
WEXAL_SCALAR_CALL inline void scalar_loop(conversion<wide_char, char>& c) noexcept { scalar_loop_inline(c); }
WEXAL_SCALAR_CALL inline void scalar_loop(conversion<char, wide_char>& c) noexcept { scalar_loop_inline(c); }
#undef WEXAL_SCALAR_CALL

// The conversion of [begin, end) into room units: the kernel's steps, then
// the scalar loop. Writes no terminator and nothing past the result.
template <typename Out, typename In, typename Steps>
inline transcode_result<Out, In> convert(Out* out, std::size_t room, const In* begin, const In* end,
                                         Steps steps) noexcept {
    conversion<Out, In> c{begin, end, out, room};
    steps(c);
    if (c.in != c.end) scalar_loop(c);
    return {c.out, c.in, c.in == c.end};
}

// The counts' scalar part: UTF-16 units for the UTF-8 bytes of [p, end), one
// sequence at a time as the conversion takes them, ASCII eight bytes at a
// time.
inline std::size_t scalar_utf16_length(const char* p, const char* end) noexcept {
    std::size_t length = 0;
    while (p != end) {
        if (end - p >= 8 && (load_u64(p) & 0x8080808080808080u) == 0) {
            p += 8;
            length += 8;
            continue;
        }
        length += static_cast<std::size_t>(utf16_codec::width(decode_or_replace<utf8_codec>(p, end)));
    }
    return length;
}

// UTF-8 bytes for the UTF-16 units of [p, end): 1, 2 or 3 per unit below
// 0x80, 0x800 and above; a lead followed by a trail is one 4-byte character
// (3 + 3 - 2); an unpaired surrogate is U+FFFD, 3 bytes, like any unit from
// 0x800. Sets surrogates when there is a unit from 0xD800 to 0xDFFF, and
// leaves it alone otherwise.
inline std::size_t scalar_utf8_length(const wide_char* p, const wide_char* end, bool& surrogates) noexcept {
    std::size_t length = 0;
    for (; p != end; ++p) {
        const unsigned u = static_cast<std::uint16_t>(*p);
        length += u < 0x80u ? 1 : u < 0x800u ? 2 : 3;
        if (u - 0xD800u < 0x800u) {
            surrogates = true;
            if (u < 0xDC00u && end - p > 1 && static_cast<std::uint16_t>(p[1]) - 0xDC00u < 0x400u) length -= 2;
        }
    }
    return length;
}
