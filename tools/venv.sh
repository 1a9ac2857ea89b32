# Shared by tools/test.sh and tools/study.sh (sourced, not run): finds the
# interpreters and keeps one virtual environment per interpreter inside the
# checkout (.venv-3.X, ignored by git), so the machine's own interpreters are
# never installed into.
#
# A venv remembers what was installed into it (orvalen-requirements.txt) and
# from which sources orvalen was built (orvalen-build.sha256), so a second run
# neither asks the package index again nor rebuilds an unchanged package.
# ORVALEN_UPGRADE=1 brings the dependencies to their newest releases again.

export PIP_ROOT_USER_ACTION=ignore PIP_DISABLE_PIP_VERSION_CHECK=1
# Packages come from wherever the user's pip configuration says (pip.conf,
# PIP_* variables: an index or mirror, wheel folders, constraints); PyPI when
# it says nothing. See pip_install for a constraint one interpreter cannot meet.
# The venvs are installed without bytecode (see make_venv): Python writes it
# for the modules it imports, once, instead of compiling them again in every
# process of every run.
unset PYTHONDONTWRITEBYTECODE

# Each step line carries the time since the command started.
step() { printf '== [%02d:%02d] %s\n' $((SECONDS / 60)) $((SECONDS % 60)) "$*"; }

# Runs a command with its output added to a log file; on failure shows the
# end of the log and fails. Usage: quietly LOG WHAT COMMAND...
quietly() {
  local log=$1 what=$2
  shift 2
  if ! "$@" >>"$log" 2>&1; then
    echo "FAILED: $what; the end of $log:" >&2
    tail -n 80 "$log" >&2
    return 1
  fi
}

# While process PID runs, a line every ORVALEN_PROGRESS_SECONDS (30 by
# default), so that a long build is seen to move: the time so far and how
# many of ninja's build steps are done (the last "[k/n]" of the LOGs). A few
# lines a minute, whether on a terminal or in CI's log.
# Usage: show_progress PID LOG...
show_progress() {
  local pid=$1 every=${ORVALEN_PROGRESS_SECONDS:-30} start=$SECONDS next count
  shift
  next=$((SECONDS + every))
  while kill -0 "$pid" 2>/dev/null; do
    sleep 1
    [ "$SECONDS" -ge "$next" ] || continue
    next=$((SECONDS + every))
    count=$(cat "$@" 2>/dev/null | grep -o '^ *\[[0-9]*/[0-9]*\]' | tail -n 1 | tr -d ' []' || true)
    printf '   ... %d:%02d, %s\n' $(((SECONDS - start) / 60)) $(((SECONDS - start) % 60)) \
      "$([ -n "$count" ] && echo "$count build steps done" || echo configuring)"
  done
}

