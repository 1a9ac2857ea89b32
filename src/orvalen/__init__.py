"""orvalen: analysis toolkit for single-cell RNA-sequencing studies.

The three extension modules are imported on demand, on the first
``orvalen.deg`` (or ``tolvar``, ``ingrath``) or with:

    from orvalen import deg, tolvar, ingrath
"""

__version__ = "0.1.0"
__all__ = ["deg", "ingrath", "tolvar", "settings"]
_SUBMODULES = ("deg", "ingrath", "tolvar")


def __getattr__(name):
    # Only reached while the submodule is not loaded yet: importing it binds
    # it as a package attribute, so later reads do not come here.
    if name in _SUBMODULES:
        import importlib  # here, so that importing the package costs nothing

        return importlib.import_module(f"{__name__}.{name}")
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def __dir__():
    return sorted(set(globals()) | set(_SUBMODULES))


class Settings:
    """Package-wide settings, read each time a function runs.

    Attributes
    ----------
    block_bytes : int
        Bytes of stored values read at a time from a backed ``X``
        (``anndata.read_h5ad(path, backed="r")``). Peak memory of the
        per-group statistics grows with it; the default is 32 MiB. Checked
        when set: a whole number from 1 to 2**48.
    progress : bool
        Show a progress bar on long reads of ``X``: Dask's (``distributed``'s
        under a Client, ``dask.diagnostics.ProgressBar`` without one) for a
        Dask ``X``, a text bar (tqdm when installed) for a backed one, each
        labelled with the function and the path. A backed bar counts cells
        (genes for a CSC file, which is read by columns). A bar that cannot draw is
        turned off with a warning; the result is kept. Off by default.
        Checked when set: ``True`` or ``False``.
    """

    _MAX_BLOCK_BYTES = 2**48

    def __init__(self):
        self._block_bytes = 32 * 2**20
        self._progress = False

    def __repr__(self):
        return f"Settings(block_bytes={self._block_bytes}, progress={self._progress})"

    @property
    def progress(self):
        return self._progress

    @progress.setter
    def progress(self, value):
        if not isinstance(value, bool):
            raise TypeError(f"orvalen.settings.progress must be a bool, not {type(value).__name__}")
        self._progress = value

    @property
    def block_bytes(self):
        return self._block_bytes

    @block_bytes.setter
    def block_bytes(self, value):
        import operator

        try:
            if isinstance(value, bool):
                raise TypeError
            n = operator.index(value)
        except TypeError:
            raise TypeError(
                f"orvalen.settings.block_bytes must be a whole number of bytes, not {type(value).__name__}"
            ) from None
        if not 1 <= n <= self._MAX_BLOCK_BYTES:
            raise ValueError(f"orvalen.settings.block_bytes must be from 1 to 2**48 bytes, not {n}")
        self._block_bytes = n


settings = Settings()
