// The one "call, learn the size, grow, retry" step for the Win32 calls that
// fill a caller's buffer with UTF-16 text.
#ifndef WEXAL_U8PORT_WINDOWS_FILL_BUFFER_HPP
#define WEXAL_U8PORT_WINDOWS_FILL_BUFFER_HPP

#include <cstddef>
#include <limits>
#include <new>
#include <vector>

#include <wexal/u8port/config.hpp>

#include "win32.hpp"

namespace wexal {
namespace u8port {
namespace detail {

// Calls fill(buffer, capacity), which answers as those calls do: the units
// written (below the capacity, terminator not counted), or the size needed
// (terminator counted) when the buffer is too small, or the capacity itself
// when the call cut the text to fit (GetModuleFileNameW). The first call gets
// a buffer of ProbeSize units on the stack; later ones a heap buffer of the
// size asked for, one spare unit zeroed so that it stays terminated whatever
// is written. The text can grow between two calls (another thread, a changed
// current directory), so it sizes again until the text fits. Then returns
// use(text, length), text being NUL-terminated; a result of 0 is passed on
// too, for the caller to read the last error.
template <std::size_t ProbeSize, typename Fill, typename Use>
auto fill_wide_buffer(Fill&& fill, Use&& use) -> decltype(use(static_cast<const wide_char*>(nullptr), win32::dword())) {
    static_assert(ProbeSize >= 2, "room for a unit and its terminator");
    wide_char probe[ProbeSize];
    probe[0] = 0;  // a call that answers 0 without writing leaves an empty text
    win32::dword n = fill(probe, static_cast<win32::dword>(ProbeSize));
    if (n < ProbeSize) return use(probe, n);
    std::vector<wide_char> buffer;
    for (;;) {
        if (n == std::numeric_limits<win32::dword>::max()) throw std::bad_alloc();
        buffer.assign(static_cast<std::size_t>(n) + 1, wide_char(0));
        const win32::dword m = fill(buffer.data(), n);
        if (m < n) return use(buffer.data(), m);
        // Cut to fit: twice the room. Otherwise m is the size it needs now.
        n = m == n
                ? (n > std::numeric_limits<win32::dword>::max() / 2 ? std::numeric_limits<win32::dword>::max() : 2 * n)
                : m;
    }
}

}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_WINDOWS_FILL_BUFFER_HPP
