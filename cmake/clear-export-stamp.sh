#!/bin/sh
# Zeroes the time stamp that dlltool copies from the clock into the export
# directory of an export file, so that the same sources always link to the
# same DLL:
#   clear-export-stamp.sh velder.exp
# The export file is a COFF object: a 20-byte file header (section count at
# byte 2, optional header size at byte 16), then 40-byte section headers
# (name in the first 8 bytes, file offset of the data at byte 20). The
# export directory opens the .edata section; its time stamp is at byte 4.
exp=$1
u16() { od -An -tu2 -j"$1" -N2 "$exp" | tr -d ' '; }
u32() { od -An -tu4 -j"$1" -N4 "$exp" | tr -d ' '; }

sections=$(u16 2)
optional=$(u16 16)
i=0
while [ "$i" -lt "${sections:-0}" ]; do
    header=$((20 + optional + i * 40))
    if [ "$(dd if="$exp" bs=1 skip="$header" count=6 2>/dev/null)" = ".edata" ]; then
        data=$(u32 $((header + 20)))
        head -c 4 /dev/zero | dd of="$exp" bs=1 seek=$((data + 4)) conv=notrunc 2>/dev/null
        exit 0
    fi
    i=$((i + 1))
done
echo "$exp: no .edata section" >&2
exit 1
