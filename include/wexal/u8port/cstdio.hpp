// UTF-8 file calls, each returning the platform call's result unchanged.
// - Windows: names are converted to UTF-16 (a malformed UTF-8 sequence
//   becomes U+FFFD) for the wide-character C runtime call; a name whose full
//   path reaches MAX_PATH (260 units) is handed over in its verbatim form, so
//   long paths work with no setting on the machine.
// - Elsewhere a name is bytes: it reaches the C library's call unchanged,
//   whatever it holds.
#ifndef WEXAL_U8PORT_CSTDIO_HPP
#define WEXAL_U8PORT_CSTDIO_HPP

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include <wexal/u8port/config.hpp>

namespace wexal {
namespace u8port {

WEXAL_U8PORT_API std::FILE* fopen(const char* file_name, const char* mode);
WEXAL_U8PORT_API std::FILE* freopen(const char* file_name, const char* mode, std::FILE* stream);
WEXAL_U8PORT_API int remove(const char* file_name);
WEXAL_U8PORT_API int rename(const char* old_name, const char* new_name);

#if defined(__cpp_char8_t)
// The same calls with C++20 UTF-8 text (u8"..." literals, std::u8string) in
// any of the name and mode arguments: u8::fopen(u8"café.txt", "rb").
template <typename N, typename M, detail::if_char8_text_args<N, M> = 0>
std::FILE* fopen(const N& file_name, const M& mode) {
    return u8port::fopen(detail::utf8_arg(file_name).get(), detail::utf8_arg(mode).get());
}
template <typename N, typename M, detail::if_char8_text_args<N, M> = 0>
std::FILE* freopen(const N& file_name, const M& mode, std::FILE* stream) {
    return u8port::freopen(detail::utf8_arg(file_name).get(), detail::utf8_arg(mode).get(), stream);
}
template <typename N, detail::if_char8_text_args<N> = 0>
int remove(const N& file_name) {
    return u8port::remove(detail::utf8_arg(file_name).get());
}
template <typename O, typename N, detail::if_char8_text_args<O, N> = 0>
int rename(const O& old_name, const N& new_name) {
    return u8port::rename(detail::utf8_arg(old_name).get(), detail::utf8_arg(new_name).get());
}
#endif

namespace detail {

// Opens a file by a name and mode already held as UTF-16; converts nothing.
WEXAL_U8PORT_API std::FILE* wfopen(const wide_char* file_name, const wide_char* mode);

#if defined(_WIN32)
// The name to hand Windows for a UTF-16 file name whose full path (as Win32
// resolves it) is MAX_PATH units or longer: "\\?\" + that full path, or
// "\\?\UNC\server\share\..." for a UNC name. Empty for every other name
// (null, short, or already in a verbatim or device form), which goes to
// Windows as it is. A short absolute name costs no system call; a relative
// one costs one, since a deep current directory can make it long.
WEXAL_U8PORT_API std::wstring long_path_form(const wchar_t* name);

// The name a file call hands to Windows: the name itself, or its long form.
class system_file_name {
public:
    explicit system_file_name(const wchar_t* name)
        : long_(long_path_form(name)), name_(long_.empty() ? name : long_.c_str()) {}
    system_file_name(const system_file_name&) = delete;
    system_file_name& operator=(const system_file_name&) = delete;

    const wchar_t* get() const noexcept { return name_; }

private:
    std::wstring long_;
    const wchar_t* name_;
};
#else
// A NUL-terminated copy of a byte range, exactly those bytes: in the object
// up to 255 bytes, on the heap beyond. A null begin gives the empty name.
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
#endif

}  // namespace detail
}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_CSTDIO_HPP
