"""orvalen: analysis toolkit for single-cell RNA-sequencing studies.

The three extension modules are imported on demand:

    from orvalen import deg, tolvar, ingrath
"""

__version__ = "0.1.0"
__all__ = ["deg", "ingrath", "tolvar"]
