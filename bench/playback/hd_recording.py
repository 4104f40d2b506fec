#!/usr/bin/env python3
"""Wraps an H.264 Annex B stream (one access unit per frame, each starting with
an access unit delimiter, as `ffmpeg ... -x264-params aud=1 -f h264` writes it)
into a recording laid out as the camera writes it (docs/recording-format.md):
RIFF AVI 1.0, header list, movie list, idx1, JUNK/MSPD.

    hd_recording.py front|rear IN.h264 OUT.avi [--fps 30]

A front file gets a metadata stream (01tx) with one G-sensor packet every
100 ms besides the video (00dc); a rear file holds the video alone.
"""
import struct
import sys

SCALE = 1000
AUD = b"\x00\x00\x00\x01\x09"


def access_units(data):
    starts = []
    i = data.find(AUD)
    while i >= 0:
        starts.append(i)
        i = data.find(AUD, i + len(AUD))
    starts.append(len(data))
    for a, b in zip(starts, starts[1:]):
        yield data[a:b]


def is_idr(unit):
    i = unit.find(b"\x00\x00\x01")
    while i >= 0:
        if i + 3 < len(unit) and unit[i + 3] & 0x1F == 5:
            return True
        i = unit.find(b"\x00\x00\x01", i + 3)
    return False


def chunk(cid, payload):
    pad = b"\x00" if len(payload) % 2 else b""
    return cid + struct.pack("<I", len(payload)) + payload + pad


def strl(kind, handler, rate, length, largest, width, height, strf):
    strh = struct.pack("<4s4sIHHIIIIIIIIhhhh", kind, handler, 0, 0, 0, 0, SCALE, rate, 0, length,
                       largest, 0xFFFFFFFF, 0, 0, 0, width, height)
    body = b"strl" + chunk(b"strh", strh) + chunk(b"strf", strf)
    return b"LIST" + struct.pack("<I", len(body)) + body


def main():
    args = sys.argv[1:]
    fps = 30
    if "--fps" in args:
        k = args.index("--fps")
        fps = int(args[k + 1])
        del args[k:k + 2]
    role, src, dst = args
    units = list(access_units(open(src, "rb").read()))
    width, height = 1920, 1080

    chunks = []  # (id, payload, key)
    for n, unit in enumerate(units):
        chunks.append((b"00dc", unit, is_idr(unit)))
        if role == "front" and n % (fps // 10 or 1) == 0:
            ms = n * 1000 // fps
            axis = (n // 3) % 40
            chunks.append((b"01tx", struct.pack("<I", ms) + bytes([ord("M"), axis, 2, 30]), True))

    video = [c for c in chunks if c[0] == b"00dc"]
    text = [c for c in chunks if c[0] == b"01tx"]
    seconds = len(video) / fps
    largest_v = max(len(c[1]) for c in video)
    bih = struct.pack("<IiiHH4sIiiII", 40, width, height, 1, 24, b"H264", width * height * 3, 0, 0, 0, 0)
    lists = strl(b"vids", b"H264", fps * SCALE, len(video), largest_v, width, height, bih)
    streams = 1
    if text:
        largest_t = max(len(c[1]) for c in text)
        lists += strl(b"txts", b"\0\0\0\0", int(len(text) * SCALE / seconds), len(text), largest_t, 0, 0, b"")
        streams = 2
    payload = sum(len(c[1]) for c in chunks)
    avih = struct.pack("<IIIIIIIIII4I", 1000000 // fps, int(payload / seconds), 0, 0x110, len(video), 0, streams,
                       max(largest_v, 16) + 8, width, height, 0, 0, 0, 0)
    hdrl_body = b"hdrl" + chunk(b"avih", avih) + lists
    hdrl = b"LIST" + struct.pack("<I", len(hdrl_body)) + hdrl_body

    movi = bytearray(b"movi")
    index = bytearray()
    for cid, data, key in chunks:
        index += cid + struct.pack("<III", 0x10 if key else 0, len(movi), len(data))
        movi += chunk(cid, data)
    body = b"AVI " + hdrl + b"LIST" + struct.pack("<I", len(movi)) + bytes(movi)
    body += chunk(b"idx1", bytes(index)) + chunk(b"JUNK", b"MSPD" + struct.pack("<i", 42))
    with open(dst, "wb") as out:
        out.write(b"RIFF" + struct.pack("<I", len(body)) + body)


if __name__ == "__main__":
    main()
