#!/usr/bin/env python3
"""Sets two facts of the OLE Automation library that widl cannot state in IDL.

usage: fixup.py IN.tlb OUT.tlb

- StdFont's event source is FontEvents, which comes near the end of the library. widl gives a
  type its index where it is first referenced, so naming FontEvents in StdFont would move it
  (and every type after StdFont) to other indexes, and importers refer to the types without a
  GUID by index. The IDL names Font in its place; this points that reference at FontEvents.
- LoadPicture counts no optional parameters (cParamsOpt 0), although its first one is
  optional; widl counts every optional parameter. Its default widths are I4 zeros, where widl
  types a default as its parameter (INT).
- The dispatch interfaces derive from the library's own IDispatch, where widl refers to it
  through an import of stdole2.tlb, that is of the library itself; the import goes.
- Font, a dispatch interface, has the size and alignment of a pointer (4), not of its largest
  property (the 8-byte CY of Size).
- widl's own custom data on the library (its version and the time of the build) goes, so that
  every build writes the same file.

Each change is checked before it is made; anything unexpected stops the build.
"""
import struct
import sys

HEADER = 0x54
TYPEINFO = 0x64
REFTAB, NAMETAB = 3, 7


def main(src, dst):
    data = bytearray(open(src, 'rb').read())
    i32 = lambda at: struct.unpack_from('<i', data, at)[0]
    if data[:4] != b'MSFT':
        sys.exit('fixup.py: %s is not an MSFT type library' % src)
    count = i32(0x20)
    offsets_at = HEADER + (4 if i32(0x14) & 0x100 else 0)
    segments_at = offsets_at + count * 4
    seg = [i32(segments_at + 16 * s) for s in range(15)]
    type_base = seg[0]
    offsets = [i32(offsets_at + 4 * i) for i in range(count)]

    def field(index, n):
        return i32(type_base + offsets[index] + 4 * n)

    def name(index):
        at = seg[NAMETAB] + field(index, 13)
        length = i32(at + 8) & 0xFF
        return data[at + 12:at + 12 + length].decode('latin-1')

    by_name = {name(i): i for i in range(count)}
    for wanted in ('IDispatch', 'StdFont', 'Font', 'FontEvents', 'StdFunctions'):
        if wanted not in by_name:
            sys.exit('fixup.py: no type %s' % wanted)

    # StdFont's second implemented type: the second record of its reference chain.
    first = seg[REFTAB] + field(by_name['StdFont'], 21)
    second = seg[REFTAB] + i32(first + 12)
    if i32(second) != offsets[by_name['Font']] or i32(second + 4) != 3:
        sys.exit('fixup.py: StdFont does not name [default, source] Font second')
    struct.pack_into('<i', data, second, offsets[by_name['FontEvents']])

    # LoadPicture: the first function record of StdFunctions; cParamsOpt at +22, then the
    # default values (one word per parameter) before the 12-byte parameter records.
    record = field(by_name['StdFunctions'], 1) + 4
    length = i32(record) & 0xFFFF
    if struct.unpack_from('<hh', data, record + 20) != (5, 4) or not i32(record + 16) & 0x1000:
        sys.exit('fixup.py: StdFunctions does not start with LoadPicture')
    struct.pack_into('<h', data, record + 22, 0)
    defaults = record + length - 5 * 12 - 5 * 4
    vt_int, vt_i4 = 22, 3
    for param in (1, 2):
        at = defaults + 4 * param
        if struct.unpack_from('<I', data, at)[0] != 0x80000000 | vt_int << 26:
            sys.exit('fixup.py: LoadPicture parameter %d has no INT default 0' % param)
        struct.pack_into('<I', data, at, 0x80000000 | vt_i4 << 26)

    # The header's reference to IDispatch (word 19), and the import it went through.
    if i32(19 * 4) & 3 != 1 or i32(20 * 4) != 1:
        sys.exit('fixup.py: IDispatch is not referred to through one import')
    struct.pack_into('<ii', data, 19 * 4, offsets[by_name['IDispatch']], 0)
    for s in (1, 2):  # the import and file segments: absent
        struct.pack_into('<ii', data, segments_at + 16 * s, -1, 0)

    # Font: size (word 20) and alignment (bits 11-15 of word 0).
    font = type_base + offsets[by_name['Font']]
    kind = i32(font)
    struct.pack_into('<i', data, font, (kind & ~(0x1F << 11)) | 4 << 11)
    struct.pack_into('<i', data, font + 20 * 4, 4)

    # The library's custom data list (word 16).
    struct.pack_into('<i', data, 16 * 4, -1)

    with open(dst, 'wb') as out:
        out.write(data)


if __name__ == '__main__':
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
