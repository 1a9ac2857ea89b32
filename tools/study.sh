#!/usr/bin/env bash
# Installs the package and runs the example study on its generated data.
# Arguments go to examples/study.py (for example --out DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
export PIP_ROOT_USER_ACTION=ignore
# Same installation route as tools/test.sh: build tools first, then the
# package without an isolated build environment.
pip_install() {
  PIP_CONFIG_FILE=/dev/null PIP_FIND_LINKS= python3 -m pip install -q --disable-pip-version-check "$@"
}
pip_install scikit-build-core nanobind
pip_install --no-build-isolation ".[full]"
python3 examples/study.py "$@"
