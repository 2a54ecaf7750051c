#!/usr/bin/python3
"""Times `quoteloom-data bars` against pandas on the same day of per-contract files.

Writes a trading day of the collector's per-contract files (day session only, two ticks a second per
contract), then builds one-minute OHLCV bars twice: with quoteloom-data, and with pandas reading the
same files (read_csv of every file, one groupby over contract and minute). pandas does less than the
tool (no sessions, no stale or test-data rules), so the ratio it prints is the tool's least advantage.
Needs python3-pandas (apt-get install python3-pandas).

With --journal-from-day PROGRAM (build/bench/data/journal_from_day) the day also gets the journal a
collector keeps beside its files, and `bars` reads that, as it does for every day that has one. With
--packed as well, the journal is packed (`quoteloom-data pack`) and removed, so `bars` reads the
packed day History/<day>.qth.

usage: bars_vs_pandas.py QUOTELOOM_DATA [--contracts N] [--ticks N] [--rounds N] [--journal-from-day PROGRAM [--packed]]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

DAY = "20240311"  # a Monday; its day session only
SESSIONS = [(9 * 3600, 10 * 3600 + 15 * 60), (10 * 3600 + 30 * 60, 11 * 3600 + 30 * 60), (13 * 3600 + 30 * 60, 15 * 3600)]
PRODUCTS = ["rb", "hc", "i", "m", "cu", "au", "MA", "ag", "y", "p", "al", "zn"]


def session_seconds():
    for start, end in SESSIONS:
        for s in range(start, end):
            yield s


def write_day(root, contracts, ticks):
    folder = os.path.join(root, "Data", DAY)
    os.makedirs(folder)
    seconds = list(session_seconds())
    for c in range(contracts):
        code = PRODUCTS[c % len(PRODUCTS)] + "2405"
        if c >= len(PRODUCTS):
            code = PRODUCTS[c % len(PRODUCTS)] + str(2405 + c // len(PRODUCTS))
        lines = []
        volume, turnover = 0, 0.0
        for i in range(ticks):
            s = seconds[(i // 2) % len(seconds)]
            hh, mm, ss = s // 3600, s // 60 % 60, s % 60
            price = 3700 + (i * 7919 % 41) - 20
            volume += 1 + i % 5
            turnover += price * 10 * (1 + i % 5)
            stamp = "%s%02d%02d%02d" % (DAY, hh, mm, ss)
            lines.append("%s,%s,%s,%s,%02d:%02d:%02d,%d,%.2f,%d,3750.00,3650.00,3700.00,-1.00,%.2f,%.2f,%d,%.2f,%d,"
                         "3950.00,3450.00,%.2f,%.2f,3700.00,160000.00,3702.00\r\n"
                         % (stamp, code, DAY, DAY, hh, mm, ss, (i % 2) * 500, price, volume, price, price + 1,
                            1 + i % 9, price, 2 + i % 7, 160000 + i % 100, turnover))
        with open(os.path.join(folder, code + ".csv"), "w", newline="") as f:
            f.writelines(lines)


def run_tool(tool, root, out):
    start = time.perf_counter()
    subprocess.run([tool, "--workdir", root, "bars", DAY, "--out", out], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def run_pandas(root):
    import pandas as pd
    names = ["stamp", "contract", "trading_day", "action_day", "update_time", "ms", "last", "volume", "high", "low",
             "open", "close", "average", "ask", "ask_volume", "bid", "bid_volume", "upper", "lower",
             "open_interest", "turnover", "pre_close", "pre_open_interest", "pre_settlement"]
    start = time.perf_counter()
    folder = os.path.join(root, "Data", DAY)
    frames = [pd.read_csv(os.path.join(folder, name), header=None, names=names,
                          usecols=["contract", "action_day", "update_time", "ms", "last", "volume",
                                   "open_interest", "turnover"],
                          dtype={"action_day": str, "update_time": str})
              for name in sorted(os.listdir(folder))]
    ticks = pd.concat(frames, ignore_index=True)
    ticks["time"] = pd.to_datetime(ticks["action_day"] + " " + ticks["update_time"], format="%Y%m%d %H:%M:%S")
    ticks["minute"] = ticks["time"].dt.floor("min")
    bars = ticks.groupby(["contract", "minute"]).agg(
        open=("last", "first"), high=("last", "max"), low=("last", "min"), close=("last", "last"),
        cum_volume=("volume", "last"), cum_turnover=("turnover", "last"), open_interest=("open_interest", "last"),
        ticks=("last", "size"))
    bars["volume"] = bars.groupby(level=0)["cum_volume"].diff().fillna(bars["cum_volume"])
    bars["turnover"] = bars.groupby(level=0)["cum_turnover"].diff().fillna(bars["cum_turnover"])
    bars.to_csv(os.path.join(root, "pandas-bars.csv"))
    return time.perf_counter() - start, len(ticks), len(bars)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("quoteloom_data")
    parser.add_argument("--contracts", type=int, default=8)
    parser.add_argument("--ticks", type=int, default=60000, help="ticks per contract")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--journal-from-day", help="build/bench/data/journal_from_day: give the day its journal")
    parser.add_argument("--packed", action="store_true", help="pack the journal and read the packed day instead")
    args = parser.parse_args()
    if args.packed and not args.journal_from_day:
        sys.exit("bars_vs_pandas: --packed needs --journal-from-day")
    try:
        import pandas  # noqa: F401
    except ImportError:
        sys.exit("bars_vs_pandas: pandas is missing (apt-get install python3-pandas)")
    root = tempfile.mkdtemp(prefix="quoteloom-bars-")
    try:
        write_day(root, args.contracts, args.ticks)
        if args.journal_from_day:
            subprocess.run([args.journal_from_day, root, DAY], check=True, stdout=subprocess.DEVNULL)
        if args.packed:
            subprocess.run([args.quoteloom_data, "--workdir", root, "pack", DAY], check=True, stdout=subprocess.DEVNULL)
            os.remove(os.path.join(root, "Journal", DAY + ".qtj"))
        tool_best, pandas_best, lines, bars = 1e9, 1e9, 0, 0
        for r in range(args.rounds):
            out = os.path.join(root, "out%d" % r)
            os.makedirs(out)
            tool = run_tool(args.quoteloom_data, root, out)
            seconds, lines, bars = run_pandas(root)
            print("round %d: quoteloom-data bars %.3f s, pandas %.3f s" % (r + 1, tool, seconds))
            tool_best, pandas_best = min(tool_best, tool), min(pandas_best, seconds)
        print("bars 1m of %d ticks (%d contracts, %d bars by pandas), bars reading the %s: quoteloom-data %.3f s "
              "(%.2f million ticks/s), pandas %.3f s (%.2f million ticks/s): %.1fx (target: at least 10x)"
              % (lines, args.contracts, bars, "packed day" if args.packed else "journal" if args.journal_from_day else "per-contract files",
                 tool_best, lines / tool_best / 1e6, pandas_best,
                 lines / pandas_best / 1e6, pandas_best / tool_best))
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
