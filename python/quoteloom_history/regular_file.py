"""Opens a file for reading only when it is a regular file, without waiting on a FIFO or device."""
import os
import stat

from .history_error import HistoryError


def open_regular(path):
    """A binary file object of `path` and its size; HistoryError for anything but a regular file."""
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | getattr(os, "O_CLOEXEC", 0))
    except OSError as e:
        raise HistoryError("%s: %s" % (path, e.strerror)) from e
    info = os.fstat(fd)
    if not stat.S_ISREG(info.st_mode):
        os.close(fd)
        raise HistoryError("%s: not a regular file" % path)
    return os.fdopen(fd, "rb", buffering=0), info.st_size


def read_exactly(f, offset, size, path):
    """`size` bytes at `offset`; HistoryError when the file ends first."""
    f.seek(offset)
    data = bytearray(size)
    view = memoryview(data)
    got = 0
    while got < size:
        n = f.readinto(view[got:])
        if not n:
            raise HistoryError("%s: the file ends early (at %d of %d bytes read at %d)" % (path, got, size, offset))
        got += n
    return data
