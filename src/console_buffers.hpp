// The stream buffers behind the standard streams when a standard handle is an
// interactive console: UTF-8 from the program becomes UTF-16 for the console,
// and console input comes back as UTF-8. Internal to the library; the unit
// tests reach them through the static build.
#ifndef WEXAL_U8PORT_CONSOLE_BUFFERS_HPP
#define WEXAL_U8PORT_CONSOLE_BUFFERS_HPP

#include <cstddef>
#include <cstdint>
#include <streambuf>
#include <vector>

#include <wexal/u8port/utf.hpp>

namespace wexal {
namespace u8port {
namespace detail {

// Collects UTF-8 bytes in a 1024-byte put area and writes them to the console
// as UTF-16 on every flush or when the area fills. An incomplete sequence at
// the end is carried over until its remaining bytes arrive.
class console_output_buffer : public std::basic_streambuf<char> {
public:
    static constexpr std::size_t buffer_size = 1024;
    static constexpr std::size_t wbuffer_size = 2048;

    explicit console_output_buffer(void* handle) noexcept;
    ~console_output_buffer() override;

protected:
    int_type overflow(int_type c) override;
    int sync() override;

private:
    using encoder = utf16_codec;

    // Converts and writes [p, p + n); returns the bytes consumed or -1.
    int write_to_console(const char* p, int n);

    char buffer_[buffer_size];
    wide_char wbuffer_[wbuffer_size];
    void* handle_;
};

// Reads UTF-16 from the console, up to 1024 units at a time, and serves it as
// UTF-8. A lead surrogate whose trail has not arrived is carried to the next
// read; any number of bytes can be put back.
class console_input_buffer : public std::basic_streambuf<char> {
public:
    static constexpr std::size_t buffer_size = 4096;
    static constexpr std::size_t wbuffer_size = 1024;

    explicit console_input_buffer(void* handle) noexcept;
    ~console_input_buffer() override;

protected:
    int_type underflow() override;
    int_type pbackfail(int_type c) override;

private:
    using encoder = utf8_codec;

    // One console read and its conversion; the bytes written to buffer_.
    std::int64_t read_from_console();

    char buffer_[buffer_size];
    wide_char wbuffer_[wbuffer_size];
    void* handle_;
    std::size_t wpending_;
    std::vector<char> putback_store_;
};

}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_CONSOLE_BUFFERS_HPP
