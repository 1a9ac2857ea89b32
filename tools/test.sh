#!/usr/bin/env bash
# Runs every test: the C++ kernel tests (CTest, a plain build and one under
# AddressSanitizer + UndefinedBehaviorSanitizer), then the Python tests on
# CPython 3.9, the default python3 and the newest CPython present, each in its
# own virtual environment (.venv-3.X in the checkout) holding the newest
# releases of the dependencies that interpreter supports.
# Arguments go to pytest.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/venv.sh

default_py=$(find_python "$(py_version python3)")
interpreters=()
for py in "$(find_python 3.9 || true)" "$default_py" "$(find_python newest)"; do
  [ -n "$py" ] || continue
  case " ${interpreters[*]-} " in *" $py "*) ;; *) interpreters+=("$py") ;; esac
done
step "interpreters: ${interpreters[*]}"

# GoogleTest for the kernel tests.
if [ ! -f /usr/include/gtest/gtest.h ] && [ ! -d /usr/src/googletest ]; then
  if [ "$(id -u)" = 0 ]; then
    step "installing libgtest-dev"
    apt-get update -q >/dev/null && DEBIAN_FRONTEND=noninteractive apt-get install -y -q libgtest-dev >/dev/null
  else
    echo "GoogleTest is missing: install libgtest-dev" >&2
    exit 1
  fi
fi

# CMake comes from the default interpreter's venv, like the package build's.
make_venv "$default_py"
tools_bin=$(dirname "$VENV_PY")

kernel_tests() {
  local dir=$1
  shift
  "$tools_bin/cmake" -S tests/core -B "$dir" -G Ninja -DCMAKE_MAKE_PROGRAM="$tools_bin/ninja" \
    -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  "$tools_bin/cmake" --build "$dir" -j 2 >/dev/null
  (cd "$dir" && "$tools_bin/ctest" --output-on-failure)
}
step "C++ kernel tests"
kernel_tests build/core-tests
step "C++ kernel tests under AddressSanitizer and UndefinedBehaviorSanitizer"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  kernel_tests build/core-tests-sanitize -DQUEND_SANITIZE=ON

# -- format check -------------------------------------------------------------
# (ruff check and clang-format --dry-run -Werror on the sources go here)

for py in "${interpreters[@]}"; do
  make_venv "$py"
  install_package "$VENV_PY"
  step "Python $(py_version "$VENV_PY"): pytest"
  (cd tests && "$VENV_PY" -m pytest -q -p no:cacheprovider "$@")
done
