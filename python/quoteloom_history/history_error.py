"""The one exception the reader raises for a file it must refuse."""


class HistoryError(ValueError):
    """A file that is not a readable journal or packed day: its path and the reason."""
