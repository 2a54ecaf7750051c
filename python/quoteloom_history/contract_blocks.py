"""Decodes a packed day's contract blocks (each one contract's records of one segment, as columns)
into journal fields, all the blocks of a read at once: each column is decoded across every block in a
few whole-array passes, its sums restarted at each block's first row, so the cost does not grow with
the number of blocks. Every count, size and reference is checked before use."""
import struct

import numpy as np

from .day_fields import TEXT_FIELDS
from .text_column import TextColumn

INTEGER, DECIMAL, XOR, DICTIONARY, QUOTIENT, CLOCK, RUNNING_TOTAL = range(7)
REF_PREVIOUS, REF_NONE = 255, 254
CLOCK_END = 100 * 3600
POW10 = np.array([float(10 ** e) for e in range(19)])
_U = np.uint64
_GROUP_BYTES = 1 << 24  # the planes table of a group of blocks, at most (unless one block is larger)
_HEADER = np.dtype({"names": ["method", "width", "scale", "ref", "step", "size"],
                    "formats": ["u1", "u1", "u1", "u1", "<u8", "<u4"],
                    "offsets": [0, 1, 2, 3, 4, 12], "itemsize": 16})
# How a block stores a column's x: summed changes, plain values, changes from another column, XOR chain.
_SUMMED, _PLAIN, _FROM_COLUMN, _XORED, _OTHER = range(5)

# Column rule faults, in the order a block's columns are checked.
_COLUMN_FAULTS = [None, "method does not fit the field", "value width over 8 bytes", "bad operands", "bad scale",
                  "bad step or reference", "a clock refers to no other column", "slots must be told as changes",
                  "section runs past the block", "dictionary cut short", "dictionary size does not add up",
                  "section size does not add up"]
_OPERAND_FAULTS = [None, "operands must be numbers stored as such", "reference to no column",
                   "reference to a column it cannot use"]


class BlockError(ValueError):
    """A contract block that breaks the format's rules; `block` is its place in the read's list."""

    def __init__(self, block, why):
        super().__init__(why)
        self.block = block


def _refuse_blocks(bad, why):
    """BlockError for the first block marked in `bad`; `why(b)` says what is wrong with it."""
    if bad.any():
        b = int(np.argmax(bad))
        raise BlockError(b, why(b))


def _refuse_columns(codes, faults):
    """BlockError for the first block with a nonzero code in `codes` (blocks x columns), naming its
    first faulty column and that fault."""
    if codes.any():
        b, c = np.unravel_index(int(np.argmax(codes.ravel() != 0)), codes.shape)
        raise BlockError(int(b), "column %d: %s" % (c, faults[codes[b, c]]))


def _first_fault(checks, shape):
    """Per cell the number of the first check (from 1) that marks it, 0 where none does."""
    code = np.zeros(shape, np.int8)
    for number in range(len(checks), 0, -1):
        code = np.where(checks[number - 1], np.int8(number), code)
    return code


def _signed(v):
    """zigzag⁻¹ of stored values v (of 1, 2, 4 or 8 bytes each), as a new 64-bit array: narrow values
    are decoded at their own width, then sign-extended."""
    if v.itemsize == 8:
        s = v.copy()
        one = s & _U(1)
        np.negative(one, out=one)
        s >>= _U(1)
        s ^= one
        return s
    one = v & v.dtype.type(1)
    np.negative(one, out=one)
    half = v >> v.dtype.type(1)
    half ^= one
    return half.view("<i%d" % v.itemsize).astype(np.int64).view(np.uint64)


