"""Reads a tick journal Journal/<day>.qtj into DayFields, a bounded number of records at a time."""
import numpy as np

from .day_fields import DayFields, contract_mask, field_names, record_fields
from .history_error import HistoryError
from .journal_layout import check_header, LAYOUTS, whole_records
from .regular_file import open_regular

_CHUNK_RECORDS = 1 << 18
_MAX_HEADER = max(layout.header_size for layout in LAYOUTS.values())


def read_journal(path, contracts=None):
    """Every whole record of the journal at `path` (of `contracts`, a set of InstrumentID bytes, when
    given); a torn last record is left out, damaged records are skipped and counted."""
    f, size = open_regular(path)
    with f:
        head = f.read(_MAX_HEADER)
        layout = check_header(head, path)
        day = bytes(head[24:32])
        r = layout.record_size
        slots = (size - layout.header_size) // r
        names = field_names(layout)
        parts = []
        damaged = 0
        f.seek(layout.header_size)
        done = 0
        while done < slots:
            count = min(_CHUNK_RECORDS, slots - done)
            buffer = np.empty(count * r, np.uint8)
            got = f.readinto(memoryview(buffer))
            count = (got or 0) // r  # a file cut while read ends the day there
            if count == 0:
                break
            records = buffer[:count * r].reshape(count, r)
            ok = whole_records(records, layout)
            damaged += int(count - np.count_nonzero(ok))
            if contracts is not None:
                ok &= contract_mask(records, layout, contracts)
            parts.append(record_fields(records[ok], layout, names))
            done += count
        torn = size - layout.header_size - slots * r
        if not parts:
            parts.append(record_fields(np.zeros((0, r), np.uint8), layout, names))
    return DayFields.concat(parts, day, layout.version, names, damaged, max(torn, 0))
