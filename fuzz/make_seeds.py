#!/usr/bin/python3
"""Writes the small seed corpus of the fuzz targets (fuzz/seeds/<target>/). Run again after changing it."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def short(v): return struct.pack(">H", v)
def long_(v): return struct.pack(">I", v)
def longlong(v): return struct.pack(">Q", v)
def shortstr(s): b = s.encode(); return bytes([len(b)]) + b
def longstr(s): b = s.encode() if isinstance(s, str) else s; return long_(len(b)) + b
def table(entries): return long_(len(entries)) + entries
def frame(t, ch, payload): return bytes([t]) + short(ch) + long_(len(payload)) + payload + b"\xce"
def method(c, m, args=b""): return short(c) + short(m) + args


def rich_table():
    nested = table(shortstr("publisher_confirms") + b"t\x01" + shortstr("n") + b"I" + long_(7))
    array = long_(0)
    array_items = b"I" + long_(1) + b"S" + longstr("x") + b"V"
    array = long_(len(array_items)) + array_items
    return table(
        shortstr("product") + b"S" + longstr("RabbitMQ")
        + shortstr("capabilities") + b"F" + nested
        + shortstr("b") + b"b\xfe" + shortstr("B") + b"B\xfe" + shortstr("s") + b"s\x80\x00"
        + shortstr("u") + b"u\xff\xff" + shortstr("i") + b"i" + long_(1) + shortstr("l") + b"l" + longlong(2)
        + shortstr("T") + b"T" + longlong(1700000000) + shortstr("f") + b"f" + struct.pack(">f", 1.5)
        + shortstr("d") + b"d" + struct.pack(">d", 2.25) + shortstr("D") + b"D\x02" + long_(1234)
        + shortstr("x") + b"x" + longstr(b"\x00\x01") + shortstr("a") + b"A" + array + shortstr("v") + b"V")


def properties(flags, values): return short(flags) + values


def content_header(body_size, props): return short(60) + short(0) + longlong(body_size) + props


ALL_PROPS = properties(
    0xFFFC,
    shortstr("text/plain") + shortstr("utf-8") + table(shortstr("h") + b"S" + longstr("v")) + b"\x02\x05"
    + shortstr("corr") + shortstr("reply") + shortstr("6000") + shortstr("mid") + longlong(1)
    + shortstr("type") + shortstr("guest") + shortstr("app") + shortstr(""))

SEEDS = {
    "FuzzFrameRead": {
        "heartbeat": frame(8, 0, b""),
        "start": frame(1, 0, method(10, 10, b"\x00\x09" + rich_table() + longstr("PLAIN AMQPLAIN") + longstr("en_US"))),
        "tune_openok": frame(1, 0, method(10, 30, short(2047) + long_(131072) + short(60)))
        + frame(1, 0, method(10, 41, shortstr(""))),
        "deliver": frame(1, 1, method(60, 60, shortstr("ctag") + longlong(1) + b"\x00" + shortstr("") + shortstr("q")))
        + frame(2, 1, content_header(5, ALL_PROPS)) + frame(3, 1, b"hel") + frame(3, 1, b"lo"),
        "getok_return": frame(1, 2, method(60, 71, longlong(9) + b"\x01" + shortstr("x") + shortstr("k") + long_(3)))
        + frame(2, 2, content_header(0, properties(0, b"")))
        + frame(1, 2, method(60, 50, short(312) + shortstr("NO_ROUTE") + shortstr("x") + shortstr("k")))
        + frame(2, 2, content_header(1, properties(0x8000, shortstr("a")))) + frame(3, 2, b"!"),
        "closes": frame(1, 0, method(10, 50, short(320) + shortstr("CONNECTION_FORCED") + short(0) + short(0)))
        + frame(1, 3, method(20, 40, short(404) + shortstr("NOT_FOUND") + short(50) + short(10)))
        + frame(1, 3, method(20, 20, b"\x01")) + frame(1, 4, method(50, 11, shortstr("q") + long_(1) + long_(0))),
    },
    "FuzzFieldTable": {
        "empty": long_(0),
        "rich": rich_table(),
        "nested": table(shortstr("a") + b"F" + table(shortstr("b") + b"F" + table(shortstr("c") + b"t\x01"))),
    },
    "FuzzContentHeader": {
        "defaults": content_header(5, properties(0xD800, shortstr("text/plain") + shortstr("utf-8") + b"\x02\x01")),
        "all": content_header(1 << 33, ALL_PROPS),
        "continuation": content_header(0, short(0x0081) + short(0x8000) + shortstr("m") + b"rest"),
    },
    "FuzzJsonTable": {
        "args": b'{"x-message-ttl": 60000, "x-dead-letter-exchange": "dlx", "x-max-priority": 10}',
        "nested": b'{"x-match": "all", "t": {"a": [1, 2.5, true, null, "s\\u00e9\\ud83d\\udc07"]}, "n": -4294967296}',
        "escapes": b'{"s": "a\\"b\\\\c\\/\\b\\f\\n\\r\\t", "e": 1e-3, "big": 123456789012345678901234567890}',
        "broken": b'{"a": 1, "b": [1, 2,], "c": tru}',
    },
}

for target, seeds in SEEDS.items():
    folder = os.path.join(HERE, "seeds", target)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
print("seeds written")
