#include "standard_buffer.hpp"

namespace wexal {
namespace u8port {
namespace detail {

// A standard stream without a buffer takes and gives nothing, as it would.

standard_buffer::int_type standard_buffer::overflow(int_type c) {
    std::basic_streambuf<char>* const target = stream_.rdbuf();
    if (target == nullptr) return traits_type::eof();
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    return target->sputc(traits_type::to_char_type(c));
}

std::streamsize standard_buffer::xsputn(const char* s, std::streamsize n) {
    std::basic_streambuf<char>* const target = stream_.rdbuf();
    return target == nullptr ? 0 : target->sputn(s, n);
}

int standard_buffer::sync() {
    std::basic_streambuf<char>* const target = stream_.rdbuf();
    return target == nullptr ? -1 : target->pubsync();
}

standard_buffer::int_type standard_buffer::underflow() {
    std::basic_streambuf<char>* const target = stream_.rdbuf();
    return target == nullptr ? traits_type::eof() : target->sgetc();
}

standard_buffer::int_type standard_buffer::uflow() {
    std::basic_streambuf<char>* const target = stream_.rdbuf();
    return target == nullptr ? traits_type::eof() : target->sbumpc();
}

std::streamsize standard_buffer::xsgetn(char* s, std::streamsize n) {
    std::basic_streambuf<char>* const target = stream_.rdbuf();
    return target == nullptr ? 0 : target->sgetn(s, n);
}

std::streamsize standard_buffer::showmanyc() {
    std::basic_streambuf<char>* const target = stream_.rdbuf();
    return target == nullptr ? -1 : target->in_avail();
}

standard_buffer::int_type standard_buffer::pbackfail(int_type c) {
    std::basic_streambuf<char>* const target = stream_.rdbuf();
    if (target == nullptr) return traits_type::eof();
    if (traits_type::eq_int_type(c, traits_type::eof())) return target->sungetc();
    return target->sputbackc(traits_type::to_char_type(c));
}

standard_buffer::pos_type standard_buffer::seekoff(off_type off, std::ios_base::seekdir dir,
                                                   std::ios_base::openmode which) {
    std::basic_streambuf<char>* const target = stream_.rdbuf();
    return target == nullptr ? pos_type(off_type(-1)) : target->pubseekoff(off, dir, which);
}

standard_buffer::pos_type standard_buffer::seekpos(pos_type pos, std::ios_base::openmode which) {
    std::basic_streambuf<char>* const target = stream_.rdbuf();
    return target == nullptr ? pos_type(off_type(-1)) : target->pubseekpos(pos, which);
}

}  // namespace detail
}  // namespace u8port
}  // namespace wexal
