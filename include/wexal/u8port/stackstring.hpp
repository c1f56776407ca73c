// Whole-range transcoding into a fixed buffer, and the stack strings that the
// wrapper calls use for their arguments.
//
// A stack string converts one NUL-terminated string into an array inside the
// object, so that a typical call allocates nothing, and falls back to one heap
// array sized from the input length when the text does not fit.
#ifndef WEXAL_U8PORT_STACKSTRING_HPP
#define WEXAL_U8PORT_STACKSTRING_HPP

#include <cassert>
#include <cstddef>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>

#include <wexal/u8port/transcode.hpp>
#include <wexal/u8port/utf.hpp>

namespace wexal {
namespace u8port {
namespace detail {

// The units before the terminator. UTF-16 text is scanned by the library
// eight units a step (the standard count goes a unit at a time for
// char16_t).
WEXAL_U8PORT_API std::size_t wide_length(const wide_char* s) noexcept;
inline std::size_t length_of(const char* s) noexcept { return std::char_traits<char>::length(s); }
inline std::size_t length_of(const wide_char* s) noexcept { return wide_length(s); }

}  // namespace detail

// A converter held for the duration of one call. data_ptr_ is null, or points
// at inline_buffer_, or at a heap array this object alone owns; whenever it is
// not null the text there is NUL-terminated.
template <typename Out, typename In, std::size_t Capacity>
class stackstring_buffer {
public:
    using output_char = Out;
    using input_char = In;
    static constexpr std::size_t buffer_size = Capacity;

    stackstring_buffer() noexcept : data_ptr_(nullptr) { inline_buffer_[0] = Out(0); }
    explicit stackstring_buffer(const In* s) : data_ptr_(nullptr) { convert(s); }
    stackstring_buffer(const In* begin, const In* end) : data_ptr_(nullptr) { convert(begin, end); }

    // A member-wise copy would share or point into another object's storage.
    stackstring_buffer(const stackstring_buffer&) = delete;
    stackstring_buffer& operator=(const stackstring_buffer&) = delete;

    ~stackstring_buffer() { clear(); }

    // Converts a NUL-terminated string; null empties the object.
    Out* convert(const In* s) {
        if (s == nullptr) {
            clear();
            return get();
        }
        return convert(s, s + detail::length_of(s));
    }

    // Replaces the content by the conversion of [begin, end); a null begin
    // means no input. Throws std::bad_alloc when a heap array is needed and
    // cannot be had; the object is then empty.
    Out* convert(const In* begin, const In* end) {
        clear();
        if (begin == nullptr) return get();
        const std::size_t len = static_cast<std::size_t>(end - begin);
        if (len < Capacity && transcode_into(inline_buffer_, Capacity, begin, end) != nullptr) {
            data_ptr_ = inline_buffer_;
            return data_ptr_;
        }
        constexpr std::size_t max_width = static_cast<std::size_t>(codec_for_t<Out>::max_width);
        if (len > (std::numeric_limits<std::size_t>::max() / sizeof(Out) - 1) / max_width) {
            throw std::bad_array_new_length();
        }
        const std::size_t n = len * max_width + 1;
        data_ptr_ = new Out[n];
        const bool success = transcode_into(data_ptr_, n, begin, end) == data_ptr_;
        assert(success);
        static_cast<void>(success);
        return data_ptr_;
    }

    void clear() noexcept {
        if (data_ptr_ != inline_buffer_) delete[] data_ptr_;
        data_ptr_ = nullptr;
    }

    Out* get() const noexcept { return data_ptr_; }
    bool uses_inline_buffer() const noexcept { return data_ptr_ == inline_buffer_; }

private:
    Out inline_buffer_[Capacity];
    Out* data_ptr_;
};

namespace detail {

// A NUL-terminated copy of a byte range, exactly those bytes, for names that
// pass to the system as bytes (Linux): in the object up to 255 bytes, on the
// heap beyond. A null begin gives the empty name.
class byte_name {
public:
    byte_name(const char* begin, const char* end) {
        const std::size_t n = begin == nullptr ? 0 : static_cast<std::size_t>(end - begin);
        char* out = inline_;
        if (n >= inline_size) {
            heap_.reset(new char[n + 1]);
            out = heap_.get();
        }
        if (n != 0) std::memcpy(out, begin, n);
        out[n] = 0;
        name_ = out;
    }
    byte_name(const byte_name&) = delete;
    byte_name& operator=(const byte_name&) = delete;

    const char* get() const noexcept { return name_; }

private:
    static constexpr std::size_t inline_size = 256;
    std::unique_ptr<char[]> heap_;
    const char* name_;
    char inline_[inline_size];
};

}  // namespace detail

// File names, command lines and environment values (UTF-8 to UTF-16).
using wide_stackstring = stackstring_buffer<wide_char, char, 256>;
// File open modes and environment variable names (UTF-8 to UTF-16).
using wide_short_stackstring = stackstring_buffer<wide_char, char, 16>;
// Values handed back to the caller (UTF-16 to UTF-8).
using narrow_stackstring = stackstring_buffer<char, wide_char, 256>;

}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_STACKSTRING_HPP
