#!/usr/bin/env bash
# Checks the package a mIRC user downloads:
#   check_package.sh [dist/velder-VERSION-windows.zip]
# its entries and nothing else, the script and licence in it, each DLL's
# machine type, export table, version resource and absence of build paths,
# and that each DLL is the one the Windows suites loaded under Wine.
set -uo pipefail
cd "$(dirname "$0")/../.."

zip_file=${1:-$(ls dist/velder-*-windows.zip 2>/dev/null | head -n 1)}
if [ ! -f "$zip_file" ]; then
    echo "no package to check; run scripts/package first" >&2
    exit 1
fi
version=$(basename "$zip_file" | sed -n 's/^velder-\(.*\)-windows\.zip$/\1/p')

fail=0
problem() {
    echo "$zip_file: $*" >&2
    fail=1
}

entries=$(unzip -Z1 "$zip_file" | tr '\n' ' ')
[ "$entries" = "LICENSE README.txt velder-async.dll velder.dll velder.mrc x64/velder-async.dll x64/velder.dll " ] ||
    problem "entries are '$entries'"

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
unzip -q "$zip_file" -d "$dir" || problem "does not unpack"

cmp -s "$dir/velder.mrc" mirc/velder.mrc || problem "velder.mrc is not mirc/velder.mrc"
grep -q '^MIT License' "$dir/LICENSE" || problem "LICENSE is not the MIT licence"
grep -q "velder $version for mIRC" "$dir/README.txt" || problem "README.txt does not name version $version"
grep -q '/load -rs' "$dir/README.txt" || problem "README.txt does not say how to load the script"

grep -q 'velder-async.dll' "$dir/README.txt" || problem "README.txt does not name velder-async.dll"

# dll-name objdump-prefix pe-format export-kind
for dll in "velder.dll i686-w64-mingw32 pei-i386 dll" \
    "x64/velder.dll x86_64-w64-mingw32 pei-x86-64 dll" \
    "velder-async.dll i686-w64-mingw32 pei-i386 async-dll" \
    "x64/velder-async.dll x86_64-w64-mingw32 pei-x86-64 async-dll"; do
    set -- $dll
    file=$dir/$1
    format=$("$2-objdump" -f "$file" 2>/dev/null | sed -n 's/.*file format //p')
    [ "$format" = "$3" ] || problem "$1 is '$format', not $3"
    tests/check_exports.sh "$4" "$2-objdump" "$file" >/dev/null || problem "$1: export table"
    # The version resource's strings are UTF-16.
    strings -el "$file" | grep -qx 'ProductVersion' || problem "$1 has no version resource"
    strings -el "$file" | grep -qx "$version" || problem "$1 does not carry version $version"
    if strings -a "$file" | grep -q "$PWD"; then
        problem "$1 holds the build path $PWD"
    fi
done

# Each DLL is, byte for byte, the one its build tree's suites load under
# Wine (scripts/test runs them before it makes the package) without its
# debug information, which lies beside the zip and matches it.
debug=$(dirname "$zip_file")/velder-$version-debug
for dll in "velder.dll mingw32 i686-w64-mingw32" "velder-async.dll mingw32 i686-w64-mingw32" \
    "x64/velder.dll mingw64 x86_64-w64-mingw32" "x64/velder-async.dll mingw64 x86_64-w64-mingw32"; do
    set -- $dll
    built=build/$2/bin/$(basename "$1")
    "$3-objcopy" --strip-debug "$built" "$dir/built.dll"
    "$3-objcopy" --remove-section=.gnu_debuglink "$dir/$1" "$dir/shipped.dll"
    cmp -s "$dir/shipped.dll" "$dir/built.dll" || problem "$1 is not $built, the DLL the suites loaded"
    "$3-objdump" -h "$dir/$1" | grep -q '\.debug_info' && problem "$1 carries debug information"
    "$3-objdump" -h "$debug/$1.debug" 2>/dev/null | grep -q '\.debug_info' ||
        problem "no debug information for $1 in $debug"
done

[ $fail -eq 0 ] && echo "$zip_file: entries, exports, versions and tested DLLs all right"
exit $fail
