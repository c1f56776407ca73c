#!/usr/bin/env bash
# Checks what a shared library exports and what it loads.
#
#   check-exports.sh EXPECTED LIBRARY...
#
# LIBRARY is one library in one or more configurations (Debug, Release), all
# for the same platform: a Windows DLL (read with x86_64-w64-mingw32-objdump
# -p) or an ELF .so (read with nm -D --defined-only). For each file the
# exported symbols are demangled with c++filt and checked:
#   - the library's own symbols (those naming wexal::) are exactly the lines
#     of EXPECTED for this platform (see the comments in the lists);
#   - anything else is a weak out-of-line copy of a standard-library template
#     (ELF only; a DLL exports only what is marked for export);
#   - the libraries it loads are the language runtime (and, for a DLL,
#     KERNEL32), never another wexal library; with WEXAL_C_RUNTIME=ucrt in
#     the environment a DLL's runtime is the UCRT alone.
# With several files, their own symbols must also be identical, mangled name
# by mangled name. Prints the symbol counts of each file; exits non-zero on
# the first library that fails.
set -euo pipefail

if [ $# -lt 2 ]; then
    echo "usage: $0 EXPECTED LIBRARY..." >&2
    exit 2
fi
expected_file=$1
shift

objdump_pe=${OBJDUMP_PE:-x86_64-w64-mingw32-objdump}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

platform_of() {
    if [ "$(head -c 2 "$1")" = "MZ" ]; then
        echo windows
    elif [ "$(head -c 4 "$1" | tail -c 3)" = "ELF" ]; then
        echo linux
    else
        echo "$1: neither a PE nor an ELF file" >&2
        exit 1
    fi
}

# One line per exported symbol: "<kind> <mangled>", kind being "weak" or
# "strong" (a DLL's exports are all strong).
exports_of() {
    local file=$1
    case $(platform_of "$file") in
    windows)
        "$objdump_pe" -p "$file" | awk '
            /^\[Ordinal\/Name Pointer\] Table/ { table = 1; next }
            table && NF == 0 { table = 0 }
            table && $1 ~ /^\[/ { print "strong", $NF }'
        ;;
    linux)
        nm -D --defined-only "$file" | awk '
            NF == 3 { print ($2 ~ /^[WwVvu]$/ ? "weak" : "strong"), $3 }'
        ;;
    esac
}

# The libraries a file loads, one per line.
dependencies_of() {
    local file=$1
    case $(platform_of "$file") in
    windows) "$objdump_pe" -p "$file" | awk '/DLL Name:/ { print $3 }' ;;
    linux) readelf -d "$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' ;;
    esac
}

# WEXAL_C_RUNTIME=ucrt: a DLL built against the Universal C runtime, with the
# C++ runtime linked in, loads the UCRT alone (never msvcrt.dll, nor the
# compiler's DLLs, which import it). Besides KERNEL32 a DLL may load ADVAPI32,
# for the token of the user's profile folder.
c_runtime=${WEXAL_C_RUNTIME:-msvcrt}
allowed_dependency() {
    if [ "$c_runtime" = ucrt ]; then
        case $1 in
        KERNEL32.dll | ADVAPI32.dll | ucrtbase.dll | api-ms-win-crt-*-l1-1-0.dll) return 0 ;;
        *) return 1 ;;
        esac
    fi
    case $1 in
    KERNEL32.dll | ADVAPI32.dll | msvcrt.dll | libstdc++-6.dll | libgcc_s_seh-1.dll | libwinpthread-1.dll) return 0 ;;
    libstdc++.so.6 | libm.so.6 | libgcc_s.so.1 | libc.so.6 | ld-linux-x86-64.so.2) return 0 ;;
    *) return 1 ;;
    esac
}

