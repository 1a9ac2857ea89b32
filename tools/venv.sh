# Shared by tools/test.sh and tools/study.sh (sourced, not run): finds the
# interpreters and keeps one virtual environment per interpreter inside the
# checkout (.venv-3.X, ignored by git), so the machine's own interpreters are
# never installed into.

export PIP_ROOT_USER_ACTION=ignore PIP_DISABLE_PIP_VERSION_CHECK=1
# Packages come from PyPI itself, whatever local indexes, wheel folders or
# pins the machine's pip configuration names: PyPI's metadata tells pip the
# newest releases each interpreter supports.
export PIP_CONFIG_FILE=/dev/null PIP_FIND_LINKS= PIP_CONSTRAINT=

step() { echo "== $*"; }

# "3.X" of an interpreter.
py_version() { "$1" -c 'import sys; print("%i.%i" % sys.version_info[:2])'; }

# The interpreter itself, not a shim in front of it.
py_real() { "$1" -c 'import sys; print(sys.executable)'; }

# Every CPython 3 that pyenv holds or PATH names, one path a line.
_candidates() {
  local root
  if command -v pyenv >/dev/null 2>&1 && root=$(pyenv root 2>/dev/null); then
    ls -d "$root"/versions/3.*/bin/python 2>/dev/null | sort -rV || true
  fi
  compgen -c python3 | grep -E '^python3(\.[0-9]+)?$' | sort -u | while read -r name; do
    command -v "$name"
  done
}

# Newest interpreter of one minor version ("3.9"), or of any version >= 3.9;
# pyenv's newest patch release first.
find_python() {
  local want=$1 best="" best_key=-1 py ver key
  while read -r py; do
    [ -x "$py" ] || continue
    ver=$(py_version "$py" 2>/dev/null) || continue
    key=$(( ${ver#3.} ))
    [ "$key" -ge 9 ] || continue
    if [ "$want" = newest ] || [ "$ver" = "$want" ]; then
      [ "$key" -gt "$best_key" ] && { best=$py; best_key=$key; }
    fi
  done < <(_candidates)
  [ -n "$best" ] && py_real "$best"
}

# Requirements read from pyproject.toml, one a line: "build" gives the build
# system's, "run" the dependencies and every extra's.
project_requirements() {
  "$1" - "$2" <<'PY'
import sys
try:
    import tomllib
except ImportError:  # before 3.11
    import tomli as tomllib
with open("pyproject.toml", "rb") as f:
    meta = tomllib.load(f)
if sys.argv[1] == "build":
    reqs = meta["build-system"]["requires"]
else:
    reqs = list(meta["project"].get("dependencies", []))
    for extra in meta["project"].get("optional-dependencies", {}).values():
        reqs += extra
seen = []
for r in reqs:
    if r not in seen:
        seen.append(r)
print("\n".join(seen))
PY
}

# Installs (or upgrades) the build or run requirements into a venv.
pip_requirements() {
  local vpy=$1 kind=$2 text
  local -a reqs
  text=$(project_requirements "$vpy" "$kind")
  mapfile -t reqs <<<"$text"
  # pip's own progress, less the list of what is already there.
  "$vpy" -m pip install --progress-bar off --upgrade "${@:3}" "${reqs[@]}" 2>&1 \
    | { grep --line-buffered -v -E '^Requirement already satisfied|^\s*$' || true; }
}

# Creates (once) .venv-3.X for an interpreter and brings its build tools and
# the project's dependencies to the newest releases that interpreter supports.
# Sets VENV_PY to the venv's python.
make_venv() {
  local py=$1 ver venv
  ver=$(py_version "$py")
  venv=$PWD/.venv-$ver
  VENV_PY=$venv/bin/python
  if [ ! -x "$VENV_PY" ]; then
    step "Python $ver: creating $venv from $py"
    "$py" -m venv "$venv"
  fi
  step "Python $ver: build tools"
  "$VENV_PY" -m pip install -q --upgrade pip
  "$VENV_PY" -m pip install -q --upgrade 'tomli; python_version < "3.11"' cmake ninja
  pip_requirements "$VENV_PY" build
  step "Python $ver: dependencies from pyproject.toml (newest releases for $ver)"
  pip_requirements "$VENV_PY" run --upgrade-strategy eager
}

# Filters a build's output down to one short line per compiled file.
build_progress() {
  { grep --line-buffered -E '^\s*\[ *[0-9]+(/[0-9]+|%)\]|^Successfully installed' \
      | sed -u -E 's#^\s*(\[[^]]*\]) ([A-Za-z ]+) .*/([^/ ]+)$#   \1 \2 \3#' || true; }
}

# Builds and installs the package into a venv, one line per compiled file;
# the whole log stays in build/ and its end is shown when the build fails.
install_package() {
  local vpy=$1 ver log
  ver=$(py_version "$vpy")
  log=$PWD/build/install-$ver.log
  mkdir -p build
  step "Python $ver: building and installing orvalen (C++; a few minutes on 2 cores)"
  if ! PATH=$(dirname "$vpy"):$PATH CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2} \
      "$vpy" -m pip install -v --no-build-isolation --no-deps . 2>&1 | tee "$log" \
      | build_progress; then
    echo "building orvalen failed on Python $ver; the end of $log:" >&2
    tail -n 60 "$log" >&2
    return 1
  fi
}
