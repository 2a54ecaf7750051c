"""read_day: one trading day of ticks from a journal or a packed day, as the export gives them."""
import os
import re

from .history_error import HistoryError
from .export_columns import export_arrays
from .journal_day import read_journal
from .packed_day import MAGIC as PACKED_MAGIC, PackedDay
from .regular_file import open_regular

_DAY_NAME = re.compile(r"^(\d{8})\.(qtj|qth)$")


class Day:
    """A day read as numpy arrays: `columns` (the export's names, in its order), `trading_day`
    (yyyymmdd), `damaged` records skipped, `torn_bytes` of a partial last record left out, and
    `fields`, the journal's own fields (numbers as stored, text as TextColumn). Made and read on one
    thread."""

    def __init__(self, columns, trading_day, damaged, torn_bytes, version, fields):
        self.columns = columns
        self.trading_day = trading_day
        self.damaged = damaged
        self.torn_bytes = torn_bytes
        self.journal_version = version
        self.fields = fields

    def __len__(self):
        return len(self.columns["sequence"])


def _contract_bytes(contracts):
    if contracts is None:
        return None
    if isinstance(contracts, (str, bytes)):
        contracts = [contracts]
    return {c if isinstance(c, bytes) else c.encode("gbk") for c in contracts}


def _trading_day(path, stored):
    """The day the collector filed the ticks under: the file's name, else the day its header names."""
    match = _DAY_NAME.match(os.path.basename(path))
    text = match.group(1) if match else stored.decode("ascii", "replace")
    if not re.fullmatch(r"\d{8}", text) or not (1 <= int(text[4:6]) <= 12 and 1 <= int(text[6:8]) <= 31):
        raise HistoryError("%s: no trading day in its name or header (%r)" % (path, text))
    return int(text)


def _is_packed(path):
    f, _ = open_regular(path)
    with f:
        return f.read(8) == PACKED_MAGIC


def read_day(path, contracts=None, frame=True):
    """Reads `path`, a journal (Journal/<day>.qtj, versions 1 and 2) or a packed day
    (History/<day>.qth), with the export's columns and exact values: a pandas DataFrame (frame=True;
    its attrs hold trading_day, damaged and torn_bytes) or a Day of numpy arrays (frame=False).
    `contracts` (codes, str or bytes) keeps only those contracts; a packed day then reads only their
    blocks. Damaged records are skipped and counted, a torn last record is left out, and a file that
    must be refused raises HistoryError with the reason."""
    path = os.fspath(path)
    wanted = _contract_bytes(contracts)
    if _is_packed(path):
        packed = PackedDay(path)
        try:
            fields = packed.read(wanted)
        finally:
            packed.close()
    else:
        fields = read_journal(path, wanted)
    day = Day(export_arrays(fields, _trading_day(path, fields.day)), _trading_day(path, fields.day),
              fields.damaged, fields.torn_bytes, fields.version, fields.fields)
    return to_frame(day) if frame else day


def to_frame(day):
    """The Day as a pandas DataFrame: times timezone-aware at +08:00, as the export writes them."""
    import pandas as pd

    china = "Etc/GMT-8"
    data = {}
    for name, column in day.columns.items():
        if column.dtype.kind == "M":
            data[name] = pd.DatetimeIndex(column).tz_localize("UTC").tz_convert(china)
        else:
            data[name] = column
    frame = pd.DataFrame(data, copy=False)
    frame.attrs.update(trading_day=day.trading_day, damaged=day.damaged, torn_bytes=day.torn_bytes,
                       journal_version=day.journal_version)
    return frame
