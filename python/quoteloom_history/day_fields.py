"""The journal fields of a day's whole records, in the journal's order, whatever file held them."""
import numpy as np

from .text_column import TextColumn

# The text fields the export shows; the others (ExchangeID, ExchangeInstID) are left unread.
TEXT_FIELDS = ("TradingDay", "InstrumentID", "UpdateTime", "ActionDay")


class DayFields:
    """Per journal field name a numpy array (numbers) or a TextColumn (text), every array of one
    length; `damaged` whole record slots skipped for a failed checksum or terminator, `torn_bytes`
    after the last whole slot, `version` the journal's format version. One thread."""

    def __init__(self, day, version, fields, damaged=0, torn_bytes=0):
        self.day = day
        self.version = version
        self.fields = fields
        self.damaged = damaged
        self.torn_bytes = torn_bytes

    def __len__(self):
        return len(self.fields["Sequence"])

    @staticmethod
    def concat(parts, day, version, names, damaged=0, torn_bytes=0):
        fields = {}
        for name in names:
            columns = [p[name] for p in parts]
            if name in TEXT_FIELDS:
                fields[name] = TextColumn.concat(columns)
            else:
                fields[name] = np.concatenate(columns) if columns else np.zeros(0)
        return DayFields(day, version, fields, damaged, torn_bytes)


def record_fields(records, layout, names):
    """The named fields of whole records (an (n, record size) uint8 array) as a dict of arrays."""
    numbers = np.ascontiguousarray(records).view(layout.number_dtype()).reshape(-1)
    out = {}
    for name in names:
        _, offset, size, kind = layout.by_name[name]
        if kind == "txt":
            out[name] = TextColumn.from_fields(records[:, offset:offset + size])
        else:
            out[name] = numbers[name].copy()
    return out


def field_names(layout):
    return [f[0] for f in layout.fields if f[3] != "txt" or f[0] in TEXT_FIELDS]


def contract_mask(records, layout, contracts):
    """Rows whose InstrumentID (the bytes before its NUL) is one of `contracts` (a set of bytes)."""
    _, offset, size, _ = layout.by_name["InstrumentID"]
    ids = TextColumn.from_fields(records[:, offset:offset + size])
    wanted = np.array([v in contracts for v in ids.values], bool)
    return wanted[ids.codes] if len(ids.values) else np.zeros(len(records), bool)
