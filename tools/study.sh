#!/usr/bin/env bash
# Installs the package into the checkout's virtual environment for the
# default python3 (.venv-3.X) and runs the example study on its generated data.
# The study needs only the package's own dependencies, not the test tools or
# the extras; a second run finds them and the package in place and starts the
# study at once. Arguments go to examples/study.py (for example --out DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/venv.sh
mkdir -p build
use_compiler_cache

py=$(py_real python3)
make_venv "$py" core "build/venv-$(py_version "$py").log"
install_package "$VENV_PY"
step "running the example study"
"$VENV_PY" examples/study.py "$@"
