"""A text field of many rows kept as its distinct values and each row's number among them."""
import numpy as np

_MIX = np.uint64(0x9E3779B97F4A7C15)


class TextColumn:
    """`values[codes[i]]` is row i's text: the field's bytes before its first NUL. Built and read on
    one thread."""

    def __init__(self, values, codes):
        self.values = list(values)
        self.codes = np.asarray(codes, np.int64)

    def __len__(self):
        return len(self.codes)

    def take(self, rows):
        return TextColumn(self.values, self.codes[rows])

    def strings(self, encoding="gbk"):
        """An object array of str, each distinct value decoded once (undecodable bytes kept as
        surrogate escapes, so nothing is lost)."""
        decoded = np.empty(len(self.values), object)
        decoded[:] = [v.decode(encoding, "surrogateescape") for v in self.values]
        return decoded[self.codes]

    @staticmethod
    def from_fields(field_bytes):
        """From an (n, size) uint8 array of the field as stored; bytes after the first NUL do not count."""
        n, size = field_bytes.shape
        if n == 0:
            return TextColumn([], np.zeros(0, np.int64))
        after_end = np.cumsum(field_bytes == 0, axis=1, dtype=np.int32) > 0
        width = (size + 7) // 8 * 8
        padded = np.zeros((n, width), np.uint8)
        padded[:, :size] = np.where(after_end, 0, field_bytes)
        words = padded.view("<u8")
        key = words[:, 0].copy()
        for k in range(1, words.shape[1]):
            key = key * _MIX ^ words[:, k]
        _, first, codes = np.unique(key, return_index=True, return_inverse=True)
        if words.shape[1] > 1 and not (words == words[first[codes]]).all():
            # Two texts of one key: group by the whole text instead.
            _, first, codes = np.unique(words, axis=0, return_index=True, return_inverse=True)
        values = [padded[i].tobytes().split(b"\0", 1)[0] for i in first]
        return TextColumn(values, codes.reshape(-1))

    @staticmethod
    def concat(columns):
        """The rows of every column, one after another, over one list of distinct values."""
        numbers = {}
        parts = []
        for column in columns:
            remap = np.fromiter((numbers.setdefault(v, len(numbers)) for v in column.values), np.int64,
                                count=len(column.values))
            parts.append(remap[column.codes] if len(column.values) else column.codes)
        codes = np.concatenate(parts) if parts else np.zeros(0, np.int64)
        return TextColumn(list(numbers), codes)
