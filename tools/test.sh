#!/usr/bin/env bash
# Installs what the tests need, builds the package and runs every test:
# the C++ kernel tests (CTest) and the Python tests (pytest), on the default
# python3 and on CPython 3.9 when one is available.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
export PIP_ROOT_USER_ACTION=ignore

interpreters=("$(command -v python3)")
py39=""
if command -v pyenv >/dev/null 2>&1; then
  py39=$(pyenv root)/versions/$(pyenv versions --bare 2>/dev/null | grep -E '^3\.9(\.|$)' | tail -n 1)/bin/python
fi
[ -x "$py39" ] || py39=$(command -v python3.9 2>/dev/null || true)
if [ -n "$py39" ] && [ -x "$py39" ] && [ "$("$py39" -c 'import sys; print(sys.version_info[:2] == (3, 9))')" = True ] \
   && [ "$(realpath "$py39")" != "$(realpath "${interpreters[0]}")" ]; then
  interpreters+=("$py39")
fi

# GoogleTest for the kernel tests.
if [ ! -f /usr/include/gtest/gtest.h ] && [ ! -d /usr/src/googletest ]; then
  if [ "$(id -u)" = 0 ]; then
    apt-get update -q >/dev/null && DEBIAN_FRONTEND=noninteractive apt-get install -y -q libgtest-dev >/dev/null
  else
    echo "GoogleTest is missing: install libgtest-dev" >&2
    exit 1
  fi
fi

echo "== C++ kernel tests"
cmake -S tests/core -B build/core-tests -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/core-tests -j 2 >/dev/null
(cd build/core-tests && ctest --output-on-failure)

# Packages come from PyPI itself: its metadata tells pip which releases still
# support each interpreter, so resolving stays quick on 3.9 too.
pip_install() {
  PIP_CONFIG_FILE=/dev/null PIP_FIND_LINKS= "$1" -m pip install -q --disable-pip-version-check "${@:2}"
}

for py in "${interpreters[@]}"; do
  echo "== $("$py" --version) ($py)"
  pip_install "$py" scikit-build-core nanobind pytest hypothesis
  pip_install "$py" numpy pandas scipy statsmodels matplotlib scikit-learn anndata gdown ipython importlib_resources
  pip_install "$py" adjustText scanpy seaborn statannotations plotly
  pip_install "$py" --no-build-isolation ".[full]"
  (cd "$root/tests" && "$py" -m pytest -q -p no:cacheprovider "$@")
done
