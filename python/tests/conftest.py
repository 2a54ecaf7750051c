"""Days for the history reader's tests, written as a collector's journal and packed by the C++ packer.

The built tools come from the environment CTest sets (tests/history/CMakeLists.txt); a missing one
fails the tests rather than skipping them."""
import os
import struct
import subprocess
import zlib

import numpy as np
import pytest

from quoteloom_history.journal_layout import LAYOUTS

DAY = "20240311"  # a Monday: its night session lies on Friday 8 March
DBL_MAX = np.finfo(np.float64).max
# Contracts of the generated day: code, price step, decimals of the grid, contract multiplier.
CONTRACTS = [("rb2405", 1.0, 0, 10), ("T2406", 0.005, 3, 10000), ("au2406", 0.02, 2, 1000),
             ("i2405", 0.5, 1, 100), ("MA405", 1.0, 0, 10), ("白糖405".encode("gbk"), 1.0, 0, 10)]


def tool(name):
    path = os.environ.get(name)
    if not path or not os.path.exists(path):
        raise RuntimeError("%s is not set to a built program (run through ctest)" % name)
    return path


def journal_header(version):
    return subprocess.run([tool("HISTORY_FIXTURE"), "header", DAY, str(version)], check=True,
                          stdout=subprocess.PIPE).stdout


def encode_records(fields, version):
    """Records of a journal version from a dict of field arrays (text as bytes), each with its CRC."""
    layout = LAYOUTS[version]
    n = len(fields["Sequence"])
    records = np.zeros((n, layout.record_size), np.uint8)
    numbers = records.view(layout.number_dtype()).reshape(-1)
    for name, offset, size, kind in layout.fields:
        if name not in fields:
            continue
        if kind == "txt":
            text = np.array(fields[name], dtype="S%d" % size)
            records[:, offset:offset + size] = text.view(np.uint8).reshape(n, size)
        else:
            numbers[name] = fields[name]
    sign(records, version)
    return records


def sign(records, version, rows=None):
    body = LAYOUTS[version].checksum_offset
    for i in range(len(records)) if rows is None else rows:
        records[i, body:body + 4] = np.frombuffer(struct.pack("<I", zlib.crc32(records[i, :body].tobytes())), np.uint8)


