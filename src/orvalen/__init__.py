"""orvalen: analysis toolkit for single-cell RNA-sequencing studies.

The three extension modules are imported on demand:

    from orvalen import deg, tolvar, ingrath
"""

__version__ = "0.1.0"
__all__ = ["deg", "ingrath", "tolvar", "settings"]


class Settings:
    """Package-wide settings, read each time a function runs.

    Attributes
    ----------
    block_bytes : int
        Bytes of stored values read at a time from a backed ``X``
        (``anndata.read_h5ad(path, backed="r")``). Peak memory of the
        per-group statistics grows with it; the default is 32 MiB.
    """

    block_bytes = 32 * 2**20


settings = Settings()
