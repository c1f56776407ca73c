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

#include <wexal/u8port/config.hpp>

namespace wexal {
namespace u8port {
namespace detail {

// Lets the unit tests call the private conversion steps; defined only there.
struct console_buffer_test_access;

// Collects UTF-8 bytes in a 1024-byte put area and writes them to the console
// as UTF-16 on every flush or when the area fills. An incomplete sequence at
// the end is carried over until its remaining bytes arrive.
class console_output_buffer : public std::basic_streambuf<char> {
public:
    static constexpr std::size_t buffer_size = 1024;
    // One unit per byte at most (a 4-byte sequence gives two units), so a
    // full put area never needs more than buffer_size units.
    static constexpr std::size_t wbuffer_size = 2048;

    explicit console_output_buffer(void* handle) noexcept;
    ~console_output_buffer() override;

    console_output_buffer(const console_output_buffer&) = delete;
    console_output_buffer& operator=(const console_output_buffer&) = delete;

protected:
    // Writes the pending bytes and stores c behind the carried-over ones;
    // 0 on success (never the character), -1 when nothing could be written.
    int_type overflow(int_type c) override;
    int sync() override;

private:
    friend struct console_buffer_test_access;

    // Converts [p, p + n) up to its last complete code point and writes the
    // units. Returns the bytes consumed, or -1 when n exceeds buffer_size or
    // the console failed. delivered receives the bytes of the code points
    // that reached the console (all consumed bytes on success; on failure
    // those written before it), so that nothing is written twice.
    int write_to_console(const char* p, int n, int& delivered);
    // Hands units to the console until all are taken, the console fails, or
    // it takes none. Returns the units taken, or -1 when a call failed;
    // taken then counts the units of the calls before the failure.
    int write_units(const wide_char* units, int count, int& taken);

    char buffer_[buffer_size];
    wide_char wbuffer_[wbuffer_size];
    void* handle_;
};

// Reads UTF-16 from the console, up to 1024 units at a time, and serves it as
// UTF-8, each CR LF as a single LF (as a text-mode read gives lines). A lead
// surrogate whose trail has not arrived is carried to the next read, and so
// is a CR that ends a read that filled the capacity; any number of bytes can
// be put back.
class console_input_buffer : public std::basic_streambuf<char> {
public:
    // Each unit read gives at most three bytes, so 3072 bytes suffice.
    static constexpr std::size_t buffer_size = 4096;
    static constexpr std::size_t wbuffer_size = 1024;

    explicit console_input_buffer(void* handle) noexcept;
    ~console_input_buffer() override;

    console_input_buffer(const console_input_buffer&) = delete;
    console_input_buffer& operator=(const console_input_buffer&) = delete;

protected:
    int_type underflow() override;
    // Puts c back in front of the read position; 0 on success, -1 for eof.
    int_type pbackfail(int_type c) override;

private:
    friend struct console_buffer_test_access;

    // What read_from_console returns besides a byte count.
    static constexpr std::int64_t end_of_input = 0;
    static constexpr std::int64_t read_again = -1;

    // One console read and its conversion: the bytes written at the start of
    // buffer_ (1 to 3072), end_of_input, or read_again when the read brought
    // nothing to deliver yet but input goes on. A carried CR met by the end
    // of input is delivered alone, and the end comes with the next call.
    std::int64_t read_from_console();

    char buffer_[buffer_size];
    wide_char wbuffer_[wbuffer_size];
    void* handle_;
    // 0, or 1 for a carried lead surrogate or CR at the start of wbuffer_.
    std::size_t wpending_;
    bool end_pending_;
    std::vector<char> putback_store_;
};

}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_CONSOLE_BUFFERS_HPP
