"""Time importing the extension modules in fresh processes, against pandas.

Each statement runs in a new interpreter several times; the best wall time
counts, so a busy machine skews the ratios less. Also shown: the cost of
importing a module and then reading every name it binds (what importing
used to cost), and each child's peak memory.

    python bench/bench_import.py [repeats]
"""

import os
import subprocess
import sys

CHILD = """
import resource, time
t = time.perf_counter()
{stmt}
dt = time.perf_counter() - t
print(dt, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)
"""

CASES = [
    ("import pandas", "import pandas"),
    ("import orvalen.deg", "import orvalen.deg"),
    ("import orvalen.tolvar", "import orvalen.tolvar"),
    ("import orvalen.ingrath", "import orvalen.ingrath"),
    ("orvalen.deg, every name read", "import orvalen.deg as m; [getattr(m, n) for n in dir(m)]"),
    ("orvalen.tolvar, every name read", "import orvalen.tolvar as m; [getattr(m, n) for n in dir(m)]"),
]


def best(stmt, repeats):
    runs = []
    for _ in range(repeats):
        out = subprocess.run(
            [sys.executable, "-c", CHILD.format(stmt=stmt)],
            capture_output=True,
            text=True,
            check=True,
            env=dict(os.environ, MPLBACKEND="Agg"),
        )
        seconds, rss_kb = out.stdout.split()[-2:]
        runs.append((float(seconds), int(rss_kb)))
    return min(runs)


def main():
    repeats = int(sys.argv[1]) if len(sys.argv) > 1 else 5
    # One untimed pass warms the file-system cache for every case.
    for _, stmt in CASES:
        best(stmt, 1)
    results = {}
    for label, stmt in CASES:
        seconds, rss_kb = best(stmt, repeats)
        results[label] = seconds
        print("%-34s best of %d: %7.3f s   peak RSS %6.1f MB" % (label, repeats, seconds, rss_kb / 1024))
    base = results["import pandas"]
    for mod in ("deg", "tolvar"):
        ratio = results["import orvalen.%s" % mod] / base
        print(
            "ratio import orvalen.%s / import pandas: %.2f (bar 1.5) %s"
            % (mod, ratio, "ok" if ratio <= 1.5 else "OVER")
        )


if __name__ == "__main__":
    main()
