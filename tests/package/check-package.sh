#!/usr/bin/env bash
# Installs the Debug and the Release build of one platform into one prefix and
# builds a consumer project against that installation, twice with CMake's
# find_package (Debug and Release) and twice with pkg-config, then runs each
# consumer (under Wine for Windows, with the installed DLLs beside it), and the
# streams example built against the package, redirected and on a console.
# With --static the builds are static libraries: the consumers must contain
# them, and one more consumer is built by hand with nothing but the include
# directory and the libraries (on Windows linked with -static, importing
# nothing but KERNEL32 and msvcrt). Without it, a Windows package brings every
# DLL its programs load, and the source tree is also taken as a subproject
# (add_subdirectory and FetchContent) by tests/subproject. Either way a
# package is not installed over the other kind.
#
#   check-package.sh [--static] linux|windows DEBUG_BUILD_DIR RELEASE_BUILD_DIR WORK_DIR
#
# WORK_DIR is emptied first; the prefix is WORK_DIR/prefix.
set -euo pipefail

static=0
if [ "${1:-}" = --static ]; then
    static=1
    shift
fi
if [ $# -ne 4 ] || { [ "$1" != linux ] && [ "$1" != windows ]; }; then
    echo "usage: $0 [--static] linux|windows DEBUG_BUILD_DIR RELEASE_BUILD_DIR WORK_DIR" >&2
    exit 2
fi
platform=$1
version=$(sed -n 's/^#define WEXAL_VERSION_STRING "\(.*\)"$/\1/p' "$(dirname "$0")/../../include/wexal/version.hpp")
debug_build=$2
release_build=$3
work=$4
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

fail() {
    echo "FAIL package ($platform): $*" >&2
    exit 1
}

rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
prefix=$work/prefix
cmake --install "$debug_build" --prefix "$prefix" >"$work/install.log"
cmake --install "$release_build" --prefix "$prefix" >>"$work/install.log"

# Exactly what the package promises, both configurations side by side, and
# every public header of the source tree as it is there.
if [ "$static" = 1 ]; then
    libraries="lib/libu8port-lib.a lib/libu8port-libd.a lib/libcalltrail_noop.a lib/libcalltrail_noopd.a
               include/wexal/u8port/static_library.hpp include/wexal/calltrail/static_library.hpp"
elif [ "$platform" = windows ]; then
    libraries="bin/u8port-lib.dll bin/u8port-libd.dll bin/calltrail_noop.dll bin/calltrail_noopd.dll
               lib/libu8port-lib.dll.a lib/libu8port-libd.dll.a lib/libcalltrail_noop.dll.a lib/libcalltrail_noopd.dll.a
               bin/libstdc++-6.dll bin/libgcc_s_seh-1.dll bin/libwinpthread-1.dll"
    # Nothing but the DLLs beside a program: those the package brings.
    export WEXAL_WINE_OWN_DLLS=1
else
    # The ELF soname carries major.minor while the major version is 0.
    libraries=$(for lib in libu8port-lib libu8port-libd libcalltrail_noop libcalltrail_noopd; do
        printf 'lib/%s.so lib/%s.so.%s lib/%s.so.%s ' $lib $lib "${version%.*}" $lib "$version"
    done)
fi
{
    printf '%s\n' $libraries \
        lib/cmake/wexal/wexalConfig.cmake lib/cmake/wexal/wexalConfigVersion.cmake \
        lib/cmake/wexal/wexal-targets.cmake lib/cmake/wexal/wexal-targets-debug.cmake \
        lib/cmake/wexal/wexal-targets-release.cmake \
        lib/pkgconfig/wexal-u8port.pc lib/pkgconfig/wexal-u8port-debug.pc \
        lib/pkgconfig/wexal-calltrail-noop.pc lib/pkgconfig/wexal-calltrail-noop-debug.pc
    (cd "$root/include" && find wexal -type f | sed 's|^|include/|')
} | LC_ALL=C sort >"$work/files.expected"
(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort) >"$work/files.installed"
diff -u --label expected --label installed "$work/files.expected" "$work/files.installed" ||
    fail "the installed files differ from what the package promises"
(cd "$root/include" && find wexal -type f -exec cmp -s {} "$prefix/include/{}" \; -o -type f -print) >"$work/headers.changed"
[ ! -s "$work/headers.changed" ] || fail "installed headers differ in content: $(paste -sd' ' "$work/headers.changed")"
grep -qF 'CXX_COMPILER_ID:MSVC>>:/utf-8' "$prefix/lib/cmake/wexal/wexal-targets.cmake" ||
    fail "the targets do not give MSVC consumers /utf-8"

if [ "$platform" = windows ]; then
    cxx=x86_64-w64-mingw32-g++-posix
    cmake_platform=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake")
    # The toolchain file confines package searches to the mingw-w64 root, as a
    # cross build should; a prefix elsewhere is named directly.
    cmake_find=(-Dwexal_DIR="$prefix/lib/cmake/wexal")
    exe=.exe
else
    cxx=${CXX:-g++}
    cmake_platform=()
    cmake_find=(-DCMAKE_PREFIX_PATH="$prefix")
    exe=
fi

# The libraries a program loads, one per line.
dependencies_of() {
    if [ "$platform" = windows ]; then
        x86_64-w64-mingw32-objdump -p "$1" | awk '/DLL Name:/ { print $3 }'
    else
        readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'
    fi
}

# run_consumer DIR PROGRAM POSTFIX: the program must load the libraries with
# the given postfix ("" or "d"), or none of them when static, and run to
# "consumer: ok". Under Wine the DLLs are copied beside it unless there already.
run_consumer() {
    local dir=$1 program=$2 postfix=$3 label=$4 lib
    local deps
    deps=$(dependencies_of "$dir/$program")
    if [ "$static" = 1 ]; then
        ! grep -qE 'u8port|calltrail' <<<"$deps" || fail "$label loads a wexal library: $(paste -sd' ' <<<"$deps")"
    fi
    for lib in u8port-lib calltrail_noop; do
        [ "$static" = 0 ] || break
        if [ "$platform" = windows ]; then lib=$lib$postfix.dll; else lib=lib$lib$postfix.so.${version%.*}; fi
        grep -qxF "$lib" <<<"$deps" || fail "$label does not load $lib (it loads: $(paste -sd' ' <<<"$deps"))"
    done
    mkdir -p "$dir/files"
    local output
    if [ "$platform" = windows ]; then
        ls "$dir"/*u8port*.dll >/dev/null 2>&1 || [ "$static" = 1 ] || cp "$prefix"/bin/*.dll "$dir/"
        output=$(cd "$dir" && "$root/cmake/wine-run.sh" "./$program" files 2>&1 </dev/null) || fail "$label: $output"
    else
        output=$(cd "$dir" && "./$program" files 2>&1 </dev/null) || fail "$label: $output"
    fi
    output=${output//$'\r'/}  # standard output is in text mode on Windows
    [ "$output" = $'consumer: before main\nconsumer: ok\nconsumer: after main' ] || fail "$label printed: $output"
    local used
    used=$(grep -E 'u8port|calltrail' <<<"$deps" | paste -sd' ' -) || true
    echo "ok   $label (${used:-linked statically})"
}

# With find_package, each configuration of the consumer picks the same
# configuration of the package; RelWithDebInfo falls back to Release.
configs="Debug Release"
[ "$platform" = linux ] && configs="$configs RelWithDebInfo"
for config in $configs; do
    dir=$work/cmake-$config
    cmake -S "$here" -B "$dir" -DCMAKE_BUILD_TYPE="$config" "${cmake_platform[@]}" "${cmake_find[@]}" \
        >"$dir.log" 2>&1 || { cat "$dir.log"; fail "configuring the find_package consumer ($config)"; }
    cmake --build "$dir" >>"$dir.log" 2>&1 || { cat "$dir.log"; fail "building the find_package consumer ($config)"; }
    postfix=
    [ "$config" = Debug ] && postfix=d
    run_consumer "$dir" "wexal_consumer$exe" "$postfix" "find_package consumer, $config"
done

# With pkg-config, the plain names are the Release build, *-debug the Debug one.
for suffix in "" -debug; do
    dir=$work/pkg-config$suffix
    mkdir -p "$dir"
    packages="wexal-u8port$suffix wexal-calltrail-noop$suffix"
    flags=$(PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" pkg-config --cflags --libs $packages) ||
        fail "pkg-config does not know $packages"
    rpath=
    if [ "$platform" = linux ]; then
        rpath=-Wl,-rpath,$(PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" pkg-config --variable=libdir wexal-u8port$suffix)
    fi
    # shellcheck disable=SC2086
    "$cxx" -std=c++17 -o "$dir/wexal_consumer$exe" "$here/consumer.cpp" $flags $rpath >"$dir.log" 2>&1 ||
        { cat "$dir.log"; fail "building the pkg-config consumer ($packages)"; }
    postfix=
    [ "$suffix" = -debug ] && postfix=d
    run_consumer "$dir" "wexal_consumer$exe" "$postfix" "pkg-config consumer, $packages"
done

if [ "$platform" = windows ]; then
    run=("$root/cmake/wine-run.sh")
else
    run=()
fi

# The streams example, built against the package (Release): redirected to
# files it writes the bytes as they are, clog's line at exit; on a console
# (a Wine console for Windows) the typed line arrives as UTF-8.
dir=$work/cmake-Release
(cd "$dir" && printf 'h\xC3\xA9\n' | "${run[@]}" "./wexal_streams$exe" >streams.out 2>streams.err) ||
    fail "the streams example, redirected, failed"
expected_out=$'cout: Gr\xC3\xBC\xC3\x9Fe, \xE4\xB8\x96\xE7\x95\x8C \xF0\x9F\x98\x80\nType a line: You typed: h\xC3\xA9\nas UTF-8: 68 C3 A9'
expected_err=$'cerr: \xC2\xA1at once!\nclog: adi\xC3\xB3s, written at exit'
[ "$(tr -d '\r' <"$dir/streams.out")" = "$expected_out" ] || fail "the streams example wrote: $(cat "$dir/streams.out")"
[ "$(tr -d '\r' <"$dir/streams.err")" = "$expected_err" ] || fail "the streams example wrote to stderr: $(cat "$dir/streams.err")"
sh "$root/tests/integration/streams_console_test.sh" "${run[@]}" "$dir/wexal_streams$exe" >"$work/console.log" 2>&1 ||
    { cat "$work/console.log"; fail "the streams example on a console"; }
echo "ok   streams example, redirected and on a console"

# By hand, with only the include directory (whose installed header says the
# libraries are static) and the libraries; on Windows one program with
# nothing to ship beside it: only the system's DLLs.
if [ "$static" = 1 ]; then
    dir=$work/by-hand
    mkdir -p "$dir"
    flags=(-std=c++17 -I"$prefix/include" -o "$dir/wexal_consumer$exe" "$here/consumer.cpp"
        "$prefix/lib/libu8port-lib.a" "$prefix/lib/libcalltrail_noop.a")
    [ "$platform" = windows ] && flags+=(-static)
    "$cxx" "${flags[@]}" >"$dir.log" 2>&1 || { cat "$dir.log"; fail "building the consumer by hand"; }
    if [ "$platform" = windows ]; then
        imports=$(dependencies_of "$dir/wexal_consumer.exe" | LC_ALL=C sort | paste -sd' ')
        # System DLLs only: ADVAPI32 gives home_directory the process's token.
        [ "$imports" = "ADVAPI32.dll KERNEL32.dll msvcrt.dll" ] || fail "the -static consumer imports $imports"
    fi
    run_consumer "$dir" "wexal_consumer$exe" "" "consumer built by hand"
fi

# Either kind of package refuses to be installed over the other.
mixed=$work/other-kind
marker=include/wexal/u8port/static_library.hpp
[ "$static" = 1 ] && marker=lib/cmake/wexal/wexal-targets.cmake
mkdir -p "$mixed/$(dirname "$marker")" && touch "$mixed/$marker"
! cmake --install "$release_build" --prefix "$mixed" >"$mixed.log" 2>&1 || fail "installed over the other kind of package"
grep -q "one into a prefix of its own" "$mixed.log" || { cat "$mixed.log"; fail "not told why the install was refused"; }
echo "ok   not installed over the other kind of package"

# A prefix with the Windows build is refused by a Linux consumer, by name,
# instead of linking the DLLs (the two builds installed into one prefix).
if [ "$platform" = windows ] && [ "$static" = 0 ]; then
    dir=$work/other-platform
    if cmake -S "$here" -B "$dir" -DCMAKE_PREFIX_PATH="$prefix" >"$dir.log" 2>&1; then
        fail "a Linux consumer took the Windows package"
    fi
    tr -s ' \n' '  ' <"$dir.log" | grep -q "built for Windows, but this project builds for Linux" ||
        { cat "$dir.log"; fail "the Linux consumer was not told why the Windows package does not fit"; }
    echo "ok   the Windows package refused to a Linux consumer"
fi

# The source tree as a subproject, both ways; it runs beside the DLLs that
# $<TARGET_RUNTIME_DLLS> names.
if [ "$static" = 0 ]; then
    for way in add_subdirectory FetchContent; do
        dir=$work/subproject-$way
        cmake -S "$root/tests/subproject" -B "$dir" -DCMAKE_BUILD_TYPE=Release -DWEXAL_SUBPROJECT_WAY=$way \
            "${cmake_platform[@]}" >"$dir.log" 2>&1 || { cat "$dir.log"; fail "configuring the subproject consumer ($way)"; }
        cmake --build "$dir" -j2 >>"$dir.log" 2>&1 || { cat "$dir.log"; fail "building the subproject consumer ($way)"; }
        if [ "$platform" = linux ]; then
            lib=$(find "$dir" -name "libu8port-lib.so.*" | head -n 1)
            [ -n "$lib" ] || fail "the subproject built no shared u8port-lib"
        fi
        ! ls -d "$dir"/wexal/bin "$dir"/wexal/lib "$dir"/_deps/wexal-build/bin "$dir"/_deps/wexal-build/lib 2>/dev/null ||
            fail "the subproject set output directories of its own"
        run_consumer "$dir" "wexal_consumer$exe" "" "subproject consumer, $way"
    done
fi