class _Blocks:
    """The blocks of one read laid side by side: per block its record count and column headers, per
    row its block. Made and used on one thread."""

    def __init__(self, payloads, layout, first_slots, end_slots, records):
        self.count = count = len(layout.fields) + 1
        self.kinds = ["u64"] + [f[3] for f in layout.fields]
        self.sizes = np.array([8] + [f[2] for f in layout.fields], np.int64)
        self.names = ["slot"] + [f[0] for f in layout.fields]
        self.payloads = payloads
        self.views = views = [memoryview(p) for p in payloads]
        lengths = np.array([len(p) for p in payloads], np.int64)
        _refuse_blocks(lengths < 8, lambda b: "contract block cut short")
        head = np.frombuffer(b"".join([v[:8] for v in views]), "<u4").reshape(-1, 2).astype(np.int64)
        n, columns = head[:, 0], head[:, 1]
        _refuse_blocks((n == 0) | (n > end_slots - first_slots), lambda b: "contract block of %d records" % n[b])
        _refuse_blocks(n != records, lambda b: "record count differs from the index")
        _refuse_blocks(columns != count, lambda b: "column count %d, expected %d" % (columns[b], count))
        _refuse_blocks((lengths - 8) // 16 < count, lambda b: "column headers cut short")
        heads = np.frombuffer(b"".join([v[8:8 + 16 * count] for v in views]), _HEADER).reshape(len(views), count)
        self.method = heads["method"].astype(np.int64)
        self.width = heads["width"].astype(np.int64)
        self.scale = heads["scale"].astype(np.int64)
        self.ref = heads["ref"].astype(np.int64)
        self.step = heads["step"].copy()
        self.n = n
        self.first_slots, self.end_slots = first_slots, end_slots
        self._check_columns(lengths, heads["size"].astype(np.int64))
        self.rows = int(n.sum())
        self.first_row = np.zeros(len(n), np.int64)
        np.cumsum(n[:-1], out=self.first_row[1:])
        self.block_of = None
        self.scratch = None

    def take_dictionaries(self, columns):
        """Keeps the raw dictionary entries of `columns` (text columns) for _text, then lets go of the
        payloads (the list given is emptied): everything else of them is in the stored values."""
        self.dictionaries = {}
        views = self.views
        for c in columns:
            dictionary = self.method[:, c] == DICTIONARY
            starts = (self.section_start[:, c] + 4)[dictionary]
            lengths = self.entries[:, c][dictionary] * int(self.sizes[c])
            self.dictionaries[c] = b"".join([views[b][s:s + k] for b, s, k in zip(np.flatnonzero(dictionary).tolist(),
                                                                                starts.tolist(), lengths.tolist())])
        self.views = None
        self.payloads.clear()

    def _u32_at(self, blocks, offsets):
        views = self.views
        return np.frombuffer(b"".join([views[b][o:o + 4] for b, o in zip(blocks.tolist(), offsets.tolist())]),
                             "<u4").astype(np.int64)

    def _check_columns(self, lengths, size):
        m, w, scale, ref, step = self.method, self.width, self.scale, self.ref, self.step
        count, n = self.count, self.n[:, None]
        number = np.arange(count)
        text = np.array([k == "txt" for k in self.kinds])
        double = np.array([k == "f64" for k in self.kinds])
        fits = np.where(text, (m == DICTIONARY) | ((m == CLOCK) & (self.sizes > 8)),
                        np.where(double, (m == DECIMAL) | (m == XOR) | (m == QUOTIENT) | (m == RUNNING_TOTAL),
                                 m == INTEGER))
        operands = (m == QUOTIENT) | (m == RUNNING_TOTAL)
        bad_operands = operands & ((ref >= count) | (scale >= count) | (ref == number) | (scale == number))
        bad_scale = ~operands & np.where(m == DECIMAL, scale > 18, scale != 0)
        numeric = (m == INTEGER) | (m == DECIMAL) | (m == CLOCK)
        bad_step = np.where(numeric, step == 0, (step != 1) | (ref != REF_PREVIOUS))
        # A section starts where the one before it ends (offsets within the block's payload).
        ends = 8 + 16 * count + np.cumsum(size, axis=1)
        at = ends - size
        past = ends > lengths[:, None]
        planes = w * n
        dictionary = m == DICTIONARY
        readable = dictionary & ~past & (size >= 4)
        entries = np.zeros(m.shape, np.int64)
        where = np.nonzero(readable)
        entries[readable] = self._u32_at(where[0], at[readable])
        bad_dictionary = (entries == 0) | (entries > n) | (size != 4 + entries * self.sizes + planes)
        checks = [~fits, w > 8, bad_operands, bad_scale, bad_step, (m == CLOCK) & (ref < REF_NONE),
                  (number == 0) & (ref != REF_PREVIOUS), past, dictionary & (size < 4), dictionary & bad_dictionary,
                  ~dictionary & (size != planes)]
        # As a chain of alternatives: a column faulted for its operands is not held to the scale and
        # step rules, nor one with a bad scale to the step rule.
        checks[3] &= ~bad_operands
        checks[4] &= ~operands & ~bad_scale
        checks[5] &= ~operands & ~bad_scale & ~bad_step
        _refuse_columns(_first_fault(checks, m.shape), _COLUMN_FAULTS)
        _refuse_blocks(ends[:, -1] != lengths, lambda b: "bytes after the last column")
        self._check_operands(m, ref, scale)
        self.entries = entries
        self.plane_start = at + np.where(dictionary, 4 + entries * self.sizes, 0)
        self.section_start = at

    def _check_operands(self, m, ref, scale):
        count = self.count
        number = np.arange(count)
        i32 = np.array([k == "i32" for k in self.kinds])
        operands = (m == QUOTIENT) | (m == RUNNING_TOTAL)
        product = m == RUNNING_TOTAL
        method_a = np.take_along_axis(m, np.clip(ref, 0, count - 1), 1)
        method_b = np.take_along_axis(m, np.clip(scale, 0, count - 1), 1)
        a_ok = (method_a <= XOR) | (~product & (method_a == RUNNING_TOTAL))
        bad_operands = operands & (~a_ok | (method_b > XOR) | (product & ((ref == 0) | ~i32[np.clip(ref, 0, count - 1)])))
        refers = (m <= DECIMAL) & (ref < REF_NONE)
        no_column = refers & ((ref >= count) | (ref == number))
        ref_of_target = np.take_along_axis(ref, np.clip(ref, 0, count - 1), 1)
        unusable = refers & ((method_a > DECIMAL) | (ref_of_target < REF_NONE))
        _refuse_columns(_first_fault([bad_operands, no_column, unusable], m.shape), _OPERAND_FAULTS)

    def per_row(self, values, scratch=False):
        """A per-block array spread over the rows; into one reused 8-byte buffer when `scratch` (valid
        until the next such call)."""
        if self.block_of is None:
            self.block_of = np.repeat(np.arange(len(self.n), dtype=np.intp), self.n)
        values = np.asarray(values)
        if not scratch or values.itemsize != 8:
            return np.take(values, self.block_of)
        if self.scratch is None:
            self.scratch = np.empty(self.rows, np.uint64)
        return np.take(values, self.block_of, out=self.scratch.view(values.dtype))

    def uniform(self, values):
        """One value when every block has the same bits (8-byte values), else the values spread over
        the rows (in the scratch buffer)."""
        bits = values.view(np.uint64)
        return values[0] if (bits == bits[0]).all() else self.per_row(values, scratch=True)

    def block_max(self, values):
        return np.maximum.reduceat(values, self.first_row)

    def restart(self, s, ufunc):
        """`ufunc`'s running result over s (u64, changed in place), begun anew at each block's first
        row: each block's first value takes out the total of the block before it."""
        if len(self.n) > 1:
            totals = ufunc.reduceat(s, self.first_row)[:-1]
            if ufunc is np.add:
                s[self.first_row[1:]] -= totals
            else:
                s[self.first_row[1:]] ^= totals
        ufunc.accumulate(s, out=s)
        return s

    def stored_values(self):
        """Per column its stored values u over all rows as 1, 2, 4 or 8-byte integers (None where every
        block stores none). A group of blocks at a time, their planes are placed in one table, a row
        per plane of the widest block, then each column's planes interleaved into its values; the
        groups keep the table small enough to be reused."""
        w = self.width
        widest = w.max(axis=0)
        offset = np.zeros(self.count + 1, np.int64)
        np.cumsum(widest, out=offset[1:])
        full = int(offset[-1])
        out = []
        for c in range(self.count):
            size = 0 if widest[c] == 0 else 1 << int(widest[c] - 1).bit_length()
            out.append(None if size == 0 else np.empty(self.rows, "<u%d" % size))
        if full == 0:
            return out
        # Each block's planes as ranges of its payload, adjacent ones merged: they are one range but
        # for the dictionaries between them.
        counts = w.ravel()
        held = np.flatnonzero(counts)
        block = held // self.count
        start = self.plane_start.ravel()[held]
        end = start + counts[held] * self.n[block]
        joins = np.ones(len(start), bool)
        joins[1:] = (start[1:] != end[:-1]) | (block[1:] != block[:-1])
        heads = np.flatnonzero(joins)
        tails = np.append(heads[1:], len(start)) - 1
        run_block, run_start, run_end = block[heads].tolist(), start[heads].tolist(), end[tails].tolist()
        # The table row of each plane of each block, block by block.
        total = int(counts.sum())
        firsts = np.repeat(np.cumsum(counts) - counts, counts)
        rows = np.repeat(np.broadcast_to(offset[:-1], w.shape).ravel(), counts) + np.arange(total) - firsts
        # Groups of whole blocks whose table stays under _GROUP_BYTES.
        group_end = [0]
        row = 0
        for b, n in enumerate(self.n.tolist()):
            if b > group_end[-1] and (row + n) * full > _GROUP_BYTES:
                group_end.append(b)
                row = 0
            row += n
        group_end = group_end[1:] + [len(self.n)]
        longest = max(int(self.n[a:b].sum()) for a, b in zip([0] + group_end[:-1], group_end))
        table = np.empty((full, longest), np.uint8)
        views = self.views
        per_block = w.sum(axis=1).tolist()
        ns = self.n.tolist()
        run = plane = row = 0
        first_block = 0
        for last_block in group_end:
            parts = []
            while run < len(run_block) and run_block[run] < last_block:
                parts.append(views[run_block[run]][run_start[run]:run_end[run]])
                run += 1
            planes = np.frombuffer(b"".join(parts), np.uint8)
            group_rows = sum(ns[first_block:last_block])
            here = table[:, :group_rows]
            here.fill(0)
            at = at_row = 0
            for b in range(first_block, last_block):
                p, n = per_block[b], ns[b]
                if p:
                    source = planes[at:at + p * n].reshape(p, n)
                    if p == full:
                        here[:, at_row:at_row + n] = source
                    else:
                        here[rows[plane:plane + p], at_row:at_row + n] = source
                at += p * n
                at_row += n
                plane += p
            for c in range(self.count):
                if out[c] is not None:
                    bytes_of = out[c].view(np.uint8).reshape(self.rows, -1)[row:row + group_rows]
                    bytes_of[:, widest[c]:] = 0
                    for j in range(widest[c]):
                        bytes_of[:, j] = here[offset[c] + j]
            row += group_rows
            first_block = last_block
        return out


def _choose(blocks, choice, candidates):
    """Per row the candidate its block's `choice` names (candidates: choice -> array over all rows)."""
    keys = list(candidates)
    out = candidates[keys[0]].copy()
    for key in keys[1:]:
        np.copyto(out, candidates[key], where=blocks.per_row(choice == key))
    return out


def _numbers(blocks, u, modes):
    """Each column's x for the blocks that store it as numbers (modes: blocks x columns): first those
    that refer to no other column, then those that do (they refer only to the former). A column's
    stored values are let go once read, unless a quotient or running total of it reads them later."""
    x = [None] * blocks.count
    changes = [None] * blocks.count
    for c in range(blocks.count):
        present = set(np.unique(modes[:, c]).tolist()) - {_OTHER}
        v = u[c]
        if _OTHER not in modes[:, c]:
            u[c] = None
        if not present:
            continue
        if v is None:
            # Every stored value 0: a constant 0, or a copy of the reference (filled in below).
            x[c] = np.zeros(blocks.rows, np.uint64)
            continue
        if present == {_XORED}:
            x[c] = blocks.restart(v.astype(np.uint64), np.bitwise_xor)
            continue
        s = _signed(v)
        step = blocks.step[:, c]
        if (step != 1).any():
            np.multiply(s, blocks.uniform(step), out=s)
        if present <= {_SUMMED, _FROM_COLUMN}:
            if _FROM_COLUMN in present:
                changes[c] = s.copy() if _SUMMED in present else s
            x[c] = blocks.restart(s, np.add) if _SUMMED in present else np.zeros(blocks.rows, np.uint64)
            continue
        changes[c] = s
        candidates = {}
        for mode in present:
            if mode == _FROM_COLUMN:
                candidates[mode] = np.zeros(blocks.rows, np.uint64)
            elif mode == _SUMMED:
                candidates[mode] = blocks.restart(s.copy(), np.add)
            elif mode == _PLAIN:
                candidates[mode] = s
            else:
                candidates[mode] = blocks.restart(v.astype(np.uint64), np.bitwise_xor)
        x[c] = _choose(blocks, modes[:, c], candidates)
    for c in range(blocks.count):
        from_column = modes[:, c] == _FROM_COLUMN
        if not from_column.any():
            continue
        ref = blocks.ref[:, c]
        for r in np.unique(ref[from_column]).tolist():
            mine = from_column & (ref == r)
            rows = None if mine.all() else blocks.per_row(mine)
            if changes[c] is None:
                np.copyto(x[c], x[r], where=True if rows is None else rows)
            else:
                np.add(x[r], changes[c], out=x[c], where=True if rows is None else rows)
    return x


def _value(blocks, x, c):
    """Column c's values as doubles, the way the quotient and the running total use them."""
    kind = blocks.kinds[c]
    if kind == "f64":
        return x[c].view(np.float64)
    if kind == "i32":
        return x[c].astype(np.uint32).view(np.int32).astype(np.float64)
    if kind == "u32":
        return x[c].astype(np.uint32).astype(np.float64)
    if kind == "i64":
        return x[c].view(np.int64).astype(np.float64)
    return x[c].astype(np.float64)


def _operand_groups(blocks, c, method):
    """(a, b, rows) for each pair of operand columns the blocks of `method` in column c use; rows is
    None when every block uses that pair."""
    mine = blocks.method[:, c] == method
    pairs = np.unique(np.stack([blocks.ref[:, c][mine], blocks.scale[:, c][mine]], 1), axis=0)
    for a, b in pairs.tolist():
        use = mine & (blocks.ref[:, c] == a) & (blocks.scale[:, c] == b)
        yield a, b, None if use.all() else blocks.per_row(use)


def _factor(blocks, c):
    """The double k of each block's column c: one double when all are alike, else spread over the rows."""
    return blocks.uniform(blocks.step[:, c].view(np.float64))


_DOUBLE = struct.Struct("<d")
_BITS = struct.Struct("<Q")


def _flipped(value, bits):
    """The double whose bits are value's XOR bits."""
    if not bits:
        return value
    return _DOUBLE.unpack(_BITS.pack(_BITS.unpack(_DOUBLE.pack(value))[0] ^ bits))[0]


def _running_total(blocks, x, u, c):
    """Totals of the running-total blocks of column c: each adds its product to the last total, in
    order, from 0 at a block's first row; a row with stored bits corrects its total and the sum goes
    on from there. Long runs without a correction are summed by numpy (add.accumulate adds one after
    another, as the writer did); short ones on Python floats."""
    n = blocks.rows
    total = x[c].view(np.float64)  # rows of other blocks keep their values
    corrections = u[c]
    first = np.zeros(n, bool)
    first[blocks.first_row] = True
    for a, b, rows in _operand_groups(blocks, c, RUNNING_TOTAL):
        volume = x[a].view(np.int64) << np.int64(32)  # the i32 field, sign-extended
        volume >>= np.int64(32)
        change = np.empty(n, np.int64)
        change[0] = volume[0]
        np.subtract(volume[1:], volume[:-1], out=change[1:])
        change[first] = volume[first]
        del volume
        p = change.astype(np.float64)
        del change
        with np.errstate(all="ignore"):
            p *= _value(blocks, x, b)
            p *= _factor(blocks, c)
        here = np.ones(n, bool) if rows is None else rows
        starts = np.flatnonzero(here & (first if corrections is None else (corrections != 0) | first))
        if rows is not None:
            starts = np.union1d(starts, blocks.first_row)  # a run ends where the next block begins
        ends = np.append(starts[1:], n)
        keep = here[starts]
        runs = zip(starts[keep].tolist(), ends[keep].tolist(), first[starts[keep]].tolist(),
                   [0] * int(keep.sum()) if corrections is None else corrections[starts[keep]].tolist())
        before = 0.0
        with np.errstate(all="ignore"):
            for s, e, fresh, bits in runs:
                if fresh:
                    before = 0.0
                if e - s > 64:
                    run = total[s:e]
                    run[:] = p[s:e]
                    run[0] = _flipped(before + run[0], bits)
                    np.add.accumulate(run, out=run)
                    before = float(run[-1])
                    continue
                products = p[s:e].tolist()
                value = _flipped(before + products[0], bits)
                values = [value]
                for product in products[1:]:
                    value = value + product
                    values.append(value)
                total[s:e] = values
                before = value


def _quotient(blocks, x, u, c):
    k = _factor(blocks, c)
    for a, b, rows in _operand_groups(blocks, c, QUOTIENT):
        with np.errstate(all="ignore"):
            divisor = _value(blocks, x, b) * k
            q = np.divide(_value(blocks, x, a), divisor, out=divisor)
        bits = q.view(np.uint64)
        if u[c] is not None:
            bits ^= u[c]
        if rows is None:
            x[c] = bits
        else:
            np.copyto(x[c], bits, where=rows)


def _text(blocks, x, c, wanted):
    """Column c as a TextColumn (None when not wanted), its dictionary entries and clock times checked."""
    method = blocks.method[:, c]
    dictionary = method == DICTIONARY
    clock = method == CLOCK
    parts = []
    n = blocks.rows
    if dictionary.any():
        d = x[c]
        _refuse_blocks(dictionary & (blocks.block_max(d) >= blocks.entries[:, c].astype(np.uint64)),
                       lambda b: "column %d: dictionary entry out of range" % c)
        if wanted:
            size = int(blocks.sizes[c])
            entries = TextColumn.from_fields(np.frombuffer(blocks.dictionaries.pop(c), np.uint8).reshape(-1, size))
            counts = blocks.entries[:, c][dictionary]
            base = np.zeros(len(method), np.int64)
            base[dictionary] = np.cumsum(counts) - counts
            rows = d.view(np.int64) + blocks.per_row(base, scratch=True)
            if not dictionary.all():
                rows[~blocks.per_row(dictionary)] = 0
            parts.append(TextColumn(entries.values, entries.codes[rows]))
    if clock.any():
        seconds = x[c]
        _refuse_blocks(clock & (blocks.block_max(seconds) >= CLOCK_END),
                       lambda b: "column %d: clock time out of range" % c)
        if wanted:
            if not clock.all():
                seconds = np.where(blocks.per_row(clock), seconds, 0)
            # Distinct times through a table of every second below the end of the clock.
            seen = np.zeros(CLOCK_END, bool)
            seen[seconds] = True
            distinct = np.flatnonzero(seen)
            code = np.cumsum(seen, dtype=np.int64) - 1
            values = [b"%02d:%02d:%02d" % (s // 3600, s // 60 % 60, s % 60) for s in distinct.tolist()]
            parts.append(TextColumn(values, code[seconds]))
    if not wanted:
        return None
    if len(parts) == 1:
        return parts[0]
    # Blocks of both kinds: one list of distinct values, each row from its block's kind.
    merged = TextColumn.concat(parts)
    return TextColumn(merged.values, np.where(blocks.per_row(clock), merged.codes[n:], merged.codes[:n]))


def _refuse_row_blocks(blocks, bad_rows, why):
    if bad_rows.any():
        raise BlockError(int(np.searchsorted(blocks.first_row, np.argmax(bad_rows), "right") - 1), why)


def decode_contract_blocks(payloads, layout, first_slots, end_slots, records, wanted):
    """The slots and the `wanted` fields (a dict name -> array or TextColumn) of contract blocks'
    payloads (a list, emptied once read to free them early), rows block after block. Block i's slots
    must increase inside [first_slots[i], end_slots[i]) and number records[i]. BlockError (naming the
    block) when one breaks a rule."""
    blocks = _Blocks(payloads, layout, np.asarray(first_slots, np.int64), np.asarray(end_slots, np.int64),
                     np.asarray(records, np.int64))
    u = blocks.stored_values()
    blocks.take_dictionaries([c for c in range(1, blocks.count) if blocks.names[c] in wanted
                              and blocks.names[c] in TEXT_FIELDS and (blocks.method[:, c] == DICTIONARY).any()])
    m, ref = blocks.method, blocks.ref
    modes = np.full(m.shape, _OTHER)
    numeric = (m == INTEGER) | (m == DECIMAL) | (m == CLOCK) | (m == DICTIONARY)
    modes[numeric & (ref == REF_PREVIOUS)] = _SUMMED
    modes[numeric & (ref == REF_NONE)] = _PLAIN
    modes[numeric & (ref < REF_NONE)] = _FROM_COLUMN
    modes[m == XOR] = _XORED
    x = _numbers(blocks, u, modes)
    out = {}
    for c in range(1, blocks.count):
        name = blocks.names[c]
        if blocks.kinds[c] == "txt":
            text = _text(blocks, x, c, name in wanted and name in TEXT_FIELDS)
            if text is not None:
                out[name] = text
            continue
        decimal = m[:, c] == DECIMAL
        if decimal.any():
            # The integer converted to a double, divided by the exact power of ten, in place.
            divisor = blocks.uniform(POW10[np.where(decimal, blocks.scale[:, c], 0)])
            np.divide(x[c].view(np.int64), divisor, out=x[c].view(np.float64),
                      where=True if decimal.all() else blocks.per_row(decimal))
        if (m[:, c] >= QUOTIENT).any() and x[c] is None:
            x[c] = np.zeros(blocks.rows, np.uint64)
    for c in range(blocks.count):
        if (m[:, c] == RUNNING_TOTAL).any():
            _running_total(blocks, x, u, c)
    for c in range(blocks.count):
        if (m[:, c] == QUOTIENT).any():
            _quotient(blocks, x, u, c)
    slots = x[0]
    first = np.zeros(blocks.rows, bool)
    first[blocks.first_row] = True
    last = np.append(blocks.first_row[1:], blocks.rows) - 1
    outside = (slots[blocks.first_row] < blocks.first_slots.astype(np.uint64)) | (slots[last] >= blocks.end_slots.astype(np.uint64))
    _refuse_blocks(outside, lambda b: "slots out of order or outside their segment")
    backwards = np.zeros(blocks.rows, bool)
    backwards[1:] = (slots[1:] <= slots[:-1]) & ~first[1:]
    _refuse_row_blocks(blocks, backwards, "slots out of order or outside their segment")
    for c in range(1, blocks.count):
        name = blocks.names[c]
        kind = blocks.kinds[c]
        if name not in wanted or kind == "txt":
            continue
        if kind == "i32":
            out[name] = x[c].astype(np.uint32).view(np.int32)
            x[c] = None
        elif kind == "u32":
            out[name] = x[c].astype(np.uint32)
            x[c] = None
        elif kind == "i64":
            out[name] = x[c].view(np.int64)
        elif kind == "f64":
            out[name] = x[c].view(np.float64)
        else:
            out[name] = x[c]
    return slots, out
