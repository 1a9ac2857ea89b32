"""What the benchmark scripts share. The scripts run as modules from the
repository root (``python -m bench.bench_deg``), so this file and the test
helpers (``tests.reference``) are imported as packages."""

import os

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def rss_status():
    """The process's resident size now (VmRSS) and its high-water mark
    (VmHWM), in bytes."""
    out = {}
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(("VmRSS:", "VmHWM:")):
                key, value = line.split(":")
                out[key] = int(value.split()[0]) * 1024
    return out
