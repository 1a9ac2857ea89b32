#!/usr/bin/env bash
# Writes the type stubs src/orvalen/{deg,tolvar,ingrath}.pyi from the built
# modules with nanobind's stub generator, formatted by the pinned ruff.
#   tools/stubs.sh [--check] [PYTHON]
# PYTHON (default python3) imports the installed build. With --check nothing
# is written: the stubs are made in a temporary folder and any difference
# from the committed ones is shown and fails.
set -euo pipefail
cd "$(dirname "$0")/.."
check=0
if [ "${1-}" = --check ]; then
  check=1
  shift
fi
py=${1:-python3}

out=src/orvalen
if [ "$check" = 1 ]; then
  out=$(mktemp -d)
  trap 'rm -rf "$out"' EXIT
fi

# The signature lines with their stub-only annotations (common/binding.hpp).
export ORVALEN_STUB_SIGNATURES=1
for mod in deg tolvar ingrath; do
  # One process per module, so what one module imports cannot change what
  # the next one binds at load.
  "$py" -m nanobind.stubgen -q -P -D -p tools/stub_patterns.txt -m "orvalen.$mod" -o "$out/$mod.pyi"
  # The generator takes the dotted default 'tar.gz' for a module name.
  sed -i '/^import tar$/d' "$out/$mod.pyi"
done

# The pinned ruff of the interpreter's environment, else the one on PATH.
if "$py" -m ruff --version >/dev/null 2>&1; then
  ruff=("$py" -m ruff)
elif command -v ruff >/dev/null; then
  ruff=(ruff)
else
  echo "tools/stubs.sh: ruff is missing (pip install ruff==0.17.6)" >&2
  exit 2
fi
stubs=("$out/deg.pyi" "$out/tolvar.pyi" "$out/ingrath.pyi")
"${ruff[@]}" check -q --config pyproject.toml --fix --select I "${stubs[@]}"
"${ruff[@]}" format -q --config pyproject.toml "${stubs[@]}"

if [ "$check" = 1 ]; then
  status=0
  for mod in deg tolvar ingrath; do
    diff -u "src/orvalen/$mod.pyi" "$out/$mod.pyi" || status=1
  done
  if [ "$status" != 0 ]; then
    echo "the stubs differ from the built modules: run tools/stubs.sh and commit src/orvalen/*.pyi" >&2
  fi
  exit "$status"
fi
