"""Reads a packed day History/<day>.qth into DayFields: its header, trailer and footer index checked
first, then only the blocks the read needs, each checked against its CRC-32 before it is decompressed."""
import struct
import zlib

import numpy as np
import zstandard

from .contract_blocks import BlockError, decode_contract_blocks
from .day_fields import DayFields, contract_mask, field_names, record_fields
from .history_error import HistoryError
from .journal_layout import LAYOUTS, whole_records
from .regular_file import open_regular, read_exactly

MAGIC = b"QTHPACKD"
INDEX_MAGIC = b"QTHINDEX"
HEADER_SIZE = 64
BLOCK_HEADER_SIZE = 16
ENTRY_SIZE = 32
TRAILER_SIZE = 32
MAX_SEGMENT_SLOTS = 1 << 20
MAX_RAW_SIZE = 1 << 28
MAX_BLOCKS = 1 << 24
MAX_CONTRACTS = 1 << 20
NO_CONTRACT = 0xFFFFFFFF
JOURNAL_HEADER, CONTRACT, VERBATIM, TAIL = 1, 2, 3, 4
_READ_SPAN = 1 << 26  # bytes of adjacent blocks read from the file at once, at most (unless one block is larger)


class PackedDay:
    """An open packed day: header, index and the blocks of each segment and contract. One thread."""

    def __init__(self, path):
        self.path = path
        self.file, self.size = open_regular(path)
        try:
            self._open()
        except BaseException:
            self.file.close()
            raise

    def close(self):
        self.file.close()

    def _fail(self, why):
        raise HistoryError("%s: %s" % (self.path, why))

    def _open(self):
        if self.size < HEADER_SIZE + TRAILER_SIZE:
            self._fail("too short for a packed day")
        head = read_exactly(self.file, 0, HEADER_SIZE, self.path)
        tail = read_exactly(self.file, self.size - TRAILER_SIZE, TRAILER_SIZE, self.path)
        self._read_header(head)
        index_offset, index_size, index_crc = self._read_trailer(tail)
        index = read_exactly(self.file, index_offset, index_size, self.path)
        if zlib.crc32(index) != index_crc:
            self._fail("index checksum does not match")
        self._read_index(index, index_offset)
        self._place_blocks()

    def _read_header(self, head):
        if head[:8] != MAGIC:
            self._fail("not a packed day (bad magic or too short)")
        if struct.unpack_from("<I", head, 60)[0] != zlib.crc32(head[:60]):
            self._fail("header checksum does not match")
        version, header_size = struct.unpack_from("<II", head, 8)
        if version != 1 or header_size != HEADER_SIZE:
            self._fail("packed day format version %d is not read here" % version)
        self.day = bytes(head[16:24])
        jversion, record_size, journal_size, slots, tail_size, segment_slots = struct.unpack_from("<IIQQQI", head, 24)
        layout = LAYOUTS.get(jversion)
        if layout is None or layout.record_size != record_size:
            self._fail("journal version %d with %d-byte records is not read here" % (jversion, record_size))
        if (segment_slots == 0 or segment_slots > MAX_SEGMENT_SLOTS or tail_size >= record_size
                or journal_size < layout.header_size or slots != (journal_size - layout.header_size) // record_size
                or tail_size != journal_size - layout.header_size - slots * record_size):
            self._fail("header sizes do not add up")
        self.layout = layout
        count = len(layout.fields) + 1
        texts = [size for _, _, size, kind in layout.fields if kind == "txt"]
        self._contract_limit = (8 + 16 * count + 4 * len(texts), 8 * count + sum(texts))
        self.slots = slots
        self.tail_size = tail_size
        self.segment_slots = segment_slots
        self.segments = (slots + segment_slots - 1) // segment_slots

    def _read_trailer(self, tail):
        if tail[24:32] != INDEX_MAGIC or struct.unpack_from("<II", tail, 16) != (zlib.crc32(tail[:16]), 0):
            self._fail("trailer damaged or missing (the file is cut short?)")
        index_offset, index_size, index_crc = struct.unpack_from("<QII", tail)
        index_end = self.size - TRAILER_SIZE
        if index_offset < HEADER_SIZE or index_offset > index_end or index_end - index_offset != index_size:
            self._fail("the trailer's index lies outside the file")
        return index_offset, index_size, index_crc

    def _read_index(self, index, end):
        size = len(index)
        if size < 8:
            self._fail("index: too short")
        blocks = struct.unpack_from("<I", index)[0]
        if blocks > MAX_BLOCKS or (size - 8) // ENTRY_SIZE < blocks:
            self._fail("index: block count out of range")
        entries = np.frombuffer(index, np.dtype([("offset", "<u8"), ("kind", "<u4"), ("contract", "<u4"),
                                                 ("segment", "<u4"), ("records", "<u4"), ("stored", "<u4"),
                                                 ("crc", "<u4")]), blocks, 4)
        if blocks and ((entries["kind"] < 1) | (entries["kind"] > 4)).any():
            self._fail("index: a block of unknown kind")
        # Blocks lie one after another from the header to the index.
        steps = entries["stored"].astype(np.uint64) + np.uint64(BLOCK_HEADER_SIZE)
        expected = np.uint64(HEADER_SIZE) + np.concatenate((np.zeros(1, np.uint64), np.cumsum(steps, dtype=np.uint64)))
        if (entries["offset"] != expected[:-1]).any() or expected[-1] != end:
            self._fail("index: blocks do not follow one another up to the index")
        pos = 4 + blocks * ENTRY_SIZE
        contracts = struct.unpack_from("<I", index, pos)[0]
        pos += 4
        if contracts > MAX_CONTRACTS or contracts > size - pos:
            self._fail("index: contract count out of range")
        names = []
        for _ in range(contracts):
            if pos >= size:
                self._fail("index: contract list cut short")
            length = index[pos]
            pos += 1
            if length > 30 or length > size - pos:
                self._fail("index: contract name out of range")
            names.append(bytes(index[pos:pos + length]))
            pos += length
        if pos != size:
            self._fail("index: bytes after the contract list")
        kind = entries["kind"]
        is_contract = kind == CONTRACT
        if (entries["contract"][is_contract] >= contracts).any() or (entries["contract"][~is_contract] != NO_CONTRACT).any():
            self._fail("index: a block names no listed contract")
        self.entries = entries
        self.contracts = names

    def _place_blocks(self):
        e = self.entries
        b = len(e)
        has_tail = self.tail_size > 0
        if b == 0 or e["kind"][0] != JOURNAL_HEADER:
            self._fail("no journal header block")
        if has_tail != (e["kind"][-1] == TAIL) or (has_tail and b < 2):
            self._fail("tail block missing or unexpected")
        middle = e[1:b - 1 if has_tail else b]
        kinds, segments, records = middle["kind"], middle["segment"].astype(np.int64), middle["records"]
        if ((kinds != CONTRACT) & (kinds != VERBATIM)).any():
            self._fail("a block out of place")
        if len(middle) and ((segments >= self.segments).any() or (np.diff(segments) < 0).any()
                            or (records == 0).any() or (records > self.segment_slots).any()):
            self._fail("a block names a segment or record count out of range")
        # A segment's verbatim block, when it has one, is its last.
        verbatim = kinds == VERBATIM
        last_of_segment = np.append(segments[1:] != segments[:-1], True) if len(middle) else verbatim
        if (verbatim & ~last_of_segment).any():
            self._fail("a block after its segment's verbatim block")
        if self.segments > len(middle):
            self._fail("a segment does not hold all its records")
        held = np.bincount(segments, weights=records, minlength=self.segments) if len(middle) else np.zeros(self.segments)
        lengths = np.minimum(self.segment_slots, self.slots - np.arange(self.segments, dtype=np.uint64) * self.segment_slots)
        if (held != lengths).any():
            self._fail("a segment does not hold all its records")
        self.middle = middle
        self.middle_numbers = np.arange(1, 1 + len(middle))

    def _where(self, number):
        return "block at %d: " % int(self.entries["offset"][number])

    def _raw_limit(self, entry):
        """The most bytes a block of this many records can decompress to: a contract block's header,
        then per column at most 8 bytes a record, and a dictionary of at most one entry a record."""
        n = int(entry["records"])
        if entry["kind"] == VERBATIM:
            return 4 + n * (8 + self.layout.record_size)
        fixed, per_record = self._contract_limit
        return fixed + per_record * n

    def _payloads(self, numbers):
        """The payloads of blocks `numbers` (increasing), each checked against the index and its CRC-32
        and decompressed to exactly its size; adjacent blocks are read from the file together."""
        entries = self.entries
        decompressor = zstandard.ZstdDecompressor()
        numbers = [int(i) for i in numbers]
        payloads = []
        i = 0
        while i < len(numbers):
            first = numbers[i]
            start = int(entries["offset"][first])
            j = i + 1
            while (j < len(numbers) and numbers[j] == numbers[j - 1] + 1
                   and int(entries["offset"][numbers[j]]) - start < _READ_SPAN):
                j += 1
            last = numbers[j - 1]
            end = int(entries["offset"][last]) + BLOCK_HEADER_SIZE + int(entries["stored"][last])
            data = memoryview(read_exactly(self.file, start, end - start, self.path))
            for number in numbers[i:j]:
                at = int(entries["offset"][number]) - start
                payloads.append(self._payload(number, data[at:at + BLOCK_HEADER_SIZE + int(entries["stored"][number])],
                                              decompressor))
            i = j
        return payloads

    def _payload(self, number, block, decompressor):
        entry = self.entries[number]
        where = self._where(number)
        kind, stored, raw, crc = struct.unpack_from("<IIII", block)
        if kind != entry["kind"] or stored != entry["stored"] or crc != entry["crc"] or raw > MAX_RAW_SIZE:
            self._fail(where + "header differs from the index")
        if raw > self._raw_limit(entry):
            self._fail(where + "raw size over what its records can take")
        data = block[BLOCK_HEADER_SIZE:]
        if zlib.crc32(data) != crc:
            self._fail(where + "checksum does not match")
        try:
            if zstandard.frame_content_size(data) != raw:
                self._fail(where + "frame size differs from the block's")
            payload = decompressor.decompress(data, max_output_size=raw)
        except zstandard.ZstdError as e:
            self._fail(where + "frame does not decompress (%s)" % e)
        if len(payload) != raw:
            self._fail(where + "frame does not decompress to its size")
        return payload

    def read(self, contracts=None):
        """DayFields of every whole record, or of `contracts` (a set of InstrumentID bytes) only."""
        layout = self.layout
        names = field_names(layout)
        middle = self.middle
        take = np.ones(len(middle), bool)
        if contracts is not None:
            wanted = np.array([name in contracts for name in self.contracts] + [False], bool)
            contract = np.where(middle["kind"] == CONTRACT, middle["contract"], len(self.contracts)).astype(np.int64)
            take = (middle["kind"] != CONTRACT) | wanted[contract]
        chosen = middle[take]
        numbers = self.middle_numbers[take]
        payloads = self._payloads(numbers)
        first = chosen["segment"].astype(np.int64) * self.segment_slots
        end = np.minimum(first + self.segment_slots, self.slots)
        parts, slot_parts, held_parts = [], [], []
        damaged = 0
        in_blocks = (chosen["kind"] == CONTRACT).tolist()
        if any(in_blocks):
            mine = np.array(in_blocks)
            contract_payloads = [p for p, c in zip(payloads, in_blocks) if c]
            payloads = [None if c else p for p, c in zip(payloads, in_blocks)]  # the decoder frees them
            try:
                slots, fields = decode_contract_blocks(contract_payloads, layout, first[mine], end[mine],
                                                       chosen["records"][mine], set(names))
            except BlockError as e:
                self._fail(self._where(numbers[mine][e.block]) + str(e))
            parts.append(fields)
            slot_parts.append(slots)
            held_parts.append(slots)
        for number, payload, contract, entry, low, high in zip(numbers.tolist(), payloads, in_blocks, chosen,
                                                                first.tolist(), end.tolist()):
            if contract:
                continue
            where = self._where(number)
            m = int(entry["records"])
            r = layout.record_size
            if len(payload) < 4 or struct.unpack_from("<I", payload)[0] != m or len(payload) != 4 + m * (8 + r):
                self._fail(where + "verbatim records do not add up")
            slots = np.frombuffer(payload, "<u8", m, 4)
            if (slots < low).any() or (slots >= high).any():
                self._fail(where + "verbatim slot out of place")
            records = np.frombuffer(payload, np.uint8, m * r, 4 + 8 * m).reshape(m, r)
            ok = whole_records(records, layout)
            damaged += int(m - np.count_nonzero(ok))
            if contracts is not None:
                ok &= contract_mask(records, layout, contracts)
            held_parts.append(slots)
            parts.append(record_fields(records[ok], layout, names))
            slot_parts.append(np.asarray(slots[ok], np.uint64))
        if not parts:
            parts.append(record_fields(np.zeros((0, layout.record_size), np.uint8), layout, names))
            slot_parts.append(np.zeros(0, np.uint64))
        day = DayFields.concat(parts, self.day, layout.version, names, damaged, int(self.tail_size))
        slots = np.concatenate(slot_parts)
        if contracts is None:
            self._check_held(np.concatenate(held_parts) if held_parts else np.zeros(0, np.uint64))
        order = self._journal_order(slots)
        for name in names:
            column = day.fields[name]
            day.fields[name] = column.take(order) if hasattr(column, "take") else column[order]
        return day

    def _check_held(self, held):
        """In a whole read every slot of the day is held by exactly one block."""
        if len(held) != self.slots or (len(held) and (np.bincount(held.astype(np.int64), minlength=self.slots) != 1).any()):
            self._fail("a slot held by two blocks, or one left out")

    def _journal_order(self, slots):
        """The permutation that puts rows of these slots in the journal's order."""
        if len(slots) == 0:
            return np.zeros(0, np.int64)
        if self.slots <= 4 * len(slots) + 4096:
            place = np.full(self.slots, -1, np.int64)
            place[slots] = np.arange(len(slots))
            order = place[place >= 0]
            if len(order) != len(slots):
                self._fail("a slot held by two blocks")
            return order
        order = np.argsort(slots, kind="stable")
        if (np.diff(slots[order]) == 0).any():
            self._fail("a slot held by two blocks")
        return order
