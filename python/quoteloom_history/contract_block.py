"""Decodes a packed day's contract block (one contract's records of one segment, as columns) into
journal fields, checking every count, size and reference before use."""
import struct

import numpy as np

from .day_fields import TEXT_FIELDS
from .text_column import TextColumn

INTEGER, DECIMAL, XOR, DICTIONARY, QUOTIENT, CLOCK, RUNNING_TOTAL = range(7)
REF_PREVIOUS, REF_NONE = 255, 254
CLOCK_END = 100 * 3600
POW10 = [float(10 ** e) for e in range(19)]
_U = np.uint64


class BlockError(ValueError):
    """A contract block that breaks the format's rules; the reader names the block."""


class _Column:
    __slots__ = ("method", "width", "scale", "ref", "step", "size", "section", "entries", "dictionary", "x", "text")


def _planes(column, n):
    """The stored values: plane j holds byte j of every value."""
    u = np.zeros(n, np.uint64)
    if column.width:
        planes = np.frombuffer(column.section, np.uint8, column.width * n).reshape(column.width, n)
        u.view(np.uint8).reshape(n, 8)[:, :column.width] = planes.T
    return u


def _unzigzag(u):
    return (u >> _U(1)) ^ (_U(0) - (u & _U(1)))


def _read_headers(payload, n, layout):
    count = len(layout.fields) + 1
    if struct.unpack_from("<I", payload, 4)[0] != count:
        raise BlockError("column count %d, expected %d" % (struct.unpack_from("<I", payload, 4)[0], count))
    size = len(payload)
    if (size - 8) // 16 < count:
        raise BlockError("column headers cut short")
    kinds = ["u64"] + [f[3] for f in layout.fields]
    sizes = [8] + [f[2] for f in layout.fields]
    columns = []
    at = 8 + 16 * count
    for c in range(count):
        col = _Column()
        col.method, col.width, col.scale, col.ref, col.step, col.size = struct.unpack_from("<BBBBQI", payload, 8 + 16 * c)
        kind = kinds[c]
        number = col.method in (INTEGER, DECIMAL, CLOCK)
        if kind == "txt":
            fits = col.method == DICTIONARY or (col.method == CLOCK and sizes[c] > 8)
        elif kind == "f64":
            fits = col.method in (DECIMAL, XOR, QUOTIENT, RUNNING_TOTAL)
        else:
            fits = col.method == INTEGER
        if not fits:
            raise BlockError("column %d: method does not fit the field" % c)
        if col.width > 8:
            raise BlockError("column %d: value width over 8 bytes" % c)
        if col.method in (QUOTIENT, RUNNING_TOTAL):
            if col.ref >= count or col.scale >= count or col.ref == c or col.scale == c:
                raise BlockError("column %d: bad operands" % c)
        elif (col.scale > 18) if col.method == DECIMAL else col.scale != 0:
            raise BlockError("column %d: bad scale" % c)
        elif (col.step == 0) if number else (col.step != 1 or col.ref != REF_PREVIOUS):
            raise BlockError("column %d: bad step or reference" % c)
        elif col.method == CLOCK and col.ref < REF_NONE:
            raise BlockError("column %d: a clock refers to no other column" % c)
        if c == 0 and col.ref != REF_PREVIOUS:
            raise BlockError("column 0: slots must be told as changes")
        if size - at < col.size:
            raise BlockError("column %d: section runs past the block" % c)
        section = memoryview(payload)[at:at + col.size]
        at += col.size
        planes = col.width * n
        if col.method == DICTIONARY:
            if col.size < 4:
                raise BlockError("column %d: dictionary cut short" % c)
            col.entries = struct.unpack_from("<I", section)[0]
            if col.entries == 0 or col.entries > n or col.size != 4 + col.entries * sizes[c] + planes:
                raise BlockError("column %d: dictionary size does not add up" % c)
            col.dictionary = section[4:4 + col.entries * sizes[c]]
            col.section = section[4 + col.entries * sizes[c]:]
        elif col.size != planes:
            raise BlockError("column %d: section size does not add up" % c)
        else:
            col.section = section
        columns.append(col)
    if at != size:
        raise BlockError("bytes after the last column")

    def plain_number(c):
        return c < count and columns[c].method <= XOR

    for c, col in enumerate(columns):
        product = col.method == RUNNING_TOTAL
        if col.method in (QUOTIENT, RUNNING_TOTAL):
            a_ok = plain_number(col.ref) or (not product and columns[col.ref].method == RUNNING_TOTAL)
            if not a_ok or not plain_number(col.scale) or (product and (col.ref == 0 or kinds[col.ref] != "i32")):
                raise BlockError("column %d: operands must be numbers stored as such" % c)
        if col.method > DECIMAL or col.ref >= REF_NONE:
            continue
        if col.ref >= count or col.ref == c:
            raise BlockError("column %d: reference to no column" % c)
        target = columns[col.ref]
        if target.method > DECIMAL or target.ref < REF_NONE:
            raise BlockError("column %d: reference to a column it cannot use" % c)
    return columns, kinds, sizes


