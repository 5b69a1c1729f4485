#!/bin/sh
# Checks the export table of the built library.
#   check_exports.sh dll OBJDUMP velder.dll   module name velder, GetInfo at 1, IsQuakeActive
#                                             at 2, nothing else; only system DLLs imported
#   check_exports.sh so NM libvelder.so       exactly GetInfo and IsQuakeActive exported
#   check_exports.sh async-so NM libvelder-async.so
#                                             exactly the seven below exported, and the library
#                                             marked never to be unmapped (readelf)
#   check_exports.sh async-dll OBJDUMP velder-async.dll
#                                             ListResult, ListStart, LoadDll, QueryCancel,
#                                             QueryResult, QueryStart, UnloadDll, undecorated; only system DLLs imported
kind=$1
tool=$2
file=$3
fail=0
problem() {
    echo "$file: $*" >&2
    fail=1
}

module=velder
expected="1 GetInfo;2 IsQuakeActive;"
async_names="ListResult LoadDll ListStart QueryCancel QueryResult QueryStart UnloadDll"
if [ "$kind" = async-dll ]; then
    kind=dll
    module=velder-async.dll
    expected="1 ListResult;2 ListStart;3 LoadDll;4 QueryCancel;5 QueryResult;6 QueryStart;7 UnloadDll;"
fi

case "$kind" in
dll)
    dump=$("$tool" -p "$file") || { echo "cannot read $file" >&2; exit 1; }
    name=$(printf '%s\n' "$dump" | sed -n 's/^Name[[:space:]]\{1,\}[0-9a-f]\{1,\} //p')
    [ "$name" = "$module" ] || problem "module name is '$name', not '$module'"
    # "[Ordinal/Name Pointer] Table" rows read "[   0] GetInfo": the index is
    # the ordinal less the table's ordinal base.
    base=$(printf '%s\n' "$dump" | sed -n 's/.*Ordinal Base \([0-9]\{1,\}\).*/\1/p')
    exports=$(printf '%s\n' "$dump" |
        sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
        sed -n 's/^[[:space:]]*\[ *\([0-9]\{1,\}\)\] \(.*\)$/\1 \2/p' |
        while read -r index symbol; do echo "$((index + ${base:-0})) $symbol"; done |
        sort -n | tr '\n' ';')
    [ "$exports" = "$expected" ] || problem "exports are '$exports'"
    imports=$(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' |
        tr 'A-Z' 'a-z' | sort -u | tr '\n' ' ')
    for dll in $imports; do
        case "$dll" in
        kernel32.dll | user32.dll | wsock32.dll | ws2_32.dll | msvcrt.dll | api-ms-win-crt-*) ;;
        *) problem "imports $dll, which is not a system DLL" ;;
        esac
    done
    echo "module $name; exports $exports imports $imports"
    ;;
so)
    exports=$("$tool" -D --defined-only "$file" | awk '$2 ~ /^[TtWw]$/ {print $3}' | sort | tr '\n' ';')
    [ "$exports" = "GetInfo;IsQuakeActive;" ] || problem "exports are '$exports'"
    echo "exports $exports"
    ;;
async-so)
    exports=$("$tool" -D --defined-only "$file" | awk '$2 ~ /^[TtWw]$/ {print $3}' | sort | tr '\n' ';')
    wanted=$(printf '%s\n' $async_names | sort | tr '\n' ';')
    [ "$exports" = "$wanted" ] || problem "exports are '$exports'"
    # Its threads outlive dlclose: the library must stay mapped.
    readelf -d "$file" | grep -q 'Flags:.*NODELETE' || problem "not marked NODELETE"
    echo "exports $exports"
    ;;
*)
    echo "usage: check_exports.sh dll|so|async-dll|async-so TOOL FILE" >&2
    exit 2
    ;;
esac
exit $fail
