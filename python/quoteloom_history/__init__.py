"""Reads Quoteloom's stored tick history (a day's journal or its packed day) into numpy or pandas."""
from .history_error import HistoryError
from .read_day import Day, read_day, to_frame

__all__ = ["Day", "HistoryError", "read_day", "to_frame"]
