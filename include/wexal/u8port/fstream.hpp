// File streams that take their names in UTF-8, on Windows too.
//
// Each class is the standard class of the same name (public derivation), so a
// u8port::ifstream binds to std::ifstream&, std::istream& and the rest, and
// all reading, writing, seeking, modes, exception masks, move and swap are the
// standard library's own. What changes is how a name is read: the narrow
// constructors and open() take UTF-8 and hide the base's narrow open(), which
// reads the name in the ANSI code page on Windows. A u8port stream passed as a
// std:: stream and opened through the base's open() gets that behaviour back.
//
// The file is opened by the standard basic_filebuf itself, by the name
// u8port::fopen gives the system: on Windows the UTF-16 name (its verbatim
// form when the full path reaches MAX_PATH), on other systems the bytes as
// they are. Names up to 255 bytes cost no heap allocation.
#ifndef WEXAL_U8PORT_FSTREAM_HPP
#define WEXAL_U8PORT_FSTREAM_HPP

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include <wexal/u8port/config.hpp>
#include <wexal/u8port/stackstring.hpp>

#if defined(_WIN32)
#if defined(__GLIBCXX__)
#if !(_GLIBCXX_HAVE__WFOPEN && _GLIBCXX_USE_WCHAR_T)
#error "wexal/u8port/fstream.hpp: this libstdc++ cannot open a file stream by a wchar_t name"
#endif
#elif defined(_LIBCPP_VERSION)
#if !defined(_LIBCPP_HAS_OPEN_WITH_WCHAR)
#error "wexal/u8port/fstream.hpp: this libc++ cannot open a file stream by a wchar_t name"
#endif
#elif !defined(_MSVC_STL_VERSION) && !defined(_CPPLIB_VER)
#error "wexal/u8port/fstream.hpp: unknown standard library; its file streams may not open a wchar_t name"
#endif
#endif

namespace wexal {
namespace u8port {
namespace detail {

// The name a UTF-8 open() hands to the standard filebuf: on Windows the one
// every file call of the library hands Windows; elsewhere the bytes,
// unchanged. A null name becomes the empty name, which no system opens.
#if defined(_WIN32)
// The name every file call of the library hands Windows for a UTF-8 name: in
// converted, or in spill for a lossless name (a lone surrogate's three-byte
// form) or one whose full path is long (its verbatim form).
WEXAL_U8PORT_API const wchar_t* to_system_name(const char* begin, const char* end, wide_stackstring& converted,
                                               std::wstring& spill);

class stream_file_name {
public:
    stream_file_name(const char* begin, const char* end) : name_(to_system_name(begin, end, converted_, spill_)) {}
    explicit stream_file_name(const char* name)
        : stream_file_name(name, name == nullptr ? nullptr : name + std::char_traits<char>::length(name)) {}

    const wchar_t* get() const noexcept { return name_; }

private:
    wide_stackstring converted_;
    std::wstring spill_;
    const wchar_t* name_;
};
#else
class stream_file_name {
public:
    stream_file_name(const char* begin, const char* end) : name_(begin, end) {}
    explicit stream_file_name(const char* name)
        : stream_file_name(name, name == nullptr ? nullptr : name + std::char_traits<char>::length(name)) {}

    const char* get() const noexcept { return name_.get(); }

private:
    byte_name name_;
};
#endif

// Exactly std::filesystem::path: a string or string_view must never reach
// the path forms, which would read it in the locale's encoding.
template <typename P>
using if_fs_path = std::enable_if_t<std::is_same<P, std::filesystem::path>::value, int>;

// A standard file stream (Base) with constructors and open() in every name
// form; Mode is the standard's default mode for Base.
template <typename Base, std::ios_base::openmode Mode>
class file_stream : public Base {
public:
    file_stream() = default;
    // Written out: an implicit move would have to move the virtual basic_ios,
    // which cannot be; the standard streams leave it to Base.
    file_stream(file_stream&& other) : Base(std::move(other)) {}
    file_stream& operator=(file_stream&& other) {
        Base::operator=(std::move(other));
        return *this;
    }
    explicit file_stream(const char* name, std::ios_base::openmode mode = Mode) { open(name, mode); }
    explicit file_stream(const std::string& name, std::ios_base::openmode mode = Mode) { open(name, mode); }
    explicit file_stream(std::string_view name, std::ios_base::openmode mode = Mode) { open(name, mode); }
    template <typename P, if_fs_path<P> = 0>
    explicit file_stream(const P& name, std::ios_base::openmode mode = Mode) {
        open(name, mode);
    }

