"""Errors of distributed reslicing."""


class SourceError(OSError):
    """A source or reference that cannot be read: a missing or undecodable
    chunk, an unfinished store, a store without usable metadata. The
    message names the file or chunk."""


class ResliceError(RuntimeError):
    """A reslice that did not finish; the output carries no completion mark."""
