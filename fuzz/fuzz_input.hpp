// Reads a fuzzer's byte string as a sequence of small values. Every read
// succeeds: past the end it yields zeros, so any input is a valid script.
#ifndef WEXAL_FUZZ_FUZZ_INPUT_HPP
#define WEXAL_FUZZ_FUZZ_INPUT_HPP

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include <wexal/u8port/config.hpp>

namespace wexal {
namespace fuzz {

class fuzz_input {
public:
    fuzz_input(const std::uint8_t* data, std::size_t size) noexcept : data_(data), size_(size) {}

    bool empty() const noexcept { return position_ == size_; }
    std::size_t remaining() const noexcept { return size_ - position_; }

    std::uint8_t byte() noexcept { return empty() ? 0 : data_[position_++]; }

    std::uint16_t unit() noexcept {
        const std::uint16_t low = byte();
        return static_cast<std::uint16_t>(low | (byte() << 8));
    }

    // Up to n bytes, fewer when the input runs out.
    std::vector<char> bytes(std::size_t n) {
        n = std::min(n, remaining());
        std::vector<char> out(data_ + position_, data_ + position_ + n);
        position_ += n;
        return out;
    }

    // Up to n UTF-16 units, two bytes each (low byte first).
    std::vector<u8port::wide_char> units(std::size_t n) {
        n = std::min(n, remaining() / 2);
        std::vector<u8port::wide_char> out;
        out.reserve(n);
        for (std::size_t i = 0; i < n; ++i) out.push_back(static_cast<u8port::wide_char>(unit()));
        return out;
    }

    std::vector<char> rest_as_bytes() { return bytes(remaining()); }
    std::vector<u8port::wide_char> rest_as_units() { return units(remaining() / 2); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

}  // namespace fuzz
}  // namespace wexal

#endif  // WEXAL_FUZZ_FUZZ_INPUT_HPP
