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

default_py=$(py_real python3)
interpreters=()
versions=" "
for py in "$(find_python 3.9 || true)" "$default_py" "$(find_python newest)"; do
  [ -n "$py" ] || continue
  ver=$(py_version "$py")
  case "$versions" in *" $ver "*) ;; *) interpreters+=("$py"); versions+="$ver " ;; esac
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

# The other interpreters' environments are prepared in the background
# (mostly downloads) while the default one's builds and tests run.
mkdir -p build
declare -A preparing=()
stop_preparing() {
  local pid
  for pid in "${preparing[@]-}"; do
    [ -n "$pid" ] || continue
    pkill -P "$pid" 2>/dev/null || true
    kill "$pid" 2>/dev/null || true
  done
}
trap stop_preparing EXIT
for py in "${interpreters[@]}"; do
  ver=$(py_version "$py")
  [ "$ver" = "$(py_version "$default_py")" ] && continue
  step "Python $ver: preparing .venv-$ver in the background (log: build/venv-$ver.log)"
  make_venv "$py" >"build/venv-$ver.log" 2>&1 &
  preparing[$ver]=$!
done

# CMake comes from the default interpreter's venv, like the package build's.
make_venv "$default_py"
tools_bin=$(dirname "$VENV_PY")

kernel_tests() {
  local dir=$1
  shift
  "$tools_bin/cmake" -S tests/core -B "$dir" -G Ninja -DCMAKE_MAKE_PROGRAM="$tools_bin/ninja" \
    -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  "$tools_bin/cmake" --build "$dir" -j 2 | build_progress
  (cd "$dir" && "$tools_bin/ctest" --output-on-failure)
}
step "C++ kernel tests"
kernel_tests build/core-tests
step "C++ kernel tests under AddressSanitizer and UndefinedBehaviorSanitizer"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  kernel_tests build/core-tests-sanitize -DQUEND_SANITIZE=ON

# -- format check -------------------------------------------------------------
# Checks only (nothing is rewritten), each once its configuration is in the
# checkout: ruff on the Python files, clang-format on the C++ sources.
if [ -f ruff.toml ] || [ -f .ruff.toml ] || grep -q '^\[tool\.ruff' pyproject.toml; then
  step "format check: ruff"
  # Pinned: a newer formatter may lay the same code out differently.
  "$VENV_PY" -m pip install -q ruff==0.17.6
  "$tools_bin/ruff" format --check .
  "$tools_bin/ruff" check .
fi
if [ -f .clang-format ]; then
  step "format check: clang-format"
  "$VENV_PY" -m pip install -q clang-format==23.1.5
  git ls-files -z -- '*.cpp' '*.hpp' | xargs -0 "$tools_bin/clang-format" --dry-run -Werror
fi

python_tests() {
  local ver=$1
  VENV_PY=$PWD/.venv-$ver/bin/python
  if [ -n "${preparing[$ver]-}" ]; then
    step "Python $ver: waiting for .venv-$ver"
    if ! wait "${preparing[$ver]}"; then
      cat "build/venv-$ver.log"
      echo "preparing .venv-$ver failed" >&2
      exit 1
    fi
    unset "preparing[$ver]"
    cat "build/venv-$ver.log"
  fi
  install_package "$VENV_PY"
  step "Python $ver: pytest"
  (cd tests && "$VENV_PY" -m pytest -q -p no:cacheprovider "${@:2}")
}

# The default interpreter first: its venv is ready.
python_tests "$(py_version "$default_py")" "$@"
for py in "${interpreters[@]}"; do
  ver=$(py_version "$py")
  [ "$ver" = "$(py_version "$default_py")" ] || python_tests "$ver" "$@"
done
