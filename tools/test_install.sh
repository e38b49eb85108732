#!/usr/bin/env bash
# Proves that ondival installs and is used like a library, from a build that
# is up to date (tools/test.sh runs this after its ctest):
#
#   1. cmake --install into a temporary prefix: the files a host needs and
#      nothing private; a library that exports what its header declares;
#   2. a C host compiled with pkg-config and one with find_package(ondvimp),
#      each running an import of a generated export;
#   3. the Python module's tests against the installed library, and the
#      manual page against the program's help;
#   4. pip install ./python into a virtual environment, with Debian's
#      setuptools, and the module's tests against the library just built;
#   5. the Debian packages libondvimp1, libondvimp-dev, ondival and
#      python3-ondvimp: built from debian/ with dpkg-buildpackage in a copy
#      of the sources, passed by lintian without an error or a warning, their
#      files and dependencies checked, installed with dpkg -i, used (ondival
#      --version, an import, both C hosts built from /usr, the Python tests),
#      then removed, whatever happens. Installing says SKIPPED without root
#      or sudo, or when one of them is already installed here.
#
#   tools/test_install.sh [BUILD_DIR]      (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
version=$("$build/ondival" --version | awk '{print $2}')
work=$(mktemp -d /tmp/ondival-install.XXXXXX)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo -n"
packages=(libondvimp1 libondvimp-dev ondival python3-ondvimp)
packages_installed=0
remove_packages() {
  # The module first, the library last: what depends on a package goes
  # before it.
  $sudo dpkg --purge python3-ondvimp ondival libondvimp-dev libondvimp1 >/dev/null
}
cleanup() {
  if [ $packages_installed = 1 ]; then
    remove_packages || echo "test_install.sh: could not remove the packages ${packages[*]}" >&2
  fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "test_install.sh: $*" >&2
  exit 1
}
step() { echo "== $*"; }

# Fails unless BINARY loads libondvimp from DIR.
loads_from() {
  local loaded
  loaded=$(ldd "$1" | awk '$1 == "libondvimp.so.1" {print $3}')
  if [ -z "$loaded" ] || [ "$(realpath "$(dirname "$loaded")")" != "$(realpath "$2")" ]; then
    fail "$1 does not load libondvimp from $2: $(ldd "$1")"
  fi
}

# Runs a host built against the library on a fresh database (made by the
# ondival given) and the export.
run_host() {
  local ondival=$1 host=$2 name
  name=$(basename "$host")
  "$ondival" init "$work/$name.db" >/dev/null
  mkdir -p "$work/$name-scratch"
  "$host" "$work/$name.db" "$work/export" "$work/$name-scratch" "$work/$name-trace.txt" ||
    fail "$host: the import did not go in"
}

# The two C hosts, built against the installation at PREFIX (PKG_CONFIG_PATH
# and CMAKE_PREFIX_PATH as the caller sets them) and run.
build_and_run_hosts() {
  local prefix=$1 libdir=$2 tag=$3
  [ "$(pkg-config --modversion ondvimp)" = "$version" ] || fail "pkg-config gives ondvimp $(pkg-config --modversion ondvimp)"
  # shellcheck disable=SC2046  # the flags are words
  cc -std=c99 -Wall -Wextra -Werror -pedantic tests/install/host.c $(pkg-config --cflags --libs ondvimp) \
    -o "$work/host-pkg-config-$tag"
  cmake -S tests/install -B "$work/cmake-host-$tag" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
  cmake --build "$work/cmake-host-$tag" >/dev/null
  cp "$work/cmake-host-$tag/host" "$work/host-cmake-$tag"
  for host in "$work/host-pkg-config-$tag" "$work/host-cmake-$tag"; do
    loads_from "$host" "$libdir"
    run_host "$prefix/bin/ondival" "$host"
  done
}

