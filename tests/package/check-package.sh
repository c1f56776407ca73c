#!/usr/bin/env bash
# Installs the Debug and the Release build of one platform into one prefix and
# builds a consumer project against that installation, twice with CMake's
# find_package (Debug and Release) and twice with pkg-config, then runs each
# consumer (under Wine for Windows, with the installed DLLs beside it).
#
#   check-package.sh linux|windows DEBUG_BUILD_DIR RELEASE_BUILD_DIR WORK_DIR
#
# WORK_DIR is emptied first; the prefix is WORK_DIR/prefix.
set -euo pipefail

if [ $# -ne 4 ] || { [ "$1" != linux ] && [ "$1" != windows ]; }; then
    echo "usage: $0 linux|windows DEBUG_BUILD_DIR RELEASE_BUILD_DIR WORK_DIR" >&2
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
if [ "$platform" = windows ]; then
    libraries="bin/u8port-lib.dll bin/u8port-libd.dll bin/calltrail_noop.dll bin/calltrail_noopd.dll
               lib/libu8port-lib.dll.a lib/libu8port-libd.dll.a lib/libcalltrail_noop.dll.a lib/libcalltrail_noopd.dll.a"
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
# the given postfix ("" or "d"), and run to "consumer: ok".
run_consumer() {
    local dir=$1 program=$2 postfix=$3 label=$4 lib
    local deps
    deps=$(dependencies_of "$dir/$program")
    for lib in u8port-lib calltrail_noop; do
        if [ "$platform" = windows ]; then lib=$lib$postfix.dll; else lib=lib$lib$postfix.so.${version%.*}; fi
        grep -qxF "$lib" <<<"$deps" || fail "$label does not load $lib (it loads: $(paste -sd' ' <<<"$deps"))"
    done
    mkdir -p "$dir/files"
    local output
    if [ "$platform" = windows ]; then
        cp "$prefix"/bin/*.dll "$dir/"
        output=$(cd "$dir" && "$root/cmake/wine-run.sh" "./$program" files 2>&1 </dev/null) || fail "$label: $output"
    else
        output=$(cd "$dir" && "./$program" files 2>&1 </dev/null) || fail "$label: $output"
    fi
    output=${output//$'\r'/}  # standard output is in text mode on Windows
    [ "$output" = "consumer: ok" ] || fail "$label printed: $output"
    echo "ok   $label ($(grep -E 'u8port|calltrail' <<<"$deps" | paste -sd' ' -))"
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
