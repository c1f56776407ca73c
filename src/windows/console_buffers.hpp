// The stream buffers behind the standard streams when a standard handle is an
// interactive console: UTF-8 from the program becomes UTF-16 for the console,
// and console input comes back as UTF-8. Internal to the library; the unit
// tests reach them through the static build.
#ifndef WEXAL_U8PORT_CONSOLE_BUFFERS_HPP
#define WEXAL_U8PORT_CONSOLE_BUFFERS_HPP

#include <cstddef>
#include <cstdint>
#include <ios>
#include <mutex>
#include <streambuf>
#include <vector>

#include <wexal/u8port/config.hpp>

namespace wexal {
namespace u8port {
namespace detail {

// Lets the unit tests call the private conversion steps; defined only there.
struct console_buffer_test_access;

// Collects UTF-8 bytes in a 4 KiB buffer and writes them to the console
// as UTF-16 at every end of line, on every flush and when the buffer fills; a
// longer write goes out in full buffers, and only the part after its last
// newline waits. An incomplete sequence at the end is carried over until its
// remaining bytes arrive.
//
// The buffer of a standard stream follows its standard handle: at every
// operation it writes where that handle points at the moment, so a program
// that changes it (freopen or _dup2 on the C runtime's descriptor, which also
// set the handle, or SetStdHandle) loses nothing. A console gets UTF-16; any
// other handle gets the bytes unchanged: through the standard library's
// stream (std::cout, std::cerr) where the C runtime's descriptor points there
// too, so that the order with that stream is kept, else straight to the
// handle. Bytes still held for a console that has gone go first, wherever
// the next ones go. A console write that fails because the handle is no
// longer a console (a handle value reused for a file) is not an error: the
// bytes go to the file.
//
// The buffer is safe to use from several threads at once: it exposes no put
// area to the stream, so every sputc, sputn and pubsync reaches a virtual
// below, and each takes the buffer's lock. So the bytes of one output
// operation (one sputn, one sputc) stay together, in the order the operations
// took the lock, and a sequence is never cut by another thread's bytes.
class console_output_buffer : public std::basic_streambuf<char> {
public:
    static constexpr std::size_t buffer_size = 4096;
    // One unit per byte at most (a 4-byte sequence gives two units), so a
    // full buffer never needs more than buffer_size units.
    static constexpr std::size_t wbuffer_size = 4096;

    // A buffer on one console handle, for good.
    explicit console_output_buffer(void* handle) noexcept;
    // The buffer of a standard stream: the standard handle `which`, the C
    // runtime's descriptor fd and the standard library's stream of the same
    // kind.
    console_output_buffer(std::uint32_t which, int fd, std::basic_ios<char>& standard) noexcept;
    ~console_output_buffer() override;

    console_output_buffer(const console_output_buffer&) = delete;
    console_output_buffer& operator=(const console_output_buffer&) = delete;

protected:
    // Stores c (written out at once if it ends a line); 0 on success (never
    // the character), -1 when the console failed. With eof, writes the pending
    // bytes: 0, or -1 when the console failed.
    int_type overflow(int_type c) override;
    // The bytes taken: all n, or fewer when the console failed (the bytes of
    // this call that did not reach it are not kept).
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override;

private:
    friend struct console_buffer_test_access;

    // Where the bytes go now.
    enum class target { console, standard, handle };

    // With the lock held: looks at the standard handle (a fixed buffer always
    // writes to its console), and hands what is pending to anything but a
    // console.
    target follow();
    // With the lock held, after a console write failed: whether the handle
    // is no console any more; if so the pending bytes have gone the way the
    // next ones go.
    bool lost_console();
    // The bytes as they are, to the standard stream or to the handle; the
    // bytes taken.
    std::streamsize write_bytes(target to, const char* s, std::size_t n);
    // With the lock held: copies the bytes behind the pending ones, writing
    // out each full buffer, then writes out up to the last newline among
    // them. Returns the bytes taken.
    std::streamsize put(const char* s, std::size_t n);
    // With the lock held: writes buffer_[0, n) up to its last complete code
    // point and moves what remains of the pending bytes to the front. False
    // when the console failed; the bytes it took are dropped all the same.
    bool write_out(std::size_t n);
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

    std::mutex lock_;
    char buffer_[buffer_size];
    std::size_t pending_;
    wide_char wbuffer_[wbuffer_size];
    void* handle_;
    std::uint32_t which_;  // 0: a fixed handle
    int fd_;
    std::basic_ios<char>* standard_;
    bool console_;
};

// Reads UTF-16 from the console, up to 1024 units at a time, and serves it as
// UTF-8, each CR LF as a single LF (as a text-mode read gives lines). A lead
// surrogate whose trail has not arrived is carried to the next read, and so
// is a CR that ends a read that filled the capacity; any number of bytes can
// be put back.
//
// Like the output buffer it exposes no get area to the stream: every read and
// put-back reaches a virtual below, which takes the buffer's lock, so readers
// on several threads each get whole bytes of the input, none twice.
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
    int_type uflow() override;
    std::streamsize xsgetn(char* s, std::streamsize n) override;
    std::streamsize showmanyc() override;
    // Puts c back in front of the read position; 0 on success, -1 for eof.
    // With eof, steps back over the last byte read from the console, if any.
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
    // With the lock held: the next byte, reading the console when none is
    // left, or eof.
    int_type peek();

    std::mutex lock_;
    // The get area the stream does not see: in buffer_ or in the put-back
    // store, input (read or put back) from gvalid_ on, free room before it.
    char* gbegin_;
    char* gvalid_;
    char* gnext_;
    char* gend_;
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