    // UTF-8 names.
    void open(const char* name, std::ios_base::openmode mode = Mode) {
        const stream_file_name native(name);
        Base::open(native.get(), mode);
    }
    void open(const std::string& name, std::ios_base::openmode mode = Mode) { open(std::string_view(name), mode); }
    void open(std::string_view name, std::ios_base::openmode mode = Mode) {
        const stream_file_name native(name.data(), name.data() + name.size());
        Base::open(native.get(), mode);
    }
    // A path holds the platform's own name already.
    template <typename P, if_fs_path<P> = 0>
    void open(const P& name, std::ios_base::openmode mode = Mode) {
        Base::open(name.c_str(), mode);
    }

#if defined(_WIN32)
    explicit file_stream(const wchar_t* name, std::ios_base::openmode mode = Mode) { open(name, mode); }
    void open(const wchar_t* name, std::ios_base::openmode mode = Mode) { Base::open(name, mode); }
#endif

#if defined(__cpp_char8_t)
    template <typename C, if_char8_unit<C> = 0>
    explicit file_stream(const C* name, std::ios_base::openmode mode = Mode) {
        open(as_chars(name), mode);
    }
    explicit file_stream(std::u8string_view name, std::ios_base::openmode mode = Mode) { open(as_chars(name), mode); }
    template <typename C, if_char8_unit<C> = 0>
    void open(const C* name, std::ios_base::openmode mode = Mode) {
        open(as_chars(name), mode);
    }
    void open(std::u8string_view name, std::ios_base::openmode mode = Mode) { open(as_chars(name), mode); }
#endif
};

}  // namespace detail

// The standard file buffer, with open() taking UTF-8 names as the streams do.
template <typename CharT, typename Traits = std::char_traits<CharT>>
class basic_filebuf : public std::basic_filebuf<CharT, Traits> {
    using base = std::basic_filebuf<CharT, Traits>;

public:
    basic_filebuf() = default;

    basic_filebuf* open(const char* name, std::ios_base::openmode mode) {
        const detail::stream_file_name native(name);
        return base::open(native.get(), mode) != nullptr ? this : nullptr;
    }
    basic_filebuf* open(const std::string& name, std::ios_base::openmode mode) {
        return open(std::string_view(name), mode);
    }
    basic_filebuf* open(std::string_view name, std::ios_base::openmode mode) {
        const detail::stream_file_name native(name.data(), name.data() + name.size());
        return base::open(native.get(), mode) != nullptr ? this : nullptr;
    }
    template <typename P, detail::if_fs_path<P> = 0>
    basic_filebuf* open(const P& name, std::ios_base::openmode mode) {
        return base::open(name.c_str(), mode) != nullptr ? this : nullptr;
    }
#if defined(_WIN32)
    basic_filebuf* open(const wchar_t* name, std::ios_base::openmode mode) {
        return base::open(name, mode) != nullptr ? this : nullptr;
    }
#endif
#if defined(__cpp_char8_t)
    template <typename C, detail::if_char8_unit<C> = 0>
    basic_filebuf* open(const C* name, std::ios_base::openmode mode) {
        return open(detail::as_chars(name), mode);
    }
    basic_filebuf* open(std::u8string_view name, std::ios_base::openmode mode) {
        return open(detail::as_chars(name), mode);
    }
#endif
};

template <typename CharT, typename Traits = std::char_traits<CharT>>
class basic_ifstream : public detail::file_stream<std::basic_ifstream<CharT, Traits>, std::ios_base::in> {
    using stream = detail::file_stream<std::basic_ifstream<CharT, Traits>, std::ios_base::in>;

public:
    using stream::stream;
    basic_ifstream() = default;
    basic_ifstream(basic_ifstream&& other) : stream(std::move(other)) {}
    basic_ifstream& operator=(basic_ifstream&& other) {
        stream::operator=(std::move(other));
        return *this;
    }
};

template <typename CharT, typename Traits = std::char_traits<CharT>>
class basic_ofstream : public detail::file_stream<std::basic_ofstream<CharT, Traits>, std::ios_base::out> {
    using stream = detail::file_stream<std::basic_ofstream<CharT, Traits>, std::ios_base::out>;

public:
    using stream::stream;
    basic_ofstream() = default;
    basic_ofstream(basic_ofstream&& other) : stream(std::move(other)) {}
    basic_ofstream& operator=(basic_ofstream&& other) {
        stream::operator=(std::move(other));
        return *this;
    }
};

template <typename CharT, typename Traits = std::char_traits<CharT>>
class basic_fstream
    : public detail::file_stream<std::basic_fstream<CharT, Traits>, std::ios_base::in | std::ios_base::out> {
    using stream = detail::file_stream<std::basic_fstream<CharT, Traits>, std::ios_base::in | std::ios_base::out>;

public:
    using stream::stream;
    basic_fstream() = default;
    basic_fstream(basic_fstream&& other) : stream(std::move(other)) {}
    basic_fstream& operator=(basic_fstream&& other) {
        stream::operator=(std::move(other));
        return *this;
    }
};

using filebuf = basic_filebuf<char>;
using ifstream = basic_ifstream<char>;
using ofstream = basic_ofstream<char>;
using fstream = basic_fstream<char>;

}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_FSTREAM_HPP
