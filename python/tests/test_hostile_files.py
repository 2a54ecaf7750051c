"""Files read_day must refuse with HistoryError, never misread, hang on or allocate without bound."""
import os
import struct
import zlib

import numpy as np
import pytest
import zstandard

from conftest import DAY
from quoteloom_history import HistoryError, read_day


def spoiled(tmp_path, data, name=DAY + ".qth"):
    path = str(tmp_path / name)
    with open(path, "wb") as f:
        f.write(bytes(data))
    return path


def with_trailer(data, offset, size, crc):
    tail = struct.pack("<QII", offset, size, crc)
    return data[:-32] + tail + struct.pack("<II", zlib.crc32(tail), 0) + b"QTHINDEX"


def rewritten_block(data, number, change):
    """The packed day with block `number`'s payload passed through `change`, recompressed and every
    size, offset and checksum after it made to fit, so only the payload's own rules can refuse it."""
    data = bytearray(data)
    index_offset, index_size, _ = struct.unpack_from("<QII", data, len(data) - 32)
    index = bytearray(data[index_offset:index_offset + index_size])
    count = struct.unpack_from("<I", index)[0]
    entries = [list(struct.unpack_from("<QIIIIII", index, 4 + 32 * i)) for i in range(count)]
    offset, kind, _, _, _, stored, _ = entries[number]
    payload = bytearray(zstandard.ZstdDecompressor().decompress(bytes(data[offset + 16:offset + 16 + stored])))
    change(payload)
    frame = zstandard.ZstdCompressor().compress(bytes(payload))
    crc = zlib.crc32(frame)
    block = struct.pack("<IIII", kind, len(frame), len(payload), crc) + frame
    grow = len(frame) - stored
    body = data[:offset] + block + data[offset + 16 + stored:index_offset]
    entries[number][5:7] = [len(frame), crc]
    for e in entries[number + 1:]:
        e[0] += grow
    new_index = struct.pack("<I", count) + b"".join(struct.pack("<QIIIIII", *e) for e in entries) + index[4 + 32 * count:]
    out = body + new_index + bytes(32)
    return with_trailer(out, index_offset + grow, len(new_index), zlib.crc32(new_index))


def first_contract_block(data):
    index_offset = struct.unpack_from("<Q", data, len(data) - 32)[0]
    count = struct.unpack_from("<I", data, index_offset)[0]
    kinds = [struct.unpack_from("<I", data, index_offset + 4 + 32 * i + 8)[0] for i in range(count)]
    return kinds.index(2)


def column(payload, c):
    return 8 + 16 * c


def set_byte(at, value):
    def change(payload):
        payload[at(payload)] = value
    return change


def slots_backwards(payload):
    n = struct.unpack_from("<I", payload)[0]
    width = payload[column(payload, 0) + 1]
    start = 8 + 16 * struct.unpack_from("<I", payload, 4)[0]
    if width and n > 1:
        payload[start + 1] = 3  # the second slot's change becomes -2: before the first


BLOCK_CHANGES = [
    ("column count 7", lambda p: p.__setitem__(slice(4, 8), struct.pack("<I", 7))),
    ("method does not fit", set_byte(lambda p: column(p, 7), 3)),         # LastPrice as a dictionary
    ("width over 8 bytes", set_byte(lambda p: column(p, 7) + 1, 9)),
    ("bad scale", set_byte(lambda p: column(p, 1) + 2, 3)),                # an integer with a scale
    ("step or reference", lambda p: p.__setitem__(slice(column(p, 0) + 4, column(p, 0) + 12), bytes(8))),
    ("slots must be told", set_byte(lambda p: column(p, 0) + 3, 254)),
    ("section size does not add up", set_byte(lambda p: column(p, 0) + 12, 0xFF)),
    ("block of 0 records", lambda p: p.__setitem__(slice(0, 4), struct.pack("<I", 0))),
    ("slots out of order", slots_backwards),
    ("raw size over what its records can take", lambda p: p.extend(bytes(1 << 23))),  # refused before decompressing
]


@pytest.mark.parametrize("why,change", BLOCK_CHANGES, ids=[c[0] for c in BLOCK_CHANGES])
def test_contract_blocks_that_break_the_rules_are_refused(day_v1, tmp_path, why, change):
    data = open(day_v1.packed, "rb").read()
    path = spoiled(tmp_path, rewritten_block(data, first_contract_block(data), change))
    with pytest.raises(HistoryError, match="block at .*" + why):
        read_day(path)


