"""Straightforward pandas/scipy renderings of the package's functions: the
expected results of the tests and the comparison of the benchmarks."""