step "cmake --install into a temporary prefix"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
expected="bin/ondival
include/ondvimp.h
lib/cmake/ondvimp/ondvimpConfig.cmake
lib/cmake/ondvimp/ondvimpConfigVersion.cmake
lib/cmake/ondvimp/ondvimpTargets-CONFIG.cmake
lib/cmake/ondvimp/ondvimpTargets.cmake
lib/libondvimp.so
lib/libondvimp.so.1
lib/libondvimp.so.$version
lib/pkgconfig/ondvimp.pc
lib/python3/dist-packages/ondvimp/__init__.py
lib/python3/dist-packages/ondvimp/_install_location.py
lib/python3/dist-packages/ondvimp/_library.py
share/man/man1/ondival.1"
installed=$(cd "$prefix" && find . -type f -o -type l | sed -e 's|^\./||' -e 's|ondvimpTargets-.*\.cmake|ondvimpTargets-CONFIG.cmake|' | sort)
[ "$installed" = "$expected" ] ||
  fail "the installation is not what a host needs, no more, no less:$(diff <(echo "$expected") <(echo "$installed") | grep '^[<>]')"
[ "$(readlink "$prefix/lib/libondvimp.so")" = libondvimp.so.1 ] || fail "libondvimp.so does not link to libondvimp.so.1"
readelf -d "$prefix/lib/libondvimp.so.$version" | grep -q 'soname: \[libondvimp.so.1\]' || fail "wrong soname"
exported=$(nm -D --defined-only "$prefix/lib/libondvimp.so.1" | awk '{print $3}' | sort)
declared=$(grep -oE '\bondvimp_[a-z_0-9]+\(' "$prefix/include/ondvimp.h" | tr -d '(' | sort -u)
[ "$exported" = "$declared" ] ||
  fail "the library exports other functions than its header declares:$(diff <(echo "$declared") <(echo "$exported") | grep '^[<>]')"

"$prefix/bin/ondival" generate "$work/export" --clubs 5 --licences 60 --performances 150 --relays 8 >/dev/null

step "C hosts built with pkg-config and with find_package(ondvimp) against $prefix"
PKG_CONFIG_PATH=$prefix/lib/pkgconfig LD_LIBRARY_PATH=$prefix/lib build_and_run_hosts "$prefix" "$prefix/lib" prefix

step "the Python module and the manual page, installed in $prefix"
env -u ONDVIMP_LIBRARY PYTHONPATH="$prefix/lib/python3/dist-packages" ONDIVAL_CLI="$prefix/bin/ondival" \
  ONDVIMP_TEST_EXPECT_LIBRARY_DIR="$prefix/lib" ONDVIMP_TEST_EXPECT_MODULE_DIR="$prefix/lib/python3/dist-packages/ondvimp" \
  tools/pytest.sh python/tests
ONDIVAL_CLI="$prefix/bin/ondival" ONDIVAL_MAN_PAGE="$prefix/share/man/man1/ondival.1" \
  tools/pytest.sh tests/install/test_man_page.py

step "pip install ./python into a virtual environment"
# A copy, so that the build leaves nothing in the source tree; Debian's
# setuptools (no build isolation: nothing is fetched).
cp -r python "$work/python-src"
rm -rf "$work/python-src/tests"
# Debian's python3, whose setuptools and wheel the environment sees.
/usr/bin/python3 -m venv --system-site-packages "$work/venv"
"$work/venv/bin/python" -m pip install --quiet --no-build-isolation --no-deps --no-index "$work/python-src" ||
  fail "pip install ./python failed"
[ "$("$work/venv/bin/python" -c 'import importlib.metadata as m; print(m.version("ondvimp"))')" = "$version" ] ||
  fail "python/pyproject.toml gives another version than $version"
pip_module=$("$work/venv/bin/python" -c 'import os, ondvimp; print(os.path.dirname(ondvimp.__file__))')
[[ $pip_module == "$work/venv/"* ]] || fail "the virtual environment imports ondvimp from $pip_module"
env -u PYTHONPATH ONDVIMP_LIBRARY="$build/libondvimp.so" ONDIVAL_CLI="$build/ondival" \
  ONDVIMP_TEST_EXPECT_MODULE_DIR="$pip_module" \
  "$work/venv/bin/python" -m pytest -q -p no:cacheprovider python/tests

step "the Debian packages, built from debian/ in a copy of the sources"
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
# dpkg-buildpackage builds inside the tree and writes the packages beside
# it: a copy of the sources (those git knows of, or all but the builds) in
# the temporary directory.
src=$work/src/ondival-$version
mkdir -p "$src"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
    tar --null -T - -cf - | tar -xf - -C "$src"
else
  tar --exclude=./.git --exclude=./build --exclude='./build-*' --exclude=./demo -cf - . | tar -xf - -C "$src"
