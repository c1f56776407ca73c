// The buffer of a library stream that goes through a standard library stream
// (std::cout, std::cerr, std::cin): every operation goes to that stream's
// buffer of the moment, so the bytes keep their order with what the program
// writes or reads through the standard stream, and a buffer the standard
// library replaces (std::ios::sync_with_stdio(false) does) is followed. It
// holds no bytes of its own, so it is safe from several threads as far as
// the standard stream's buffer is.
#ifndef WEXAL_U8PORT_SRC_STANDARD_BUFFER_HPP
#define WEXAL_U8PORT_SRC_STANDARD_BUFFER_HPP

#include <ios>
#include <streambuf>

namespace wexal {
namespace u8port {
namespace detail {

class standard_buffer : public std::basic_streambuf<char> {
public:
    explicit standard_buffer(std::basic_ios<char>& stream) noexcept : stream_(stream) {}

    standard_buffer(const standard_buffer&) = delete;
    standard_buffer& operator=(const standard_buffer&) = delete;

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override;
    int_type underflow() override;
    int_type uflow() override;
    std::streamsize xsgetn(char* s, std::streamsize n) override;
    std::streamsize showmanyc() override;
    int_type pbackfail(int_type c) override;
    pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode which) override;
    pos_type seekpos(pos_type pos, std::ios_base::openmode which) override;

private:
    std::basic_ios<char>& stream_;
};

}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_SRC_STANDARD_BUFFER_HPP
