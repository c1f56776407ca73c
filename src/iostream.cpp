// What the two stream classes behind cin, cout, cerr and clog do alike on
// every platform; each platform's streams.cpp builds them with their buffer.
#include <wexal/u8port/iostream.hpp>

namespace wexal {
namespace u8port {
namespace detail {

winconsole_ostream::~winconsole_ostream() {
    // The exception mask, a failing console or the tied stream may all throw
    // from here; none of that may leave a destructor.
    try {
        flush();
    } catch (...) {}
}

winconsole_istream::~winconsole_istream() = default;

}  // namespace detail
}  // namespace u8port
}  // namespace wexal