# `quietly`, showing the progress of the build whose output goes to LOG.
# Usage: quietly_building LOG WHAT COMMAND...
quietly_building() {
  quietly "$@" &
  local pid=$!
  show_progress "$pid" "$1"
  wait "$pid"
}

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
    key=$((${ver#3.}))
    [ "$key" -ge 9 ] || continue
    if [ "$want" = newest ] || [ "$ver" = "$want" ]; then
      [ "$key" -gt "$best_key" ] && {
        best=$py
        best_key=$key
      }
    fi
  done < <(_candidates)
  [ -n "$best" ] && py_real "$best"
}

# The constraint files pip reads, one a line: PIP_CONSTRAINT's, else the
# configuration's (pip config list shows each key once, merged over files).
_constraint_files() {
  local listing key value
  listing=$("$1" -m pip config list 2>/dev/null || true)
  for key in ':env:' install global; do
    value=$(sed -n "s/^$key\.constraint='\(.*\)'\$/\1/p" <<<"$listing")
    if [ -n "$value" ]; then
      tr ' ' '\n' <<<"$value" | grep -v '^$' || true
      return 0
    fi
  done
}

# A requirement's project name, normalised ("Foo_Bar>=1" gives foo-bar).
_req_name() { sed -E 's/^[[:space:]]*([A-Za-z0-9._-]+).*/\1/; s/[._-]+/-/g' | tr '[:upper:]' '[:lower:]'; }

# pip install into a venv, output added to LOG, under the user's pip
# configuration. When pip reports a constraint of that configuration that
# cannot be met on this interpreter ("The user requested (constraint) ..."),
# that constraint alone is dropped for this interpreter, a line says so, and
# pip runs again with the other constraints. On failure shows the end of LOG.
# Usage: pip_install VENV_PY LOG WHAT pip-install-argument...
pip_install() {
  local vpy=$1 log=$2 what=$3 ver kept start names dropped file
  shift 3
  ver=$(py_version "$vpy")
  kept=$(dirname "$(dirname "$vpy")")/orvalen-constraints.txt
  local -a env_args=()
  for _ in 1 2 3 4 5; do
    start=$(($(wc -l <"$log") + 1))
    if env "${env_args[@]}" "$vpy" -m pip install --progress-bar off "$@" >>"$log" 2>&1; then
      return 0
    fi
    dropped=$(tail -n +"$start" "$log" | sed -n 's/^ *The user requested (constraint) //p' | sort -u)
    [ -n "$dropped" ] || break
    names=$(_req_name <<<"$dropped")
    # Every constraint line pip read, less those of the projects it named.
    if [ ${#env_args[@]} -eq 0 ]; then
      while read -r file; do
        [ -f "$file" ] && cat "$file" && echo
      done < <(_constraint_files "$vpy") >"$kept.all"
    fi
    : >"$kept"
    while IFS= read -r line; do
      [ -n "${line%%#*}" ] && grep -qxF -- "$(_req_name <<<"$line")" <<<"$names" && continue
      printf '%s\n' "$line" >>"$kept"
    done <"$kept.all"
    cp "$kept" "$kept.all"
    while IFS= read -r line; do
      step "Python $ver: the constraint '$line' of the pip configuration cannot be met on Python $ver; installing without it"
    done <<<"$dropped"
    env_args=(PIP_CONSTRAINT="$kept")
  done
  echo "FAILED: $what; the end of $log:" >&2
  tail -n 80 "$log" >&2
  return 1
}

# Requirements read from pyproject.toml, one a line: "build" gives the build
# system's, "core" the dependencies, "all" the dependencies and every extra's.
# Needs Python 3.11 or tomli (installed first into every venv).
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
    if sys.argv[1] == "all":
        for extra in meta["project"].get("optional-dependencies", {}).values():
            reqs += extra
seen = []
for r in reqs:
    if r not in seen:
        seen.append(r)
print("\n".join(seen))
PY
}

# Creates (once) .venv-3.X for an interpreter and installs the build tools
# and the project's requirements of one kind ("core" or "all", see
# project_requirements) plus any extra requirement given, the newest releases
# this interpreter supports; KIND "tools" stops after the build tools (CMake,
# ninja and the extras), so that a later call of the same run adds the rest
# to the same LOG. Skipped when the venv already holds them all. pip's output
# goes to LOG. Sets VENV_PY to the venv's python.
# Usage: make_venv PYTHON KIND LOG [requirement...]
_venv_tools_done=
make_venv() {
  local py=$1 kind=$2 log=$3 ver venv stamp text
  shift 3
  local -a tools reqs
  ver=$(py_version "$py")
  venv=$PWD/.venv-$ver
  VENV_PY=$venv/bin/python
  stamp=$venv/orvalen-requirements.txt
  [ "$_venv_tools_done" = "$venv" ] || : >"$log"
  if [ ! -x "$VENV_PY" ]; then
    step "Python $ver: creating $venv from $py"
    "$py" -m venv "$venv" >>"$log" 2>&1 || return 1
  fi
  # The build tools first: tomli lets an older interpreter read pyproject.toml.
  tools=(pip cmake ninja 'tomli; python_version < "3.11"' "$@")
  text=$(printf '%s\n' "${tools[@]}")
  if [ "$_venv_tools_done" != "$venv" ] &&
    { [ ! -f "$stamp" ] || [ -n "${ORVALEN_UPGRADE:-}" ] || ! _has_all "$stamp" "$text"; }; then
    step "Python $ver: build tools (log: $log)"
    pip_install "$VENV_PY" "$log" "installing the build tools into $venv" --upgrade "${tools[@]}" || return 1
  fi
  if [ "$kind" = tools ]; then
    _venv_tools_done=$venv
    return 0
  fi
  text=$(printf '%s\n%s\n%s\n' "$text" "$(project_requirements "$VENV_PY" build)" \
    "$(project_requirements "$VENV_PY" "$kind")")
  if [ -f "$stamp" ] && [ -z "${ORVALEN_UPGRADE:-}" ] && _has_all "$stamp" "$text"; then
    step "Python $ver: requirements already installed (ORVALEN_UPGRADE=1 upgrades them)"
    return 0
  fi
  step "Python $ver: requirements from pyproject.toml, newest releases for $ver (log: $log)"
  mapfile -t reqs <<<"$text"
  # No byte-compiling of every installed module: Python compiles the few it
  # imports on first use.
  pip_install "$VENV_PY" "$log" "installing the requirements into $venv" \
    --no-compile --upgrade --upgrade-strategy eager "${reqs[@]}" || return 1
  # What this venv now holds; a later run with fewer needs (the study) is
  # satisfied by it too.
  { [ -f "$stamp" ] && cat "$stamp"; printf '%s\n' "$text"; } | sort -u >"$stamp.new"
  mv "$stamp.new" "$stamp"
}

# The path of a program that a package installed into a venv, wherever the
# venv finds the package (its own bin/ or an environment it extends).
# Usage: tool_path VENV_PY PROGRAM DISTRIBUTION
tool_path() {
  "$1" - "$2" "$3" <<'PY'
import sys
from importlib.metadata import distribution

name, dist = sys.argv[1:]
for f in distribution(dist).files or ():
    if f.name == name and f.parent.name == "bin":
        print(f.locate().resolve())
        break
else:
    sys.exit(f"{name}: not installed by {dist}")
PY
}

# Whether every line of TEXT is a line of FILE.
_has_all() {
  local line
  while IFS= read -r line; do
    [ -z "$line" ] || grep -qxF -- "$line" "$1" || return 1
  done <<<"$2"
}

# One hash of what the package is built from: its sources and build files as
# they are in the checkout (edits included), and the build tools' releases.
_build_inputs_hash() {
  local vpy=$1
  {
    if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
      git ls-files -co --exclude-standard -z -- src CMakeLists.txt pyproject.toml
    else
      find src CMakeLists.txt pyproject.toml -type f -print0
    fi | sort -z | xargs -0 sha256sum
    "$vpy" -c 'from importlib.metadata import version as v; print(v("nanobind"), v("scikit-build-core"))'
  } | sha256sum | cut -d' ' -f1
}

# Compiles through ccache when it is present (sets `launcher` for the kernel
# tests' CMake and the package's build), with paths relative to the checkout,
# so the interpreters' builds and other checkouts of the same sources share
# the cached objects; without it everything compiles afresh.
use_compiler_cache() {
  launcher=
  if command -v ccache >/dev/null; then
    launcher=ccache
    export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
    # ccache keys on the compiler's name. The package build takes the
    # compiler the interpreter was built with when CXX is unset, CMake alone c++:
    # one name for both lets the kernel tests and the package share the
    # kernels' objects (the tally kernel is the longest compile of all).
    if [ -z "${CXX:-}" ] && command -v g++ >/dev/null; then
      export CXX=g++
    fi
  fi
  export SKBUILD_CMAKE_ARGS="-DCMAKE_CXX_COMPILER_LAUNCHER=$launcher${SKBUILD_CMAKE_ARGS:+;$SKBUILD_CMAKE_ARGS}"
}

# Builds and installs the package into a venv, unless it is installed there
# from the same sources already. The build log is build/install-3.X.log; its
# end is shown when the build fails.
install_package() {
  local vpy=$1 ver log venv stamp hash
  ver=$(py_version "$vpy")
  venv=$(dirname "$(dirname "$vpy")")
  log=$PWD/build/install-$ver.log
  stamp=$venv/orvalen-build.sha256
  mkdir -p build
  hash=$(_build_inputs_hash "$vpy") || return 1
  if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$hash" ] &&
    "$vpy" -c 'import importlib.util as u, sys; sys.exit(u.find_spec("orvalen.deg") is None)' 2>/dev/null; then
    step "Python $ver: orvalen is installed from these sources already"
    return 0
  fi
  rm -f "$stamp"
  : >"$log"
  step "Python $ver: building and installing orvalen (log: $log)"
  quietly_building "$log" "building orvalen on Python $ver" \
    env PATH="$(dirname "$vpy"):$PATH" CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}" \
    "$vpy" -m pip install -v --no-build-isolation --no-deps . || return 1
  echo "$hash" >"$stamp"
}
