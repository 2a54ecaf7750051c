"""read_day against the C++ readers and `quoteloom-data export` on the same days: every value equal."""
import io
import os
import struct
import subprocess

import numpy as np
import pandas as pd
import pytest

from conftest import DAY, cpp_records, tool
from quoteloom_history import HistoryError, read_day
from quoteloom_history.day_fields import TEXT_FIELDS
from quoteloom_history.export_columns import COLUMNS
from quoteloom_history.journal_layout import LAYOUTS


def same(a, b):
    """Equal values, doubles bit for bit."""
    a, b = np.asarray(a), np.asarray(b)
    if a.dtype.kind == "M":
        a, b = a.view(np.int64), b.view(np.int64)
    if a.dtype.kind == "f" or b.dtype.kind == "f":
        return a.shape == b.shape and np.array_equal(a.astype(np.float64).view(np.uint64), b.astype(np.float64).view(np.uint64))
    return a.shape == b.shape and (a == b).all()


def export_frame(workdir):
    """`quoteloom-data export --raw` of the day, parsed exactly (text as code page 936)."""
    out = os.path.join(workdir, "export")
    subprocess.run([tool("QUOTELOOM_DATA"), "--workdir", workdir, "export", DAY, "--raw", "--out", out], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(os.path.join(out, DAY + ".csv"), "rb") as f:
        text = f.read().decode("gbk", "surrogateescape")
    return pd.read_csv(io.StringIO(text), dtype=str, keep_default_na=False)


def exact_doubles(cells):
    """The cells' doubles, each text read as Python reads it (correctly rounded); empty is NaN."""
    return np.where(cells == "", "nan", cells).astype(np.float64)


def china_ns(cells):
    return pd.to_datetime(pd.Series(cells).replace("", None), utc=True).values.view(np.int64)


@pytest.mark.parametrize("which", ["day_v2", "day_v1"])
def test_journal_and_packed_day_give_the_export_values(which, request):
    day = request.getfixturevalue(which)
    export = export_frame(day.workdir)
    names = [name for name, _ in COLUMNS]
    assert list(export.columns) == names + ["kind"]
    for path in (day.journal, day.packed):
        got = read_day(path, frame=False)
        assert list(got.columns) == names
        assert len(got) == len(export)
        assert got.damaged == day.damaged
        assert got.torn_bytes == LAYOUTS[day.version].record_size // 2
        for name in names:
            column, cells = got.columns[name], export[name].to_numpy()
            if column.dtype.kind == "f":
                # The export's text reads back to the same double; a NaN's payload it cannot show.
                expected = exact_doubles(cells)
                nan = np.isnan(column)
                assert (nan == np.isnan(expected)).all(), name
                assert same(column[~nan], expected[~nan]), name
            elif column.dtype.kind == "M":
                assert same(column.view(np.int64), china_ns(cells)), name
            elif column.dtype == object:
                assert (column == cells).all(), name
            else:
                assert same(column, cells.astype(column.dtype)), name


def test_packed_day_gives_every_record_bit_for_bit(day_v2):
    from_journal = read_day(day_v2.journal, frame=False)
    from_packed = read_day(day_v2.packed, frame=False)
    for name in from_journal.columns:
        assert same(from_journal.columns[name], from_packed.columns[name]), name
    for name, field in from_journal.fields.items():
        other = from_packed.fields[name]
        if name in TEXT_FIELDS:
            assert [field.values[c] for c in field.codes] == [other.values[c] for c in other.codes], name
        else:
            assert same(field, other), name


def fields_of_records(records, version):
    layout = LAYOUTS[version]
    numbers = np.ascontiguousarray(records).view(layout.number_dtype()).reshape(-1)
    out = {}
    for name, offset, size, kind in layout.fields:
        if kind == "txt":
            out[name] = [bytes(r[offset:offset + size]).split(b"\0", 1)[0] for r in records]
        else:
            out[name] = numbers[name]
    return out


@pytest.mark.parametrize("contracts", [None, ["T2406"], ["白糖405", "once2405", "rb2405"], ["no-such"]])
@pytest.mark.parametrize("which", ["day_v2", "day_v1"])
@pytest.mark.parametrize("store", ["journal", "packed"])
def test_fields_equal_the_cpp_readers(store, which, contracts, request):
    day = request.getfixturevalue(which)
    path = getattr(day, store)
    expected, damaged = cpp_records(path, day.version, [c.encode("gbk") for c in contracts or []])
    got = read_day(path, contracts=contracts, frame=False)
    assert len(got) == len(expected)
    if contracts is None:
        assert got.damaged == damaged == day.damaged
    want = fields_of_records(expected, day.version)
    for name, field in got.fields.items():
        if name in TEXT_FIELDS:
            assert [field.values[c] for c in field.codes] == want[name], name
        else:
            assert same(field, want[name]), name
    if contracts:
        assert set(got.columns["contract"]) <= set(contracts)


def test_data_frame_has_the_export_columns_and_china_times(day_v2):
    frame = read_day(day_v2.packed, contracts="T2406")
    assert list(frame.columns) == [name for name, _ in COLUMNS]
    assert str(frame["write_time"].dt.tz) in ("Etc/GMT-8", "UTC+08:00")
    assert frame.attrs["trading_day"] == int(DAY) and frame.attrs["damaged"] >= 0
    placed = frame[frame["exchange_time"].notna()]
    evening = placed[placed["update_time"].str.startswith("21:")]
    after_midnight = placed[placed["update_time"].str.startswith("01:")]
    assert len(evening) > 0 and (evening["exchange_time"].dt.strftime("%Y-%m-%d") == "2024-03-08").all()
    assert len(after_midnight) > 0 and (after_midnight["exchange_time"].dt.strftime("%Y-%m-%d") == "2024-03-09").all()
    assert frame["contract"].eq("T2406").all()
    assert frame["sequence"].is_monotonic_increasing


def block_entries(path):
    """(offset, kind, contract, stored size) of each block of a packed day, from its index."""
    with open(path, "rb") as f:
        data = f.read()
    index_offset = struct.unpack_from("<Q", data, len(data) - 32)[0]
    count = struct.unpack_from("<I", data, index_offset)[0]
    return data, [struct.unpack_from("<QIIIIII", data, index_offset + 4 + 32 * i) for i in range(count)]


def test_contracts_read_only_their_blocks(day_v2, tmp_path):
    data, entries = block_entries(day_v2.packed)
    contracts_in_index = [e for e in entries if e[1] == 2]
    # Spoil every block of contract 0 (the first to appear): a read of the others never meets it.
    spoiled = bytearray(data)
    for offset, kind, contract, _, _, stored, _ in contracts_in_index:
        if contract == 0:
            spoiled[offset + 16 + stored // 2] ^= 0xFF
    path = str(tmp_path / ("%s.qth" % DAY))
    with open(path, "wb") as f:
        f.write(spoiled)
    whole = read_day(day_v2.packed, frame=False)
    first = whole.columns["contract"][0]
    others = sorted(set(whole.columns["contract"]) - {first})
    got = read_day(path, contracts=others, frame=False)
    keep = whole.columns["contract"] != first
    assert same(got.columns["sequence"], whole.columns["sequence"][keep])
    with pytest.raises(HistoryError, match="checksum does not match"):
        read_day(path)
    with pytest.raises(HistoryError, match="checksum does not match"):
        read_day(path, contracts=[first])


def test_the_day_uses_every_column_method(day_v2):
    """The generated day makes the packer use each way of storing a column, so each is read above."""
    import zstandard
    data, entries = block_entries(day_v2.packed)
    methods = set()
    references = set()
    for offset, kind, _, _, _, stored, _ in entries:
        if kind != 2:
            continue
        payload = zstandard.ZstdDecompressor().decompress(data[offset + 16:offset + 16 + stored])
        count = struct.unpack_from("<I", payload, 4)[0]
        for c in range(count):
            method, _, _, ref = struct.unpack_from("<BBBB", payload, 8 + 16 * c)
            methods.add(method)
            references.add("other" if ref < 254 and method in (0, 1) else ref)
    assert methods == set(range(7))
    assert "other" in references
