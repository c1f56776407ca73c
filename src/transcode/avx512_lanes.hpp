// The AVX-512 kernel's lane helpers, shared by its conversions and counts.
//
// No include guard: included once per kernel file, inside its namespace.

// GCC 12 takes the undefined upper lanes of its own 512-bit intrinsics for
// uninitialized values at -O2 (a false alarm fixed in later versions).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// A 16-bit value in every lane.
inline __m512i set16(int value) noexcept { return _mm512_set1_epi16(static_cast<short>(value)); }

// Bit masks of 64 lanes: the first n (n up to 64), and the highest set one.
inline std::uint64_t first_lanes(unsigned n) noexcept { return _bzhi_u64(~std::uint64_t{0}, n); }
inline unsigned highest_lane(std::uint64_t mask) noexcept {
#if defined(_MSC_VER) && !defined(__clang__)
    unsigned long index = 0;
    _BitScanReverse64(&index, mask);
    return static_cast<unsigned>(index);
#else
    return 63u - static_cast<unsigned>(__builtin_clzll(mask));
#endif
}

// Steps of 32 UTF-16 units, one ZMM register each.
constexpr unsigned step_units = 32;

// Units of [p, p + n) (n <= 32), zeros in the lanes past them.
inline __m512i load_units(const wide_char* p, std::size_t n) noexcept {
    return _mm512_maskz_loadu_epi16(_bzhi_u32(~0u, static_cast<unsigned>(n)), p);
}

// How many units a step takes from a range with left units: up to 32.
inline unsigned step_size(std::size_t left) noexcept {
    return left < step_units ? static_cast<unsigned>(left) : step_units;
}

// The units that follow those of a step at p (lane i: p[i + 1]), zero past
// the end.
inline __m512i load_next_units(const wide_char* p, std::size_t left) noexcept {
    return load_units(p + 1, left - 1 < step_units ? left - 1 : step_units);
}

inline __mmask32 at_least_0x80(__m512i v) noexcept {
    return _mm512_test_epi16_mask(v, _mm512_set1_epi16(static_cast<short>(0xFF80)));
}
inline __mmask32 at_least_0x800(__m512i v) noexcept {
    return _mm512_test_epi16_mask(v, _mm512_set1_epi16(static_cast<short>(0xF800)));
}
// Units whose top bits (under mask) are value.
inline __mmask32 units_like(__m512i v, int mask, int value) noexcept {
    return _mm512_cmpeq_epi16_mask(_mm512_and_si512(v, _mm512_set1_epi16(static_cast<short>(mask))),
                                   _mm512_set1_epi16(static_cast<short>(value)));
}

// Lanes of the high surrogates that a low surrogate follows.
inline __mmask32 paired_highs(__m512i v, __m512i next) noexcept {
    return units_like(v, 0xFC00, 0xD800) & units_like(next, 0xFC00, 0xDC00);
}