def test_a_rewritten_block_that_keeps_the_rules_still_reads(day_v1, tmp_path):
    data = open(day_v1.packed, "rb").read()
    path = spoiled(tmp_path, rewritten_block(data, first_contract_block(data), lambda p: None))
    assert len(read_day(path, frame=False)) == len(read_day(day_v1.packed, frame=False))


def packed_changes():
    def flip(at):
        def change(d):
            d[at(d)] ^= 0x01
            return d
        return change

    def trailer_outside(d):
        offset, size, crc = struct.unpack_from("<QII", d, len(d) - 32)
        return with_trailer(d, offset + 1 << 40, size, crc)

    def huge_day(d):
        # A header that claims a journal of 2^60 bytes in segments of 2^20 slots, checksum made to fit.
        version, record = struct.unpack_from("<II", d, 24)
        header = {1: 1536, 2: 1568}[version]
        struct.pack_into("<QQQI", d, 32, 1 << 60, ((1 << 60) - header) // record, ((1 << 60) - header) % record, 1 << 20)
        struct.pack_into("<I", d, 60, zlib.crc32(bytes(d[:60])))
        return d

    return [
        ("trailer damaged", lambda d: d[:len(d) // 2]),
        ("header checksum", flip(lambda d: 20)),
        ("index checksum", flip(lambda d: struct.unpack_from("<Q", d, len(d) - 32)[0] + 5)),
        ("trailer damaged", flip(lambda d: len(d) - 3)),
        ("index lies outside", trailer_outside),
        ("does not hold all its records", huge_day),
        ("too short", lambda d: d[:90]),
    ]


@pytest.mark.parametrize("why,change", packed_changes(), ids=["cut in half", "header", "index", "trailer", "index outside", "huge day", "too short"])
def test_damaged_packed_days_are_refused(day_v1, tmp_path, why, change):
    path = spoiled(tmp_path, change(bytearray(open(day_v1.packed, "rb").read())))
    with pytest.raises(HistoryError, match=why):
        read_day(path)


def journal_changes():
    def put(at, fmt, value):
        def change(d):
            struct.pack_into(fmt, d, at, value)
            return d
        return change

    return [
        ("not a journal", "bad magic", put(0, "8s", b"QTJOURNX")),
        ("newer version", "not read here", put(8, "<I", 3)),
        ("record size", "records", put(16, "<I", 448)),
        ("field list", "field list differs", put(40, "4s", b"Xyzw")),
        ("truncated header", "truncated header", lambda d: d[:1000]),
    ]


@pytest.mark.parametrize("name,why,change", journal_changes(), ids=[c[0] for c in journal_changes()])
def test_refused_journal_headers(day_v1, tmp_path, name, why, change):
    path = spoiled(tmp_path, change(bytearray(open(day_v1.journal, "rb").read())), DAY + ".qtj")
    with pytest.raises(HistoryError, match=why):
        read_day(path)


def test_a_named_pipe_is_refused_without_waiting(tmp_path):
    path = str(tmp_path / (DAY + ".qtj"))
    os.mkfifo(path)
    with pytest.raises(HistoryError, match="not a regular file"):
        read_day(path)


def test_a_journal_of_a_header_only_is_an_empty_day(day_v1, tmp_path):
    header = open(day_v1.journal, "rb").read()[:1536]
    got = read_day(spoiled(tmp_path, header + b"\x01" * 100, DAY + ".qtj"), frame=False)
    assert len(got) == 0 and got.torn_bytes == 100 and got.damaged == 0
    assert got.columns["last_price"].dtype == np.float64


def test_a_faulty_block_among_many_is_named_by_its_offset(day_v2, tmp_path):
    data = open(day_v2.packed, "rb").read()
    index_offset = struct.unpack_from("<Q", data, len(data) - 32)[0]
    count = struct.unpack_from("<I", data, index_offset)[0]
    entries = [struct.unpack_from("<QI", data, index_offset + 4 + 32 * i) for i in range(count)]
    last = max(i for i, (_, kind) in enumerate(entries) if kind == 2)
    path = spoiled(tmp_path, rewritten_block(data, last, BLOCK_CHANGES[0][1]))
    with pytest.raises(HistoryError, match="block at %d: column count 7" % entries[last][0]):
        read_day(path)