fi
(cd "$src" && DEB_BUILD_OPTIONS="nocheck noddebs parallel=$(nproc)" dpkg-buildpackage -b -us -uc) \
  >"$work/dpkg-buildpackage.log" 2>&1 || {
  tail -n 40 "$work/dpkg-buildpackage.log" >&2
  fail "dpkg-buildpackage failed (above, the end of its output)"
}
declare -A deb
for p in "${packages[@]}"; do
  a=$arch
  [ "$p" = python3-ondvimp ] && a=all
  deb[$p]=$work/src/${p}_${version}_$a.deb
  [ -f "${deb[$p]}" ] || fail "dpkg-buildpackage did not write $(basename "${deb[$p]}")"
  echo "$(basename "${deb[$p]}"): $(du -k "${deb[$p]}" | cut -f1) kB; Depends: $(dpkg-deb -f "${deb[$p]}" Depends)"
done

step "lintian"
# Every tag, however often it comes; lintian's word about running as root
# (as CI does) is no finding.
lintian_out=$(lintian --tag-display-limit 0 "${deb[@]}" 2>&1 | grep -v '^running with root privileges') || true
echo "lintian ${deb[*]##*/}: ${lintian_out:-no error, no warning}"
if grep -qE '^[EW]: ' <<<"$lintian_out"; then
  fail "lintian reports errors or warnings (above)"
fi

# The files of each package, its documentation aside.
contents() {
  dpkg-deb -c "$1" | awk '{print $6}' | grep -v '/$' | grep -v '^\./usr/share/doc/' |
    sed -e 's|^\./||' -e 's|ondvimpTargets-.*\.cmake|ondvimpTargets-CONFIG.cmake|' | sort
}
expect_contents() {
  local package=$1 expected
  expected=$(printf '%s\n' "${@:2}" | sort)
  [ "$(contents "${deb[$package]}")" = "$expected" ] ||
    fail "$package holds other files than it should:$(diff <(echo "$expected") <(contents "${deb[$package]}") | grep '^[<>]')"
  local listing
  listing=$(dpkg-deb -c "${deb[$package]}")
  for doc in copyright changelog.gz; do
    grep -q "\./usr/share/doc/$package/$doc\$" <<<"$listing" || fail "$package has no $doc"
  done
}
expect_contents libondvimp1 "usr/lib/$multiarch/libondvimp.so.1" "usr/lib/$multiarch/libondvimp.so.$version"
expect_contents libondvimp-dev usr/include/ondvimp.h "usr/lib/$multiarch/libondvimp.so" \
  "usr/lib/$multiarch/pkgconfig/ondvimp.pc" "usr/lib/$multiarch/cmake/ondvimp/ondvimpConfig.cmake" \
  "usr/lib/$multiarch/cmake/ondvimp/ondvimpConfigVersion.cmake" \
  "usr/lib/$multiarch/cmake/ondvimp/ondvimpTargets-CONFIG.cmake" "usr/lib/$multiarch/cmake/ondvimp/ondvimpTargets.cmake"
expect_contents ondival usr/bin/ondival usr/share/man/man1/ondival.1.gz
expect_contents python3-ondvimp usr/lib/python3/dist-packages/ondvimp/__init__.py \
  usr/lib/python3/dist-packages/ondvimp/_library.py
dpkg-deb -f "${deb[python3-ondvimp]}" Depends | grep -q "libondvimp1 (>= $version)" ||
  fail "python3-ondvimp does not depend on libondvimp1: $(dpkg-deb -f "${deb[python3-ondvimp]}" Depends)"
dpkg-deb -f "${deb[libondvimp-dev]}" Depends | grep -q "libondvimp1 (= $version)" ||
  fail "libondvimp-dev does not depend on its libondvimp1: $(dpkg-deb -f "${deb[libondvimp-dev]}" Depends)"
triggers=$(dpkg-deb --ctrl-tarfile "${deb[libondvimp1]}" | tar -xOf - ./triggers)
grep -qx 'activate-noawait ldconfig' <<<"$triggers" || fail "libondvimp1 has no ldconfig trigger"

