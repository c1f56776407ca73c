// UTF-8 standard streams: cin, cout, cerr and clog.
//
// On Windows an output stream writes where its standard handle points at the
// moment of the write, and cin decides once, when the library is loaded. On
// an interactive console a stream has a buffer that talks UTF-16 to the
// console, so UTF-8 text in any script shows correctly and typed input
// arrives as UTF-8. Otherwise (a file, a pipe, no handle at all; and always on
// Linux, where a terminal takes bytes as a pipe does) it reads and writes
// through the standard library's stream of the same kind: through whatever
// buffer that stream has at each operation, so a buffer the standard library
// replaces (std::ios::sync_with_stdio(false)) is followed. The bytes pass
// through unchanged, in order with what the program writes to std::cout,
// std::cerr or reads from std::cin. (A handle set with SetStdHandle that the
// C runtime's descriptor does not follow gets the bytes itself.)
//
// cout has no tie; cin, cerr and clog are tied to cout, so cout is flushed
// before input is read and before diagnostics are written; on Windows
// std::cin is tied to cout too, so that a prompt written through cout shows
// before std::cin reads. cerr is
// unit-buffered like std::cerr: every output operation reaches the console at
// once. On a console, cout and clog write out at every end of line, as a
// console shows std::cout's lines (a large write still goes out in large
// console writes); clog has a buffer of its own even when it shares the
// console with cerr. What is still pending is written before the library
// starts another program and when the library is unloaded (at process exit or
// on an explicit unload).
//
// The streams may be used from several threads at once, like the standard
// library's: on a console the bytes of one output operation reach it
// together; redirected, the standard library's buffers give what they give.
#ifndef WEXAL_U8PORT_IOSTREAM_HPP
#define WEXAL_U8PORT_IOSTREAM_HPP

#include <istream>
#include <memory>
#include <ostream>

#include <wexal/u8port/config.hpp>

namespace wexal {
namespace u8port {
namespace detail {

// An output stream on standard output (fd 1) or standard error (fd 2). Any
// other fd means no handle: the stream then writes through std::cerr. A
// stream built on a console has a buffer of its own, independent of any other
// stream on the same console.
class WEXAL_U8PORT_API winconsole_ostream : public std::basic_ostream<char> {
public:
    winconsole_ostream(int fd, winconsole_ostream* tie_stream);
    // Flushes (discarding any exception), then deletes its buffer.
    ~winconsole_ostream() override;

    winconsole_ostream(const winconsole_ostream&) = delete;
    winconsole_ostream& operator=(const winconsole_ostream&) = delete;

private:
    std::unique_ptr<std::basic_streambuf<char>> buffer_;
};

// An input stream on standard input.
class WEXAL_U8PORT_API winconsole_istream : public std::basic_istream<char> {
public:
    explicit winconsole_istream(winconsole_ostream* tie_stream);
    // Deletes its buffer; nothing is flushed.
    ~winconsole_istream() override;

    winconsole_istream(const winconsole_istream&) = delete;
    winconsole_istream& operator=(const winconsole_istream&) = delete;

private:
    std::unique_ptr<std::basic_streambuf<char>> buffer_;
};

}  // namespace detail

#if defined(WEXAL_U8PORT_STATIC)
// In a static library nothing orders the library's initialisation before the
// program's, so the objects are built as std::cout is: every translation unit
// that includes this header holds a counter object, the first one constructed
// builds the four streams and the last one destroyed flushes them. So they
// exist before any global constructor of a unit that includes this header
// runs. Like the standard library's they are never destroyed: after the last
// counter object is gone every output operation goes out at once, so output
// from a later destructor or exit handler still arrives. (A shared library is
// initialised before the programs that link it and finalised after them, and
// needs none of this.) Like the standard library's, this assumes that static
// initialisation and termination run on one thread.
namespace detail {

class standard_streams_init {
public:
    standard_streams_init();
    ~standard_streams_init();

    standard_streams_init(const standard_streams_init&) = delete;
    standard_streams_init& operator=(const standard_streams_init&) = delete;
};

}  // namespace detail

extern detail::winconsole_ostream& cout;
extern detail::winconsole_istream& cin;
extern detail::winconsole_ostream& cerr;
extern detail::winconsole_ostream& clog;

namespace detail {
static standard_streams_init standard_streams_init_object;
}  // namespace detail
#else
extern WEXAL_U8PORT_API detail::winconsole_ostream cout;
extern WEXAL_U8PORT_API detail::winconsole_istream cin;
extern WEXAL_U8PORT_API detail::winconsole_ostream cerr;
extern WEXAL_U8PORT_API detail::winconsole_ostream clog;
#endif

}  // namespace u8port
}  // namespace wexal

#endif  // WEXAL_U8PORT_IOSTREAM_HPP