# The expected demangled symbols for a platform, sorted.
expected_for() {
    local platform=$1
    sed -e 's/[[:space:]]*$//' "$expected_file" | awk -v platform="$platform" '
        /^[[:space:]]*(#|$)/ { next }
        /^(linux|windows):/ {
            tag = $0; sub(/:.*/, "", tag)
            if (tag != platform) next
            sub(/^[a-z]+:[[:space:]]*/, "")
        }
        { print }' | LC_ALL=C sort -u
}

status=0
first_own=""
first_file=""
index=0
for library in "$@"; do
    index=$((index + 1))
    platform=$(platform_of "$library")
    name=$(basename "$library")
    if [ -n "${first_platform:-}" ] && [ "$platform" != "$first_platform" ]; then
        echo "$name is for $platform, $first_file for $first_platform: compare one platform at a time" >&2
        exit 2
    fi
    raw="$work/$index.raw"
    exports_of "$library" >"$raw"
    # "<kind>\t<mangled>\t<demangled>"
    cut -d' ' -f2 "$raw" | c++filt >"$work/$index.demangled"
    paste <(cut -d' ' -f1 "$raw") <(cut -d' ' -f2 "$raw") "$work/$index.demangled" >"$work/$index.table"

    awk -F'\t' 'index($3, "wexal::")' "$work/$index.table" >"$work/$index.own"
    awk -F'\t' '!index($3, "wexal::")' "$work/$index.table" >"$work/$index.other"
    cut -f3 "$work/$index.own" | LC_ALL=C sort -u >"$work/$index.own-demangled"
    expected_for "$platform" >"$work/$index.expected"

    failed=0
    if ! diff -u --label "expected ($platform)" --label "$name" "$work/$index.expected" "$work/$index.own-demangled" \
        >"$work/$index.diff"; then
        echo "FAIL $name: its own exported symbols differ from $(basename "$expected_file"):"
        sed -n '3,$p' "$work/$index.diff"
        failed=1
    fi

    # Outside wexal, only weak copies of standard-library templates, on ELF.
    instantiations=0
    while IFS=$'\t' read -r kind mangled demangled; do
        # Mangled names in std:: or __gnu_cxx::, and their typeinfo and vtables.
        if [ "$platform" = linux ] && [ "$kind" = weak ] &&
            [[ "$mangled" =~ ^_Z(T[ISV])?(NK?)?(St|9__gnu_cxx) ]]; then
            instantiations=$((instantiations + 1))
        else
            echo "FAIL $name: exports $demangled ($mangled), which is not its own"
            failed=1
        fi
    done <"$work/$index.other"

    while read -r dependency; do
        if ! allowed_dependency "$dependency"; then
            echo "FAIL $name: loads $dependency, which is not the language runtime"
            failed=1
        fi
    done < <(dependencies_of "$library")

    cut -f2 "$work/$index.own" | LC_ALL=C sort >"$work/$index.own-mangled"
    if [ -z "$first_own" ]; then
        first_own="$work/$index.own-mangled"
        first_file=$name
        first_platform=$platform
    elif ! diff -u --label "$first_file" --label "$name" "$first_own" "$work/$index.own-mangled" >"$work/$index.cdiff"; then
        echo "FAIL $name exports other symbols of its own than $first_file:"
        sed -n '3,$p' "$work/$index.cdiff" | c++filt
        failed=1
    fi

    total=$(wc -l <"$work/$index.table")
    own=$(wc -l <"$work/$index.own")
    distinct=$(wc -l <"$work/$index.own-demangled")
    deps=$(dependencies_of "$library" | paste -sd' ' -)
    deps=${deps:-nothing}
    summary="$name ($platform): $total exported symbols, $own of its own ($distinct distinct demangled)"
    [ "$platform" = linux ] && summary="$summary, $instantiations standard-library instantiations"
    if [ "$failed" = 0 ]; then
        echo "ok   $summary; loads $deps"
    else
        echo "     $summary; loads $deps"
        status=1
    fi
done
exit "$status"
