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
        per-group statistics grows with it; the default is 32 MiB.
    """

    block_bytes = 32 * 2**20


settings = Settings()
