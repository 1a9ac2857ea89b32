import os

# Figures are drawn off screen in tests.
os.environ.setdefault("MPLBACKEND", "Agg")
