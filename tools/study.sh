#!/usr/bin/env bash
# Installs the package and runs the example study on its generated data.
set -euo pipefail
cd "$(dirname "$0")/.."
python3 -m pip install -q --disable-pip-version-check ".[full]"
python3 examples/study.py "$@"