def _numbers(columns, c, n):
    col = columns[c]
    if col.width == 0:  # every stored value 0: a constant column, or a copy of its reference
        col.x = columns[col.ref].x.copy() if col.method != XOR and col.ref < REF_NONE else np.zeros(n, np.uint64)
        return
    u = _planes(col, n)
    if col.method == XOR:
        col.x = np.bitwise_xor.accumulate(u)
        return
    s = _unzigzag(u)
    if col.step != 1:
        s *= _U(col.step)
    if col.ref == REF_PREVIOUS:
        col.x = np.cumsum(s, dtype=np.uint64)
    elif col.ref == REF_NONE:
        col.x = s
    else:
        col.x = columns[col.ref].x + s


def _value(columns, kinds, c):
    """Column c's values as doubles, the way the quotient and the running total use them."""
    x = columns[c].x
    kind = kinds[c]
    if kind == "f64":
        return x.view(np.float64)
    if kind == "i32":
        return x.astype(np.uint32).view(np.int32).astype(np.float64)
    if kind == "u32":
        return x.astype(np.uint32).astype(np.float64)
    if kind == "i64":
        return x.view(np.int64).astype(np.float64)
    return x.astype(np.float64)


def _running_total(columns, kinds, c, n):
    col = columns[c]
    u = _planes(col, n)
    k = np.array([col.step], np.uint64).view(np.float64)[0]
    volume = columns[col.ref].x.astype(np.uint32).view(np.int32).astype(np.int64)
    change = np.diff(volume, prepend=np.int64(0)).astype(np.float64)
    with np.errstate(all="ignore"):
        p = change * _value(columns, kinds, col.scale) * k
    total = np.empty(n, np.float64)
    # Each total adds its product to the last total, in order; a row with stored bits corrects its
    # total, and the sum goes on from there. Long runs without a correction are summed by numpy
    # (add.accumulate adds one after another, as the writer did); short ones on Python floats.
    starts = np.flatnonzero(u)
    if len(starts) == 0 or starts[0] != 0:
        starts = np.concatenate(([0], starts))
    ends = np.append(starts[1:], n)
    products = p.tolist()
    corrections = u.tolist()
    before = 0.0
    with np.errstate(all="ignore"):
        for s, e in zip(starts.tolist(), ends.tolist()):
            value = _flipped(before + products[s], corrections[s])
            if e - s > 64:
                run = p[s:e].copy()
                run[0] = value
                np.add.accumulate(run, out=total[s:e])
                before = float(total[e - 1])
                continue
            values = [value]
            for i in range(s + 1, e):
                value = value + products[i]
                values.append(value)
            total[s:e] = values
            before = value
    col.x = total.view(np.uint64)


_DOUBLE = struct.Struct("<d")
_BITS = struct.Struct("<Q")


