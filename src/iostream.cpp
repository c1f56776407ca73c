// What the two stream classes behind cin, cout, cerr and clog do alike on
// every platform; each platform's streams.cpp builds them with their buffer.
#include <wexal/u8port/iostream.hpp>

#include <iostream>

namespace wexal {
namespace u8port {
namespace detail {

winconsole_ostream::~winconsole_ostream() {
    // The exception mask, a failing console or the tied stream may all throw
    // from here; none of that may leave a destructor.
    try {
        flush();
    } catch (...) {}
    // std::cin outlives a library that is unloaded; it must not keep a tie
    // to a stream that is gone.
    if (std::cin.tie() == this) std::cin.tie(&std::cout);
}

winconsole_istream::~winconsole_istream() = default;

}  // namespace detail
}  // namespace u8port
}  // namespace wexal
