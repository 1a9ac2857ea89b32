#!/usr/bin/env bash
# Runs every test: the C++ kernel tests (CTest, a plain build and one under
# AddressSanitizer + UndefinedBehaviorSanitizer), the format checks, then the
# Python tests on CPython 3.9, the default python3 and the newest CPython
# present, each in its own virtual environment (.venv-3.X in the checkout).
# Prints one line per step, and what fails; the full logs are in build/.
# Any failing step fails the command. Arguments go to pytest.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/venv.sh
mkdir -p build

default_py=$(py_real python3)
default_ver=$(py_version "$default_py")
interpreters=()
versions=" "
for py in "$(find_python 3.9 || true)" "$default_py" "$(find_python newest || true)"; do
  [ -n "$py" ] || continue
  ver=$(py_version "$py")
  case "$versions" in *" $ver "*) ;; *)
    interpreters+=("$py")
    versions+="$ver "
    ;;
  esac
done
step "interpreters: ${interpreters[*]}"

# GoogleTest for the kernel tests and a compiler cache: from Debian when
# root. Without GoogleTest the kernel tests build it from its sources
# (tests/core/CMakeLists.txt); without ccache everything compiles afresh.
have_gtest() { [ -f /usr/include/gtest/gtest.h ] || [ -f /usr/src/googletest/CMakeLists.txt ]; }
missing=()
have_gtest || missing+=(libgtest-dev)
command -v ccache >/dev/null || missing+=(ccache)
if [ ${#missing[@]} -gt 0 ] && [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
  step "installing ${missing[*]} (log: build/apt.log)"
  if ! { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"; } \
    >build/apt.log 2>&1; then
    echo "apt-get failed (build/apt.log); going on without ${missing[*]}" >&2
  fi
fi
# Without root, Debian's googletest package is only unpacked into build/
# (apt-get download needs no root) and the kernel tests build it.
gtest_args=()
if ! have_gtest; then
  gtest_src=$PWD/build/googletest-deb/usr/src/googletest
  if [ ! -f "$gtest_src/CMakeLists.txt" ]; then
    step "GoogleTest is not installed: unpacking Debian's googletest sources into build/ (log: build/apt.log)"
    if ! (cd build && rm -f googletest_*.deb && apt-get download googletest && dpkg-deb -x googletest_*.deb googletest-deb) \
      >>build/apt.log 2>&1; then
      echo "GoogleTest is missing: install libgtest-dev, or run the Python tests alone (README)" >&2
      exit 1
    fi
  fi
  gtest_args=(-DQUEND_GTEST_SOURCE="$gtest_src")
fi
use_compiler_cache

# The other interpreters' environments are prepared in the background
# (mostly downloads) while the default one's builds and tests run. What is
# still running in the background when the command ends (a failure, Ctrl-C)
# is stopped, with the processes it started.
declare -A preparing=()
kill_tree() {
  local child
  for child in $(pgrep -P "$1" || true); do kill_tree "$child"; done
  kill "$1" 2>/dev/null || true
}
stop_preparing() {
  local pid
  for pid in "${preparing[@]-}"; do
    [ -n "$pid" ] && kill_tree "$pid"
  done
  return 0
}
trap stop_preparing EXIT
for py in "${interpreters[@]}"; do
  ver=$(py_version "$py")
  [ "$ver" = "$default_ver" ] && continue
  step "Python $ver: preparing .venv-$ver in the background (log: build/venv-$ver.log)"
  make_venv "$py" all "build/venv-$ver.log" >"build/venv-$ver.steps" 2>&1 &
  preparing[$ver]=$!
done

# CMake comes from the default interpreter's venv, like the package build's;
# the formatters are pinned: a newer one may lay the same code out differently.
# The build tools first: the kernel tests need no more.
make_venv "$default_py" tools "build/venv-$default_ver.log" ruff==0.17.6 clang-format==23.1.5
cmake=$(tool_path "$VENV_PY" cmake cmake)
ctest=$(tool_path "$VENV_PY" ctest cmake)
ninja=$(tool_path "$VENV_PY" ninja ninja)

# Usage: kernel_tests WHAT BUILD_DIR [cmake argument...]; log: BUILD_DIR.log
kernel_tests() {
  local what=$1 dir=$2 log=$2.log
  shift 2
  step "$what (log: $log)"
  : >"$log"
  quietly "$log" "$what: configuring" "$cmake" -S tests/core -B "$dir" -G Ninja \
    -DCMAKE_MAKE_PROGRAM="$ninja" -DCMAKE_CXX_COMPILER_LAUNCHER="$launcher" "$@" || return 1
  quietly "$log" "$what: building" "$cmake" --build "$dir" -j 2 || return 1
  quietly "$log" "$what: ctest" "$ctest" --test-dir "$dir" --output-on-failure --no-tests=error -j 2 || return 1
  grep -E 'tests passed' "$log" | tail -n 1 | sed 's/^/   /'
}
plain_kernel_tests() {
  kernel_tests "C++ kernel tests" build/core-tests -DCMAKE_BUILD_TYPE=Release "${gtest_args[@]}"
}
# Only the kernels and their tests run under the sanitizers, at -O0: the
# tally kernel's many instantiations take four times the CPU to build at -O1,
# the tests run in seconds either way, and nothing is optimised away from the
# checks. They run in the background while the requirements download and the
# default interpreter's package builds (its longest compile, the tally
# kernel, leaves one core to them); their step lines are shown when they are
# waited for.
step "C++ kernel tests under AddressSanitizer and UndefinedBehaviorSanitizer, in the background"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  kernel_tests "C++ kernel tests under AddressSanitizer and UndefinedBehaviorSanitizer" \
  build/core-tests-sanitize -DQUEND_SANITIZE=ON -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-O0 \
  "${gtest_args[@]}" >build/core-tests-sanitize.steps 2>&1 &
sanitize_pid=$!
preparing[sanitize]=$sanitize_pid
wait_sanitized_kernel_tests() {
  if kill -0 "$sanitize_pid" 2>/dev/null; then
    step "waiting for the C++ kernel tests under the sanitizers"
    show_progress "$sanitize_pid" build/core-tests-sanitize.log
  fi
  local status=0
  wait "$sanitize_pid" || status=$?
  unset "preparing[sanitize]"
  cat build/core-tests-sanitize.steps
  return "$status"
}

make_venv "$default_py" all "build/venv-$default_ver.log" ruff==0.17.6 clang-format==23.1.5

# -- format check -------------------------------------------------------------
# Checks only (nothing is rewritten), each once its configuration is in the
# checkout: ruff on the Python files, clang-format on the C++ sources.
if [ -f ruff.toml ] || [ -f .ruff.toml ] || grep -q '^\[tool\.ruff' pyproject.toml; then
  step "format check: ruff"
  "$VENV_PY" -m ruff format --check --quiet .
  "$VENV_PY" -m ruff check --quiet .
fi
if [ -f .clang-format ]; then
  step "format check: clang-format"
  clang_format=$(tool_path "$VENV_PY" clang-format clang-format)
  git ls-files -z -- '*.cpp' '*.hpp' | xargs -0 "$clang_format" --dry-run -Werror
fi

# Two pytest workers when pytest-xdist is there. Each starts with a run of
# neighbouring tests (one file's module fixtures and the Dask cluster start
# once) and takes over the other's share when it runs out.
python_tests() {
  local ver=$1 log=build/pytest-$1.log
  shift
  VENV_PY=$PWD/.venv-$ver/bin/python
  if [ -n "${preparing[$ver]-}" ]; then
    step "Python $ver: waiting for .venv-$ver"
    if ! wait "${preparing[$ver]}"; then
      cat "build/venv-$ver.steps" >&2
      echo "preparing .venv-$ver failed (log: build/venv-$ver.log)" >&2
      return 1
    fi
    unset "preparing[$ver]"
    # A constraint dropped for that interpreter is said here, not only in the log.
    grep -h "cannot be met" "build/venv-$ver.steps" || true
  fi
  install_package "$VENV_PY" || return 1
  # (tests/test_stubs.py checks that the stubs match the built modules.) The
  # plain kernel tests come after the package build, whose kernel objects
  # they take from ccache (the same compiler and flags).
  if [ "$ver" = "$default_ver" ]; then
    plain_kernel_tests || return 1
    wait_sanitized_kernel_tests || return 1
  fi
  local -a workers=()
  "$VENV_PY" -c 'import xdist' 2>/dev/null && workers=(-n 2 --dist worksteal)
  step "Python $ver: pytest (log: $log, times per test: build/pytest-$ver.xml)"
  (cd tests && "$VENV_PY" -m pytest -q -p no:cacheprovider --junitxml="../build/pytest-$ver.xml" "${workers[@]}" "$@") \
    2>&1 | tee "$log" | quiet_pytest "$log"
}

# pytest's output as the terminal shows it: the whole of it stays in the log,
# but pytest-xdist's "bringing up nodes..." (printed whatever the verbosity
# when the output is not a terminal) and the summary of warnings, nearly all
# raised inside third-party libraries, are left out here. Usage: quiet_pytest LOG
quiet_pytest() {
  awk -v logfile="$1" '
    /^bringing up nodes\.\.\.$/ { blank_after = 1; next }
    blank_after && /^$/ { blank_after = 0; next }
    { blank_after = 0 }
    /^=+ warnings summary =+$/ { in_warnings = 1; next }
    in_warnings && /^-- Docs: / { in_warnings = 0; next }
    in_warnings { next }
    /^-+ generated xml file: .* -+$/ { next }
    /^=* ?[0-9]+ (passed|failed).* [0-9]+ warnings? in / { print $0 " (warnings: " logfile ")"; fflush(); next }
    { print; fflush() }
  '
}

# The default interpreter first: its venv is ready.
python_tests "$default_ver" "$@"
for py in "${interpreters[@]}"; do
  ver=$(py_version "$py")
  [ "$ver" = "$default_ver" ] || python_tests "$ver" "$@"
done
step "all tests passed"