# A fresh machine has nothing but what the packages depend on: every
# library a packaged binary loads must come from a package it names.
for p in libondvimp1 ondival; do
  depends=$(dpkg-deb -f "${deb[$p]}" Depends | sed 's/[,|]/\n/g' | sed 's/(.*//' | tr -d ' ' | sed 's/:any$//' | sort -u)
  dpkg-deb -x "${deb[$p]}" "$work/deb-$p"
  for binary in "$work/deb-$p/usr/bin/ondival" "$work/deb-$p/usr/lib/$multiarch/libondvimp.so.$version"; do
    [ -f "$binary" ] || continue
    for needed in $(readelf -d "$binary" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
      [[ $needed == ld-linux* ]] && continue  # the loader comes with libc6
      path=$(ldd "$binary" | awk -v n="$needed" '$1 == n {print $3}')
      owner=$(dpkg -S "$path" 2>/dev/null || dpkg -S "/usr$path" 2>/dev/null || dpkg -S "${path#/usr}" 2>/dev/null) ||
        fail "no package holds $path, which $binary loads"
      owner=${owner%%:*}
      grep -qx "$owner" <<<"$depends" ||
        fail "$(basename "$binary") loads $needed from $owner, which $p does not depend on:" "${depends//$'\n'/ }"
    done
  done
done
for library in libsqlite3-0 libpq5; do
  for p in libondvimp1 ondival; do
    dpkg-deb -f "${deb[$p]}" Depends | grep -q "\b$library\b" || fail "$p does not depend on $library"
  done
done

already=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 && already+=("$p")
done
if ((${#already[@]})); then
  echo "SKIPPED dpkg -i: ${already[*]} already installed on this machine, and left alone"
elif [ -n "$sudo" ] && ! sudo -n true 2>/dev/null; then
  echo "SKIPPED dpkg -i: it needs root or sudo without a password"
else
  step "dpkg -i the four packages, then using them from /usr"
  packages_installed=1
  $sudo dpkg -i "${deb[@]}" >/dev/null
  [ "$(/usr/bin/ondival --version)" = "ondival $version" ] || fail "/usr/bin/ondival --version: $(/usr/bin/ondival --version)"
  man -w ondival >/dev/null 2>&1 || [ -f /usr/share/man/man1/ondival.1.gz ] || fail "no manual page for ondival"
  mkdir -p "$work/dpkg-scratch"
  /usr/bin/ondival init "$work/dpkg.db" >/dev/null
  /usr/bin/ondival import "$work/dpkg.db" "$work/export" "$work/dpkg-scratch" "$work/dpkg-trace.txt" --quiet ||
    fail "the packaged ondival did not import"
  # No PKG_CONFIG_PATH, CMAKE_PREFIX_PATH nor LD_LIBRARY_PATH: the system's
  # own search paths, and the loader cache the library's trigger refreshed.
  libdir=$(dirname "$(dpkg -L libondvimp1 | grep '/libondvimp.so.1$')")
  (
    unset PKG_CONFIG_PATH LD_LIBRARY_PATH CMAKE_PREFIX_PATH
    build_and_run_hosts /usr "$libdir" usr
  )
  # Byte code as Python writes it beside the module: the removal must take
  # it away too.
  env -u PYTHONPATH -u PYTHONDONTWRITEBYTECODE /usr/bin/python3 -c 'import ondvimp' || fail "Debian's python3 cannot import ondvimp"
  [ -d /usr/lib/python3/dist-packages/ondvimp/__pycache__ ] || fail "no byte code beside the module"
  env -u PYTHONPATH -u ONDVIMP_LIBRARY PYTHONDONTWRITEBYTECODE=1 ONDIVAL_CLI=/usr/bin/ondival \
    ONDVIMP_TEST_EXPECT_LIBRARY_DIR="$libdir" ONDVIMP_TEST_EXPECT_MODULE_DIR=/usr/lib/python3/dist-packages/ondvimp \
    /usr/bin/python3 -m pytest -q -p no:cacheprovider python/tests
  step "dpkg --purge the four packages"
  remove_packages
  packages_installed=0
  for gone in /usr/bin/ondival "$libdir/libondvimp.so.1" /usr/include/ondvimp.h /usr/lib/python3/dist-packages/ondvimp; do
    [ ! -e "$gone" ] || fail "$gone is still there after the packages were removed"
  done
fi
echo "install, pkg-config, CMake package, Python module, pip and Debian packages: all good"
