#!/usr/bin/python3
"""Times the Python history reader on a packed day against numpy reading the raw journal.

Writes the day of bars_vs_pandas.py (per-contract files, then the journal a collector keeps beside
them, through journal_from_day), packs it with PACKER (`quoteloom-data`, whose `pack` it runs,
build/bench/data/packed_day_bench, or build/tests/history/history_fixture), and prints the best of N
rounds of:
  numpy    np.fromfile of the journal with a structured dtype of every field, then a DataFrame of it
           (raw fields: text as bytes, no checksum checked, no damaged record skipped)
  packed   read_day of History/<day>.qth into a DataFrame (the export's columns and values)
  journal  read_day of Journal/<day>.qtj into a DataFrame (every record's CRC-32 checked)
  one      read_day of the packed day for one contract
The files sit in the page cache after the first round. With --random-walk the day's prices walk at
random on the grid and its volumes are random (as the simulator's), so it packs about as a collected
day does; without, it is bars_vs_pandas.py's day, whose repeating values pack far smaller. With
--workdir DIR --day DAY it reads a day already collected there instead (Journal/DAY.qtj, packed to
History/DAY.qth first when that is missing), such as bench/data/collect-simulator-day gives.
Each figure is the best of the rounds, in wall-clock seconds and in the process's CPU seconds.

usage: history_read_vs_numpy.py JOURNAL_FROM_DAY PACKER [--contracts N] [--ticks N] [--rounds N] [--random-walk]
                                [--workdir DIR --day DAY]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

import numpy as np
import pandas as pd

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "..", "python"))

import bars_vs_pandas  # noqa: E402
from quoteloom_history import read_day  # noqa: E402
from quoteloom_history.journal_layout import NUMPY_TYPES, check_header  # noqa: E402


def journal_dtype(layout):
    fields = layout.fields + [("Checksum", layout.checksum_offset, 4, "u32")]
    return np.dtype({"names": [f[0] for f in fields],
                     "formats": ["S%d" % f[2] if f[3] == "txt" else NUMPY_TYPES[f[3]] for f in fields],
                     "offsets": [f[1] for f in fields], "itemsize": layout.record_size})


def numpy_frame(path):
    with open(path, "rb") as f:
        layout = check_header(f.read(2048), path)
    records = np.fromfile(path, dtype=journal_dtype(layout), offset=layout.header_size)
    return pd.DataFrame(records)


def write_random_day(root, contracts, ticks, seed=11):
    """bars_vs_pandas.py's per-contract files, with random walks and random volumes in them."""
    rng = np.random.default_rng(seed)
    day = bars_vs_pandas.DAY
    folder = os.path.join(root, "Data", day)
    os.makedirs(folder)
    seconds = list(bars_vs_pandas.session_seconds())
    products = bars_vs_pandas.PRODUCTS
    for c in range(contracts):
        code = products[c % len(products)] + str(2405 + c // len(products))
        price = (3700 + np.cumsum(rng.integers(-2, 3, ticks))).tolist()
        volume = np.cumsum(rng.integers(0, 30, ticks)).tolist()
        ask, bid = rng.integers(1, 500, ticks).tolist(), rng.integers(1, 500, ticks).tolist()
        interest = (160000 + np.cumsum(rng.integers(-5, 6, ticks))).tolist()
        lines = []
        turnover, before = 0.0, 0
        for i in range(ticks):
            t = seconds[(i // 2) % len(seconds)]
            hh, mm, ss = t // 3600, t // 60 % 60, t % 60
            turnover += (volume[i] - before) * price[i] * 10.0
            before = volume[i]
            lines.append("%s%02d%02d%02d,%s,%s,%s,%02d:%02d:%02d,%d,%.2f,%d,3750.00,3650.00,3700.00,-1.00,%.2f,%.2f,%d,"
                         "%.2f,%d,3950.00,3450.00,%.2f,%.2f,3700.00,160000.00,3702.00\r\n"
                         % (day, hh, mm, ss, code, day, day, hh, mm, ss, (i % 2) * 500, price[i], volume[i],
                            turnover / max(volume[i], 1) / 10, price[i] + 1, ask[i], price[i], bid[i],
                            interest[i], turnover))
        with open(os.path.join(folder, code + ".csv"), "w", newline="") as f:
            f.writelines(lines)


def pack_command(packer, root, day):
    name = os.path.basename(packer)
    if name == "quoteloom-data":
        return [packer, "--workdir", root, "pack", day]
    if name == "packed_day_bench":
        return [packer, root, day, "--no-xz"]
    return [packer, "pack", root, day]


def best(rounds, action):
    """The least wall-clock and CPU seconds of `rounds` runs of action, and its last result."""
    times, cpu = [], []
    for _ in range(rounds):
        start, start_cpu = time.perf_counter(), time.process_time()
        result = action()
        times.append(time.perf_counter() - start)
        cpu.append(time.process_time() - start_cpu)
    return (min(times), min(cpu)), result


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("journal_from_day")
    parser.add_argument("packer")
    parser.add_argument("--contracts", type=int, default=24)
    parser.add_argument("--ticks", type=int, default=60000, help="ticks per contract")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--random-walk", action="store_true", help="a day of random walks and random volumes")
    parser.add_argument("--workdir", help="a working folder holding the day to read (left as it is but for its pack)")
    parser.add_argument("--day", help="the day of --workdir to read (yyyymmdd)")
    args = parser.parse_args()
    if (args.workdir is None) != (args.day is None):
        parser.error("--workdir and --day go together")
    day = args.day or bars_vs_pandas.DAY
    root = args.workdir or tempfile.mkdtemp(prefix="quoteloom-history-")
    try:
        if args.workdir is None:
            if args.random_walk:
                write_random_day(root, args.contracts, args.ticks)
            else:
                bars_vs_pandas.write_day(root, args.contracts, args.ticks)
            subprocess.run([args.journal_from_day, root, day], check=True, stdout=subprocess.DEVNULL)
        if not os.path.exists(os.path.join(root, "History", day + ".qth")):
            subprocess.run(pack_command(args.packer, root, day), check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
        journal = os.path.join(root, "Journal", day + ".qtj")
        packed = os.path.join(root, "History", day + ".qth")
        numpy_seconds, raw = best(args.rounds, lambda: numpy_frame(journal))
        packed_seconds, frame = best(args.rounds, lambda: read_day(packed))
        journal_seconds, _ = best(args.rounds, lambda: read_day(journal))
        one = frame["contract"].iloc[0]
        one_seconds, single = best(args.rounds, lambda: read_day(packed, contracts=[one]))
        ticks = len(raw)
        assert len(frame) == ticks, (len(frame), ticks)
        shape = ("%d contracts" % frame["contract"].nunique() if args.workdir
                 else "%d contracts x %d" % (args.contracts, args.ticks))
        print("day of %d ticks (%s), journal %.1f MB, packed %.1f MB"
              % (ticks, shape, os.path.getsize(journal) / 1e6, os.path.getsize(packed) / 1e6))
        for name, (seconds, cpu), rows in (("numpy: np.fromfile of the journal + DataFrame", numpy_seconds, ticks),
                                           ("read_day of the packed day -> DataFrame", packed_seconds, ticks),
                                           ("read_day of the journal -> DataFrame", journal_seconds, ticks),
                                           ("read_day of the packed day, one contract", one_seconds, len(single))):
            print("%-48s %7.3f s (CPU %7.3f s)  %6.2f million ticks/s" % (name, seconds, cpu, rows / seconds / 1e6))
        print("packed day against numpy on the journal: %.2fx as fast, %.2fx in CPU time (target: at least 1x)"
              % (numpy_seconds[0] / packed_seconds[0], numpy_seconds[1] / packed_seconds[1]))
    finally:
        if args.workdir is None:
            shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
