#!/usr/bin/env bash
# Installs the package into the checkout's virtual environment for the
# default python3 (.venv-3.X) and runs the example study on its generated data.
# Arguments go to examples/study.py (for example --out DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/venv.sh

make_venv "$(py_real python3)"
install_package "$VENV_PY"
step "running the example study"
"$VENV_PY" examples/study.py "$@"
