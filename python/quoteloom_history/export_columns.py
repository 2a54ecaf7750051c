"""The export's columns (names and values of `quoteloom-data export --raw`, without `kind`) made from
a day's journal fields, as numpy arrays."""
import numpy as np

DBL_MAX = np.finfo(np.float64).max
_NS = 1_000_000_000
_CHINA_NS = 8 * 3600 * _NS
_DAY_SECONDS = 86400
_EVE = 18 * 3600

# Export column -> journal field, in the export's order (the derived columns marked None).
COLUMNS = [
    ("trading_day", None), ("exchange_time", None), ("write_time", None), ("contract", "InstrumentID"),
    ("exchange_trading_day", "TradingDay"), ("action_day", "ActionDay"), ("update_time", "UpdateTime"),
    ("update_millisec", "UpdateMillisec"), ("last_price", "LastPrice"), ("volume", "Volume"),
    ("turnover", "Turnover"), ("open_interest", "OpenInterest"), ("average_price", "AveragePrice"),
    ("open_price", "OpenPrice"), ("highest_price", "HighestPrice"), ("lowest_price", "LowestPrice"),
    ("close_price", "ClosePrice"), ("settlement_price", "SettlementPrice"),
    ("pre_settlement_price", "PreSettlementPrice"), ("pre_close_price", "PreClosePrice"),
    ("pre_open_interest", "PreOpenInterest"), ("upper_limit_price", "UpperLimitPrice"),
    ("lower_limit_price", "LowerLimitPrice"), ("pre_delta", "PreDelta"), ("curr_delta", "CurrDelta"),
] + [
    column
    for level in range(1, 6)
    for column in (("bid_price%d" % level, "BidPrice%d" % level), ("bid_volume%d" % level, "BidVolume%d" % level),
                   ("ask_price%d" % level, "AskPrice%d" % level), ("ask_volume%d" % level, "AskVolume%d" % level))
] + [("sequence", "Sequence")]

# The four prices the collector sets to -1 when the exchange sent none.
_SANITISED = {"OpenPrice", "HighestPrice", "LowestPrice", "ClosePrice"}


def _days_from_civil(y, m, d):
    y -= m <= 2
    era = (y if y >= 0 else y - 399) // 400
    yoe = y - era * 400
    doy = (153 * (m + (-3 if m > 2 else 9)) + 2) // 5 + d - 1
    doe = yoe * 365 + yoe // 4 - yoe // 100 + doy
    return era * 146097 + doe - 719468


def _day_number(day):
    """Days since 1970-01-01 of a yyyymmdd trading day."""
    return _days_from_civil(day // 10000, day // 100 % 100, day % 100)


def _eve_day_number(day_number):
    """The weekday before a trading day (Friday for Monday): where its night session lies."""
    eve = day_number - 1
    while (eve + 3) % 7 >= 5:  # 1970-01-01 was a Thursday; 5 and 6 are Saturday and Sunday
        eve -= 1
    return eve


def _clock_seconds(texts):
    """Seconds after midnight of each distinct UpdateTime that is "HH:MM:SS" (hours 00-23); -1 otherwise."""
    if not texts:
        return np.zeros(0, np.int64)
    b = np.array(texts, dtype="S9").view(np.uint8).reshape(len(texts), 9).astype(np.int64)
    digits = b[:, [0, 1, 3, 4, 6, 7]] - ord("0")
    shape = (b[:, 2] == ord(":")) & (b[:, 5] == ord(":")) & (b[:, 8] == 0) & ((digits >= 0) & (digits <= 9)).all(axis=1)
    h, m, s = digits[:, 0] * 10 + digits[:, 1], digits[:, 2] * 10 + digits[:, 3], digits[:, 4] * 10 + digits[:, 5]
    ok = shape & (h <= 23) & (m <= 59) & (s <= 59)
    return np.where(ok, h * 3600 + m * 60 + s, -1)


def exchange_time(day, update_time, millisec):
    """The exchange's time placed on the calendar as Unix nanoseconds (int64; NaT's value where the
    update time is not a clock time or the milliseconds are outside 0-999): from 18:00 on the eve of
    the trading day, before 06:00 on the day after the eve, else on the trading day."""
    seconds = _clock_seconds(update_time.values)[update_time.codes] if len(update_time.values) else np.zeros(0, np.int64)
    trading = _day_number(day)
    eve = _eve_day_number(trading)
    date = np.where(seconds >= _EVE, eve, np.where(seconds < 6 * 3600, eve + 1, trading)).astype(np.int64)
    ms = millisec.astype(np.int64)
    ns = (date * _DAY_SECONDS + seconds) * _NS + ms * 1_000_000 - _CHINA_NS
    valid = (seconds >= 0) & (ms >= 0) & (ms <= 999)
    return np.where(valid, ns, np.iinfo(np.int64).min)


def export_arrays(day_fields, trading_day):
    """A dict of the export's columns: text as object arrays of str (decoded from code page 936),
    times as datetime64[ns] in UTC, numbers as stored, NaN where the export leaves a cell empty."""
    f = day_fields.fields
    n = len(day_fields)
    out = {}
    for name, field in COLUMNS:
        if name == "trading_day":
            text = "%04d-%02d-%02d" % (trading_day // 10000, trading_day // 100 % 100, trading_day % 100)
            column = np.empty(n, object)
            column[:] = text
        elif name == "exchange_time":
            column = exchange_time(trading_day, f["UpdateTime"], f["UpdateMillisec"]).view("datetime64[ns]")
        elif name == "write_time":
            column = f["WriteTimeNs"].astype(np.int64).view("datetime64[ns]")
        elif hasattr(f[field], "strings"):
            column = f[field].strings()
        elif f[field].dtype == np.float64:
            v = f[field]
            empty = v == DBL_MAX
            if field in _SANITISED:
                empty |= v == -1.0
            column = np.where(empty, np.nan, v) if empty.any() else v.copy()
        elif f[field].dtype == np.int32:
            column = f[field].astype(np.int64)
        else:
            column = f[field].copy()
        out[name] = column
    return out
