#!/usr/bin/env python3
"""Shrinks a camera recording into a fuzz seed of a few kilobytes: every chunk
of the movie list keeps at most the first KEEP bytes of its data (enough for a
video frame's parameter sets and slice header, a metadata packet, a private
record), the RIFF and list sizes and the idx1 index follow the new offsets.
An unfinished recording (RIFF size 0) stays unfinished: sizes 0, no index,
and the bytes after its last whole chunk cut to a few.
    shrink_recording.py [--skip N] IN OUT   (--skip: bytes before the RIFF tag, copied as they are)
"""
import struct
import sys

KEEP = 96


def le32(b, at):
    return struct.unpack_from("<I", b, at)[0]


def is_chunk_id(b):
    return len(b) == 4 and all(32 <= c < 127 for c in b)


def shrink(data):
    if data[:4] != b"RIFF" or data[8:12] != b"AVI ":
        raise SystemExit("not a RIFF AVI file")
    unfinished = le32(data, 4) == 0
    pos = 12
    out = bytearray(data[:12])
    movi_at = None
    moved = {}  # old chunk offset -> new chunk offset
    old_movi = None
    tail = b""
    while pos + 8 <= len(data):
        tag, size = data[pos:pos + 4], le32(data, pos + 4)
        if tag == b"LIST" and data[pos + 8:pos + 12] == b"movi":
            old_movi = pos + 8
            movi_at = len(out)
            out += data[pos:pos + 12]
            p = pos + 12
            end = len(data) if size == 0 else min(len(data), pos + 8 + size)
            while p + 8 <= end and is_chunk_id(data[p:p + 4]):
                csize = le32(data, p + 4)
                if p + 8 + csize > len(data):
                    break  # cut off by the power loss
                keep = min(csize, KEEP)
                moved[p] = len(out)
                out += data[p:p + 4] + struct.pack("<I", keep) + data[p + 8:p + 8 + keep]
                if keep % 2:
                    out += b"\0"
                p += 8 + csize + (csize % 2)
            if unfinished:
                tail = data[p:p + 24]
                break
            struct.pack_into("<I", out, movi_at + 4, 0 if unfinished else len(out) - movi_at - 8)
            pos = p if size == 0 else pos + 8 + size + (size % 2)
            continue
        if tag == b"idx1":
            entries = bytearray()
            for e in range(pos + 8, min(len(data), pos + 8 + size) - 15, 16):
                ckid, flags, off, _ = struct.unpack_from("<4sIII", data, e)
                for old in (off, old_movi + off - 4 if old_movi else -1, old_movi + off if old_movi else -1):
                    if old in moved:
                        new = moved[old]
                        new_off = new if old == off else new - (old - off)
                        new_size = le32(out, new + 4)
                        entries += struct.pack("<4sIII", ckid, flags, new_off, new_size)
                        break
            out += b"idx1" + struct.pack("<I", len(entries)) + entries
            pos += 8 + size + (size % 2)
            continue
        out += data[pos:pos + 8 + size + (size % 2)]
        pos += 8 + size + (size % 2)
    if unfinished:
        out += tail
    else:
        out += data[pos:]
        struct.pack_into("<I", out, 4, len(out) - 8)
    return bytes(out)


def main():
    args = sys.argv[1:]
    skip = 0
    if args[:1] == ["--skip"]:
        skip, args = int(args[1]), args[2:]
    data = open(args[0], "rb").read()
    open(args[1], "wb").write(data[:skip] + shrink(data[skip:]))


if __name__ == "__main__":
    main()