def _flipped(value, bits):
    """The double whose bits are value's XOR bits."""
    if not bits:
        return value
    return _DOUBLE.unpack(_BITS.pack(_BITS.unpack(_DOUBLE.pack(value))[0] ^ bits))[0]


def _quotient(columns, kinds, c, n):
    col = columns[c]
    u = _planes(col, n)
    k = np.array([col.step], np.uint64).view(np.float64)[0]
    with np.errstate(all="ignore"):
        q = _value(columns, kinds, col.ref) / (_value(columns, kinds, col.scale) * k)
    col.x = u ^ q.view(np.uint64)


def _text(col, c, n, size):
    d = np.cumsum(_unzigzag(_planes(col, n)), dtype=np.uint64)
    if n and d.max() >= col.entries:
        raise BlockError("column %d: dictionary entry out of range" % c)
    raw = bytes(col.dictionary)
    values = [raw[i * size:(i + 1) * size].split(b"\0", 1)[0] for i in range(col.entries)]
    col.text = TextColumn(values, d.astype(np.int64))


def _clock(col, c):
    x = col.x
    if len(x) and x.max() >= CLOCK_END:
        raise BlockError("column %d: clock time out of range" % c)
    seconds, codes = np.unique(x, return_inverse=True)
    values = [b"%02d:%02d:%02d" % (s // 3600, s // 60 % 60, s % 60) for s in seconds.tolist()]
    col.text = TextColumn(values, codes.reshape(-1))


def decode_contract_block(payload, layout, first_slot, end_slot, wanted):
    """The slots and the `wanted` fields (a dict name -> array or TextColumn) of a contract block's
    payload whose slots must increase inside [first_slot, end_slot). BlockError when it breaks a rule."""
    if len(payload) < 8:
        raise BlockError("contract block cut short")
    n = struct.unpack_from("<I", payload)[0]
    if n == 0 or n > end_slot - first_slot:
        raise BlockError("contract block of %d records" % n)
    columns, kinds, sizes = _read_headers(payload, n, layout)
    for second_pass in (False, True):
        for c, col in enumerate(columns):
            if col.method in (DICTIONARY, QUOTIENT, RUNNING_TOTAL) or (col.ref < REF_NONE) != second_pass:
                continue
            _numbers(columns, c, n)
    names = ["slot"] + [f[0] for f in layout.fields]
    for c, col in enumerate(columns):
        if col.method == DICTIONARY and names[c] in TEXT_FIELDS:
            _text(col, c, n, sizes[c])
        elif col.method == DICTIONARY:
            # Unread fields are still held to the rules.
            d = np.cumsum(_unzigzag(_planes(col, n)), dtype=np.uint64)
            if n and d.max() >= col.entries:
                raise BlockError("column %d: dictionary entry out of range" % c)
        elif col.method == CLOCK:
            _clock(col, c)
        elif col.method == DECIMAL:
            col.x = (col.x.view(np.int64).astype(np.float64) / POW10[col.scale]).view(np.uint64)
    for c, col in enumerate(columns):
        if col.method == RUNNING_TOTAL:
            _running_total(columns, kinds, c, n)
    for c, col in enumerate(columns):
        if col.method == QUOTIENT:
            _quotient(columns, kinds, c, n)
    slots = columns[0].x
    if slots[0] < first_slot or slots[-1] >= end_slot or (n > 1 and not (slots[1:] > slots[:-1]).all()):
        raise BlockError("slots out of order or outside their segment")
    out = {}
    for c in range(1, len(columns)):
        name = names[c]
        if name not in wanted:
            continue
        col = columns[c]
        if kinds[c] == "txt":
            out[name] = col.text
        elif kinds[c] == "i32":
            out[name] = col.x.astype(np.uint32).view(np.int32)
        elif kinds[c] == "u32":
            out[name] = col.x.astype(np.uint32)
        elif kinds[c] == "i64":
            out[name] = col.x.view(np.int64)
        elif kinds[c] == "f64":
            out[name] = col.x.view(np.float64)
        else:
            out[name] = col.x
    return slots, out
