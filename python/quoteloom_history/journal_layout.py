"""The tick journal's record layout (versions 1 and 2), the header check and the whole-record test."""
import itertools
import struct
import zlib

import numpy as np

from .history_error import HistoryError

MAGIC = b"QTJOURNL"
FIXED_HEADER = 32
FIELD_ENTRY = 32

# Name, offset, size, type of every field of a version 2 record; version 1 lacks ArrivalTimeNs and
# keeps its Checksum at 424.
_FIELDS_V2 = [
    ("Sequence", 0, 8, "u64"), ("WriteTimeNs", 8, 8, "i64"), ("TradingDay", 16, 9, "txt"),
    ("InstrumentID", 25, 31, "txt"), ("ExchangeID", 56, 9, "txt"), ("ExchangeInstID", 65, 31, "txt"),
    ("LastPrice", 96, 8, "f64"), ("PreSettlementPrice", 104, 8, "f64"), ("PreClosePrice", 112, 8, "f64"),
    ("PreOpenInterest", 120, 8, "f64"), ("OpenPrice", 128, 8, "f64"), ("HighestPrice", 136, 8, "f64"),
    ("LowestPrice", 144, 8, "f64"), ("Volume", 152, 4, "i32"), ("Turnover", 160, 8, "f64"),
    ("OpenInterest", 168, 8, "f64"), ("ClosePrice", 176, 8, "f64"), ("SettlementPrice", 184, 8, "f64"),
    ("UpperLimitPrice", 192, 8, "f64"), ("LowerLimitPrice", 200, 8, "f64"), ("PreDelta", 208, 8, "f64"),
    ("CurrDelta", 216, 8, "f64"), ("UpdateTime", 224, 9, "txt"), ("UpdateMillisec", 236, 4, "i32"),
] + [
    field
    for level in range(1, 6)
    for field in (("BidPrice%d" % level, 240 + 32 * (level - 1), 8, "f64"),
                  ("BidVolume%d" % level, 248 + 32 * (level - 1), 4, "i32"),
                  ("AskPrice%d" % level, 256 + 32 * (level - 1), 8, "f64"),
                  ("AskVolume%d" % level, 264 + 32 * (level - 1), 4, "i32"))
] + [("AveragePrice", 400, 8, "f64"), ("ActionDay", 408, 9, "txt"), ("ArrivalTimeNs", 424, 8, "i64")]

NUMPY_TYPES = {"u64": "<u8", "i64": "<i8", "u32": "<u4", "i32": "<i4", "f64": "<f8"}


class JournalLayout:
    """One journal version's sizes and fields (without the Checksum). Immutable; any thread."""

    def __init__(self, version):
        self.version = version
        self.record_size = 440 if version == 2 else 432
        self.fields = _FIELDS_V2 if version == 2 else _FIELDS_V2[:-1]
        self.checksum_offset = 432 if version == 2 else 424
        self.header_size = FIXED_HEADER + FIELD_ENTRY * (len(self.fields) + 1)
        self.by_name = {f[0]: f for f in self.fields}
        self.field_list = b"".join(
            struct.pack("<24sHH4s", name.encode(), offset, size, kind.encode())
            for name, offset, size, kind in self.fields + [("Checksum", self.checksum_offset, 4, "u32")])
        self.texts = [f for f in self.fields if f[3] == "txt"]

    def number_dtype(self):
        """A structured dtype over whole records that names every number field."""
        numbers = [f for f in self.fields if f[3] != "txt"]
        return np.dtype({"names": [f[0] for f in numbers], "formats": [NUMPY_TYPES[f[3]] for f in numbers],
                         "offsets": [f[1] for f in numbers], "itemsize": self.record_size})


LAYOUTS = {1: JournalLayout(1), 2: JournalLayout(2)}


def check_header(data, path):
    """The layout of a journal whose first bytes are `data`; HistoryError when it must be refused."""
    if len(data) < 8 or data[:8] != MAGIC:
        raise HistoryError("%s: not a tick journal (bad magic)" % path)
    if len(data) < FIXED_HEADER:
        raise HistoryError("%s: truncated header (%d bytes)" % (path, len(data)))
    version, header_size, record_size, count = struct.unpack_from("<4I", data, 8)
    if version not in LAYOUTS:
        raise HistoryError("%s: journal format version %d is not read here (1 and 2 are)" % (path, version))
    layout = LAYOUTS[version]
    if record_size != layout.record_size or header_size != layout.header_size:
        raise HistoryError("%s: %d-byte records and a %d-byte header, not those of version %d"
                           % (path, record_size, header_size, version))
    if len(data) < header_size:
        raise HistoryError("%s: truncated header (%d of %d bytes)" % (path, len(data), header_size))
    if count != len(layout.fields) + 1 or bytes(data[FIXED_HEADER:header_size]) != layout.field_list:
        raise HistoryError("%s: field list differs from format version %d" % (path, version))
    return layout


def whole_records(records, layout):
    """A mask of the rows of `records` (an (n, record size) uint8 array) that are whole records: the
    CRC-32 of the bytes before the Checksum matches it and every text field holds its terminator."""
    n = records.shape[0]
    if n == 0:
        return np.zeros(0, bool)
    body = layout.checksum_offset
    # zlib's CRC of each record, called from C over the records (no Python step per record).
    unpacked = struct.iter_unpack("%ds%dx" % (body, layout.record_size - body), memoryview(records).cast("B"))
    crcs = np.fromiter(itertools.starmap(zlib.crc32, unpacked), np.uint32, count=n)
    stored = np.ascontiguousarray(records[:, body:body + 4]).view("<u4").ravel()
    ok = crcs == stored
    for _, offset, size, _ in layout.texts:
        ok &= (records[:, offset:offset + size] == 0).any(axis=1)
    return ok
