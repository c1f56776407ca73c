// Everything u8port-lib offers, in one include.
#ifndef WEXAL_U8PORT_HPP
#define WEXAL_U8PORT_HPP

#include <wexal/u8port/args.hpp>
#include <wexal/u8port/config.hpp>
#include <wexal/u8port/convert.hpp>
#include <wexal/u8port/cstdio.hpp>
#include <wexal/u8port/cstdlib.hpp>
#include <wexal/u8port/filesystem.hpp>
#include <wexal/u8port/fstream.hpp>
#include <wexal/u8port/iostream.hpp>
#include <wexal/u8port/process.hpp>
#include <wexal/u8port/stackstring.hpp>
#include <wexal/u8port/system.hpp>
#include <wexal/u8port/system_error.hpp>
#include <wexal/u8port/utf.hpp>

#endif  // WEXAL_U8PORT_HPP