def market_fields(ticks_per_contract, seed=7):
    """A day of the contracts above, interleaved as they arrive: random walks on each contract's grid,
    running volume and turnover, the average price from them, clock times over the night (past
    midnight) and the day session."""
    rng = np.random.default_rng(seed)
    rows = []
    for c, (code, step, decimals, multiplier) in enumerate(CONTRACTS):
        n = ticks_per_contract
        units = 3000 / step + np.cumsum(rng.integers(-2, 3, n))
        price = np.round(units * step, decimals)
        volume = np.cumsum(rng.integers(0, 6, n)).astype(np.int32)
        change = np.diff(volume.astype(np.int64), prepend=0).astype(np.float64)
        turnover = np.empty(n)
        total = 0.0
        for i in range(n):  # the exchange's running total, now and then off by its own rounding
            total = total + change[i] * price[i] * multiplier
            if i % 997 == 13:
                total = np.nextafter(total, np.inf)
            turnover[i] = total
        with np.errstate(all="ignore"):
            average = np.where(volume > 0, turnover / (volume * float(multiplier)), 0.0)
        # Night 21:00 to 02:30, then the day session from 09:00; two ticks a second.
        half_seconds = np.arange(n) * 7 // 10 + c
        second = half_seconds
        clock = np.where(second < 5.5 * 3600, (21 * 3600 + second) % 86400, 9 * 3600 + second - 5.5 * 3600)
        arrival = (np.int64(1709892000) + half_seconds // 2 + (second >= 5.5 * 3600) * 6 * 3600) * 10 ** 9
        rows.append(dict(
            order=half_seconds * 16 + c, code=code, price=price, volume=volume, turnover=turnover, average=average,
            clock=clock.astype(np.int64), ms=(half_seconds % 2) * 500, arrival=arrival + (half_seconds % 2) * 500_000_000,
            bid=np.round(price - step, decimals), ask=np.round(price + step, decimals),
            bid_volume=rng.integers(1, 400, n).astype(np.int32), ask_volume=rng.integers(1, 400, n).astype(np.int32),
            open_interest=(160000 + np.cumsum(rng.integers(-3, 4, n))).astype(np.float64)))
    order = np.argsort(np.concatenate([r["order"] for r in rows]), kind="stable")
    cat = {k: np.concatenate([np.broadcast_to(np.array(r[k], dtype=object if k == "code" else None), (ticks_per_contract,))
                              for r in rows])[order] for k in rows[0] if k != "order"}
    n = len(order)
    clock = cat["clock"]
    times = np.array([b"%02d:%02d:%02d" % (s // 3600, s // 60 % 60, s % 60) for s in clock.tolist()])
    f = {
        "Sequence": np.arange(1, n + 1, dtype=np.uint64),
        "WriteTimeNs": cat["arrival"] + 1_234_567 + (np.arange(n) % 1000) * 1000,
        "ArrivalTimeNs": cat["arrival"],
        "TradingDay": np.full(n, DAY.encode()), "ActionDay": np.where(clock >= 18 * 3600, b"20240308", DAY.encode()),
        "InstrumentID": np.array(list(cat["code"]), dtype="S31"),
        "ExchangeID": np.array([c[:8] for c in cat["code"]], dtype="S9"), "ExchangeInstID": np.array(list(cat["code"]), dtype="S31"),
        "UpdateTime": times, "UpdateMillisec": cat["ms"].astype(np.int32),
        "LastPrice": cat["price"].astype(np.float64), "Volume": cat["volume"].astype(np.int32),
        "Turnover": cat["turnover"].astype(np.float64), "AveragePrice": cat["average"].astype(np.float64),
        "OpenInterest": cat["open_interest"].astype(np.float64),
        "PreSettlementPrice": np.full(n, 3002.0), "PreClosePrice": np.full(n, 3001.0), "PreOpenInterest": np.full(n, 159000.0),
        "OpenPrice": np.full(n, 3000.0), "HighestPrice": cat["price"].astype(np.float64) + 7,
        "LowestPrice": cat["price"].astype(np.float64) - 7, "ClosePrice": np.full(n, -1.0),
        "SettlementPrice": np.full(n, DBL_MAX), "UpperLimitPrice": np.full(n, 3300.0), "LowerLimitPrice": np.full(n, 2700.0),
        "PreDelta": np.zeros(n), "CurrDelta": np.full(n, DBL_MAX),
        "BidPrice1": cat["bid"].astype(np.float64), "AskPrice1": cat["ask"].astype(np.float64),
        "BidVolume1": cat["bid_volume"], "AskVolume1": cat["ask_volume"],
    }
    return f


ODD_DOUBLES = [np.nan, -0.0, DBL_MAX, -DBL_MAX, np.inf, -np.inf, 5e-324, 2.2250738585072014e-308 / 3,
               1e308, 0.30000000000000004, 92.005, -1.0]


def add_odd_values(f, every=101):
    """Puts NaNs (one with a payload, one negative), -0.0, the largest double, infinities and
    subnormals into some rows' prices, and an update time that is no clock time."""
    n = len(f["Sequence"])
    nan_payload = np.array([0x7FF8DEADBEEF0001], np.uint64).view(np.float64)[0]
    negative_nan = np.array([0xFFF8000000000000], np.uint64).view(np.float64)[0]
    odd = ODD_DOUBLES + [nan_payload, negative_nan]
    rows = np.arange(5, n, every)
    for k, row in enumerate(rows):
        value = odd[k % len(odd)]
        for name in ("BidPrice1", "OpenPrice", "PreDelta", "AveragePrice"):
            f[name][row] = value
    f["UpdateTime"][rows[::7]] = b"99:99:99"
    f["UpdateMillisec"][rows[1::7]] = 1000
    return rows


def write_journal(workdir, version, records, tail=b""):
    folder = os.path.join(workdir, "Journal")
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, DAY + ".qtj")
    with open(path, "wb") as out:
        out.write(journal_header(version))
        out.write(records.tobytes())
        out.write(tail)
    return path


def pack(workdir):
    subprocess.run([tool("HISTORY_FIXTURE"), "pack", workdir, DAY], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    return os.path.join(workdir, "History", DAY + ".qth")


class StoredDay:
    def __init__(self, workdir, version, journal, packed, damaged, verbatim):
        self.workdir = workdir
        self.version = version
        self.journal = journal
        self.packed = packed
        self.damaged = damaged
        self.verbatim = verbatim


def make_day(workdir, version, ticks_per_contract):
    """A journal of the market above with odd values, damaged records, records the columns cannot
    keep (bytes between fields), one contract that appears once and a torn tail; and its pack."""
    f = market_fields(ticks_per_contract)
    add_odd_values(f)
    n = len(f["Sequence"])
    f["InstrumentID"][n // 2] = b"once2405"
    records = encode_records(f, version)
    layout = LAYOUTS[version]
    damaged = [3, 4, n // 3, n - 2]
    records[damaged[:3], 200] ^= 0x40                     # bit rot: the CRC no longer matches
    records[damaged[3], 224:233] = np.frombuffer(b"10:00:00x", np.uint8)  # no terminator, CRC made to fit
    sign(records, version, [damaged[3]])
    verbatim = [7, n // 2 + 1]
    records[verbatim, 156] = 1                            # a byte between Volume and Turnover
    sign(records, version, verbatim)
    journal = write_journal(workdir, version, records, tail=records[10, :layout.record_size // 2].tobytes())
    return StoredDay(workdir, version, journal, pack(workdir), len(damaged), verbatim)


@pytest.fixture(scope="session")
def day_v2(tmp_path_factory):
    # Past one segment of the packer (131072 slots), so rows come from two segments.
    return make_day(str(tmp_path_factory.mktemp("v2")), 2, 22000)


@pytest.fixture(scope="session")
def day_v1(tmp_path_factory):
    return make_day(str(tmp_path_factory.mktemp("v1")), 1, 3000)


def cpp_records(path, version, contracts=()):
    """The whole records the C++ reader gives of a journal or packed day (an (n, record size) array),
    and the damaged records it counted (None when it reads contracts through their blocks)."""
    names = [c if isinstance(c, bytes) else c.encode() for c in contracts]
    done = subprocess.run([tool("HISTORY_FIXTURE").encode(), b"records", path.encode()] + names,
                          check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    size = LAYOUTS[version].record_size
    assert len(done.stdout) % size == 0
    damaged = [int(line.split()[1]) for line in done.stderr.decode().splitlines() if line.startswith("damaged")]
    return np.frombuffer(done.stdout, np.uint8).reshape(-1, size), damaged[0] if damaged else None
