#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (fuzz/corpus/<target>/seed-*).

The seeds are committed; run this again only to change them. Files found by fuzzing are kept
beside them as regression-* files and replayed on every run.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def save(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "seed-" + name), "wb") as f:
        f.write(data)


# ---- profile reader: section choice, key choice, buffer-size choice, then the file ----------
# Sections: Main main " Main " "" Über a]b [x S;c, 8 = from the input.
# Keys: k K HaloIP " k " "" ключ ;k "a b", 8 = from the input. Sizes: 0 1 2 3 8 255 4096.
def profile(name, section, key, size, text):
    if isinstance(text, str):
        text = text.encode("utf-8")
    save("fuzz_profile", name, bytes([section, key, size]) + text)


def utf16(text, bom=True):
    return (b"\xff\xfe" if bom else b"") + text.encode("utf-16-le")


profile("basic", 0, 0, 5, "[Main]\r\nk=v\r\n")
profile("spaces-case", 1, 2, 5, "[Main]\r\n  HaloIP = 1.2.3.4:2302  \r\n")
profile("quotes", 0, 0, 5, "[Main]\r\nk=\"my map.map\"\r\nj='x'\r\n")
profile("comment-and-dup", 0, 0, 5, "k=0\r\n[Main]\r\n;k=1\r\nk=2\r\nk=3\r\n[Main]\r\nk=4\r\n")
profile("no-bracket", 0, 0, 5, "[Main\nk=v\n")
profile("bom", 0, 0, 5, b"\xef\xbb\xbf[Main]\nk=v\n")
profile("utf16", 4, 5, 6, utf16("[Über]\r\nключ=\u00e9\u20ac\U0001F600 x\r\n"))
profile("utf16-lone-surrogate", 0, 0, 5,
        b"\xff\xfe" + "[Main]\nk=a".encode("utf-16-le") + b"\x00\xd8" + "z\n".encode("utf-16-le"))
profile("utf16-odd", 0, 0, 5, utf16("[Main]\nk=ab") + b"A")
profile("cr-only", 0, 0, 5, "[Main]\rk=v\rj=w")
profile("nul-in-value", 0, 0, 5, b"[Main]\nk= a \x00b\n")
profile("empty-file", 0, 0, 5, b"")
profile("long-value", 0, 0, 2, "[Main]\nk=" + "a" * 300 + "\n")
profile("tiny-buffer", 0, 0, 1, "[Main]\nk=\"ab\"\n")
profile("zero-buffer", 0, 0, 0, "[Main]\nk=v\n")
profile("empty-names", 3, 4, 5, "[]\n=v\n")
profile("names-from-input", 8, 8, 5, b"\x03Sec\x03Key[sec]\nKEY = value\n")
profile("bracket-in-name", 5, 7, 5, "[a]b]\na b=1\n")
profile("blanks", 2, 3, 5, "\t[ Main ]\v\n\t k \t=\t v \t\n")

# ---- PPF: option byte (bit 0 undo, bit 1 force, bits 2-3 image), then the patch -------------
# Images: 0 empty, 1 64 bytes, 2 0x9320 + 1040 bytes (both validation windows), 3 0x9320 + 100.
IMAGE_SIZES = [0, 64, 0x9320 + 1024 + 16, 0x9320 + 100]


def image(choice):
    return bytes(((i * 7 + (i >> 8)) & 0xFF) for i in range(IMAGE_SIZES[choice]))


def description(text):
    return text.encode().ljust(50, b" ")


def records(recs, width, undo=False):
    out = b""
    for offset, data, old in recs:
        out += offset.to_bytes(width, "little") + bytes([len(data)]) + data
        if undo:
            out += old
    return out


def trailer(text, width):
    return b"@BEGIN_FILE_ID.DIZ" + text + b"@END_FILE_ID.DIZ" + len(text).to_bytes(width, "little")


def ppf(name, flags, patch):
    save("fuzz_ppf", name, bytes([flags]) + patch)


def ppf1(recs):
    return b"PPF10" + b"\x00" + description("PPF1 seed") + records(recs, 4)


def ppf2(size, block, recs, diz=None):
    out = b"PPF20" + b"\x01" + description("PPF2 seed") + struct.pack("<I", size) + block
    return out + records(recs, 4) + (trailer(diz, 4) if diz is not None else b"")


def ppf3(recs, block=None, image_type=0, undo=False, diz=None, diz_width=2):
    out = b"PPF30" + b"\x02" + description("PPF3 seed \u00e9") + bytes([image_type,
                                                                       block is not None, undo, 0])
    if block is not None:
        out += block
    out += records(recs, 8, undo)
    return out + (trailer(diz, diz_width) if diz is not None else b"")


