#!/usr/bin/env bash
# Runs the examples of README.md as a reader types them, so that they cannot
# rot. Every fenced block there, and in the pages of doc/ (doc/*.md), is
# marked on the line just above its fence:
#
#   <!-- example: NAME -->     run here, verbatim (or, for host.c and
#                              CMakeLists.txt, written out as that file)
#   <!-- not run: REASON -->   output, a synopsis, or commands that install
#                              system packages, run for minutes or need a
#                              server of one's own
#
# A block without a mark, or an example this script does not know, fails
# the run, so that a new example is either run or said not to be. An example
# marked in a page of doc/ is run as README.md's are (its NAME must be one
# this script knows, and unique across README.md and doc/).
#
# The examples run in a temporary directory with HOME inside it: the
# "$HOME/ondival" of the examples is a fresh installation, and nothing of the
# user's home is read or written. `build` and `tools` there lead to the build
# and the source tree's scripts, as they do at the root of a clone. The
# Debian packages and pip are not run here: tools/test_install.sh builds,
# lints, installs and removes them.
#
#   tools/readme_examples.sh [BUILD_DIR]            every example but the server's
#   tools/readme_examples.sh [BUILD_DIR] --server   the server's alone, on a
#                                                   throwaway server of its own;
#                                                   exit 77 (skipped) where no
#                                                   PostgreSQL server is installed,
#                                                   unless ONDIVAL_REQUIRE_POSTGRES=1
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
build=$(realpath "${1:-build}")
mode=${2:-}
readme=$source_dir/README.md
# The pages of doc/ follow the README's rule for their blocks.
shopt -s nullglob
pages=("$source_dir"/doc/*.md)
shopt -u nullglob

fail() {
  echo "readme_examples.sh: $*" >&2
  exit 1
}
step() { echo "== $*"; }

if [ "$mode" = --server ]; then
  if ! ls -d /usr/lib/postgresql/*/bin >/dev/null 2>&1 || ! command -v psql >/dev/null; then
    [ "${ONDIVAL_REQUIRE_POSTGRES:-0}" != 1 ] || fail "no PostgreSQL server installed, and ONDIVAL_REQUIRE_POSTGRES=1"
    echo "SKIPPED: the server example needs a PostgreSQL server and psql installed here (Debian: postgresql)"
    exit 77
  fi
fi

work=$(mktemp -d /tmp/ondival-readme.XXXXXX)
home=$work/home
examples=$work/examples
cleanup() {
  # A server example that failed half-way leaves its server running.
  for pg in "$work"/tmp/*/; do
    [ -d "$pg/data" ] && tools/pg_server.sh stop "$pg" >/dev/null 2>&1
  done
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$home" "$examples" "$work/tmp" "$work/bin" "$work/src" "$work/project"
# Run as root, the throwaway server runs as the user postgres, which must
# reach its directory under $work/tmp.
chmod 711 "$work" "$work/tmp"
ln -s "$build" "$work/src/build"
ln -s "$source_dir/tools" "$work/src/tools"

# Each marked block into $examples/NAME; every fence must carry a mark.
awk -v out="$examples" '
  FNR == 1 {
    if (inblock) { print prev ": a block left open" > "/dev/stderr"; bad = 1 }
    inblock = 0; mark = ""; file = ""; prev = FILENAME
  }
  inblock && /^```$/ { inblock = 0; if (file != "") close(file); file = ""; next }
  inblock { if (file != "") print > file; next }
  /^<!-- example: [^ ]+ -->$/ {
    name = $3
    if (name in seen) { print FILENAME ":" FNR ": example " name " given twice" > "/dev/stderr"; bad = 1 }
    seen[name] = 1; mark = "example"; next
  }
  /^<!-- not run: .+ -->$/ { mark = "not run"; name = ""; next }
  /^```/ {
    if (mark == "") { print FILENAME ":" FNR ": a block without <!-- example: NAME --> or <!-- not run: REASON --> just above it" > "/dev/stderr"; bad = 1 }
    inblock = 1; file = (mark == "example") ? out "/" name : ""
    if (file != "") printf "" > file
    mark = ""; next
  }
  { mark = "" }
  END { if (inblock) { print FILENAME ": a block left open" > "/dev/stderr"; bad = 1 }; exit bad }
' "$readme" "${pages[@]}" || fail "README.md and doc/*.md: every fenced block needs its mark"

known="install host.c pkg-config CMakeLists.txt cmake-host run-hosts python-import python-check server"
for file in "$examples"/*; do
  name=$(basename "$file")
  [[ " $known " == *" $name "* ]] || fail "README.md or doc/*.md has an example this script does not run: $name"
done
for name in $known; do
  [ -f "$examples/$name" ] || fail "README.md no longer has the example $name"
done

# Runs the shell example NAME in DIR as a reader's shell would, stopping at
# the first command that fails.
run_shell() {
  local name=$1 dir=$2
  step "$name"
  (cd "$dir" && env HOME="$home" TMPDIR="$work/tmp" PATH="$work/bin:$PATH" bash -e "$examples/$name") ||
    fail "the example $name failed"
}

# Runs the Python example NAME in DIR with the installed module, and gives
# what it printed.
run_python() {
  local name=$1 dir=$2
  step "$name" >&2
  (cd "$dir" && env -u ONDVIMP_LIBRARY HOME="$home" TMPDIR="$work/tmp" \
    PYTHONPATH="$home/ondival/lib/python3/dist-packages" PYTHONDONTWRITEBYTECODE=1 \
    python3 "$examples/$name") || fail "the example $name failed"
}

if [ "$mode" = --server ]; then
  run_shell server "$work/src"
  [ -f "$work/src/comite/trace.txt" ] || fail "the server example wrote no trace"
  if compgen -G "$work/tmp/*/data" >/dev/null; then fail "the server example left its server running"; fi
  echo "the server example runs as README.md gives it"
  exit 0
fi

run_shell install "$work/src"

# The host and its build as README.md shows them, which are the files
# tools/test_install.sh builds: the two cannot drift apart.
cp "$examples/host.c" "$work/project/host.c"
cp "$examples/CMakeLists.txt" "$work/project/CMakeLists.txt"
cmp -s "$examples/host.c" tests/install/host.c || fail "README.md's host.c is not tests/install/host.c"
cmp -s "$examples/CMakeLists.txt" tests/install/CMakeLists.txt ||
  fail "README.md's CMakeLists.txt is not tests/install/CMakeLists.txt"
run_shell pkg-config "$work/project"
run_shell cmake-host "$work/project"
run_shell run-hosts "$work/project"

output=$(run_python python-import "$work/project")
echo "$output"
grep -qx true <<<"$output" || fail "the example python-import did not import: $output"
output=$(run_python python-check "$work/project")
echo "$output"
grep -q '^would add {' <<<"$output" || fail "the example python-check did not say what the import would add"

echo "every example of README.md but the server's runs as README.md gives it"