big = image(2)
bin_block = big[0x9320:0x9320 + 1024]
gi_block = big[0x80A0:0x80A0 + 1024]
rec_small = [(0, b"\x01\x02\x03", big[0:3]), (40, b"hello", big[40:45])]
ppf("ppf1", 1 << 2, ppf1([(0, b"\xAA\xBB", b""), (60, b"xyz", b"")]))
ppf("ppf1-grow", 1 << 2, ppf1([(100, b"grown", b"")]))
ppf("ppf2", 2 << 2, ppf2(len(big), bin_block, rec_small))
ppf("ppf2-diz", 2 << 2, ppf2(len(big), bin_block, rec_small, b"a FILE_ID.DIZ text"))
ppf("ppf2-size-mismatch", 1 << 2, ppf2(len(big), bin_block, rec_small))
ppf("ppf3-plain", 1 << 2, ppf3(rec_small))
ppf("ppf3-block", 2 << 2, ppf3(rec_small, bin_block))
ppf("ppf3-gi", 2 << 2, ppf3(rec_small, gi_block, image_type=1))
ppf("ppf3-block-forced", (1 << 2) | 2, ppf3(rec_small, bin_block))
ppf("ppf3-undo", 2 << 2, ppf3(rec_small, bin_block, undo=True))
ppf("ppf3-undo-back", (2 << 2) | 1 | 2, ppf3(rec_small, bin_block, undo=True))
ppf("ppf3-inside-window", 2 << 2,
    ppf3([(0x9320 + 10, b"in the window", bin_block[10:23])], bin_block, undo=True))
ppf("ppf3-diz16", 1 << 2, ppf3(rec_small, diz=b"text\r\nwith \x1b[31m escapes", diz_width=2))
ppf("ppf3-diz32", 1 << 2, ppf3(rec_small, diz=b"four-byte length", diz_width=4))
ppf("ppf3-grow", 0, ppf3([(1000, b"past the end", b"")]))
ppf("ppf3-too-big", 0, ppf3([(1 << 40, b"far", b"")]))
# Already applied: the records' bytes stand in the image, one of them inside the validation
# window; with a block that matches and with one the patch's own bytes no longer match.
standing = [(0x10, big[0x10:0x14], b""), (0x9320 + 8, big[0x9320 + 8:0x9320 + 12], b""),
            (0x9320 + 8, big[0x9320 + 8:0x9320 + 10], b"")]
ppf("ppf3-already-applied", 2 << 2, ppf3(standing, big[0x9320:0x9320 + 1024]))
ppf("ppf3-already-applied-block-differs", 2 << 2, ppf3(standing, bytes(1024)))
# Overlap where only the overwritten record's bytes stand: not applied yet.
ppf("ppf3-already-overwritten-only", 2 << 2,
    ppf3([(0x40, big[0x40:0x44], b""), (0x41, b"\x00\x00", b"")]))
ppf("ppf3-past-4gib", 0, ppf3([((4 << 30) - 1, b"ab", b"")]))
ppf("ppf3-negative", 0, ppf3([((1 << 64) - 1, b"x", b"")]))
ppf("ppf3-overlap", 1 << 2, ppf3([(10, b"aaaa", b""), (12, b"bb", b""), (0, b"c", b""),
                                  (5 << 20, b"w", b""), (1 << 20, b"v", b"")]))
ppf("ppf3-empty-record", 1 << 2, ppf3([(5, b"", b"")]))
ppf("ppf3-no-records", 1 << 2, ppf3([]))
ppf("truncated-header", 0, b"PPF30\x02short")
ppf("truncated-record", 1 << 2, ppf3(rec_small)[:-2])
ppf("bad-method", 0, b"PPF30\x01" + description("x") + b"\x00\x00\x00\x00")
ppf("bad-magic", 0, b"PPF40\x03" + description("x"))
ppf("broken-trailer", 1 << 2, ppf3(rec_small) + b"@END_FILE_ID.DIZ\xff\x00")

# ---- PPF maker: option byte, original length (u16), original, modified --------------------
def create(name, flags, original, modified):
    save("fuzz_ppf_create", name, bytes([flags]) + struct.pack("<H", len(original)) + original +
         modified)


create("same", 0, b"abcdef", b"abcdef")
create("changed", 1, b"abcdefgh" * 8, b"abcXefgh" * 8)
create("grown", 1 | 8, b"abc", b"abc\x00\x00zz\x00")
create("grown-zero-tail", 1, b"abc", b"abc\x00\x00")
create("shorter", 0, b"abcdef", b"abc")
create("from-empty", 0, b"", b"new file")
create("long-run", 1, bytes(600), bytes([1]) * 600)
create("gaps", 0, b"0123456789" * 10, b"0x23456x89" * 10)
create("block-check", 2 | 1, b"abc", b"abd")
create("block-check-gi", 2 | 4, b"abc" * 5, b"abd" * 6)
