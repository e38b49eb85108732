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
#   4. the Debian package: built with cpack, its dependencies checked against
#      what its binaries load, installed with dpkg -i, used (ondival
#      --version, an import, both C hosts, the Python tests), then removed,
#      whatever happens. Skipped, saying so, without root or sudo, or when a
#      package ondival is already installed here.
#
#   tools/test_install.sh [BUILD_DIR]      (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
version=$("$build/ondival" --version | awk '{print $2}')
work=$(mktemp -d /tmp/ondival-install.XXXXXX)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo -n"
package_installed=0
cleanup() {
  if [ $package_installed = 1 ]; then
    $sudo dpkg --purge ondival >/dev/null || echo "test_install.sh: could not remove the package ondival" >&2
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

step "the Debian package"
arch=$(dpkg --print-architecture)
deb=$build/ondival_${version}_$arch.deb
rm -f "$deb"
cpack -G DEB --config "$build/CPackConfig.cmake" >/dev/null
[ -f "$deb" ] || fail "cpack did not write $deb"
echo "$(basename "$deb"): $(du -k "$deb" | cut -f1) kB; Depends: $(dpkg-deb -f "$deb" Depends)"
packaged=$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '/$' | sed -e 's|^\./usr/||' -e 's|ondvimpTargets-.*\.cmake|ondvimpTargets-CONFIG.cmake|' | sort)
[ "$packaged" = "$expected" ] ||
  fail "the package holds other files than the installation:$(diff <(echo "$expected") <(echo "$packaged") | grep '^[<>]')"
# A fresh machine has nothing but what the package depends on: every
# library its binaries load must come from a package it names.
depends=$(dpkg-deb -f "$deb" Depends | sed 's/[,|]/\n/g' | sed 's/(.*//' | tr -d ' ' | sort -u)
dpkg-deb -x "$deb" "$work/deb"
for binary in "$work/deb/usr/bin/ondival" "$work/deb/usr/lib/libondvimp.so.$version"; do
  for needed in $(readelf -d "$binary" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    [[ $needed == ld-linux* ]] && continue  # the loader comes with libc6
    path=$(ldd "$binary" | awk -v n="$needed" '$1 == n {print $3}')
    owner=$(dpkg -S "$path" 2>/dev/null || dpkg -S "/usr$path" 2>/dev/null || dpkg -S "${path#/usr}" 2>/dev/null) ||
      fail "no package holds $path, which $binary loads"
    owner=${owner%%:*}
    grep -qx "$owner" <<<"$depends" ||
      fail "$(basename "$binary") loads $needed from $owner, which the package does not depend on:" "${depends//$'\n'/ }"
  done
done
for library in libsqlite3-0 libpq5; do
  grep -qx "$library" <<<"$depends" || fail "the package does not depend on $library:" "${depends//$'\n'/ }"
done

if dpkg -s ondival >/dev/null 2>&1; then
  echo "skipping dpkg -i: a package ondival is already installed on this machine, and is left alone"
elif [ -n "$sudo" ] && ! sudo -n true 2>/dev/null; then
  echo "skipping dpkg -i: it needs root or sudo without a password"
else
  step "dpkg -i $(basename "$deb"), then using it from /usr"
  package_installed=1
  $sudo dpkg -i "$deb" >/dev/null
  [ "$(/usr/bin/ondival --version)" = "ondival $version" ] || fail "/usr/bin/ondival --version: $(/usr/bin/ondival --version)"
  mkdir -p "$work/dpkg-scratch"
  /usr/bin/ondival init "$work/dpkg.db" >/dev/null
  /usr/bin/ondival import "$work/dpkg.db" "$work/export" "$work/dpkg-scratch" "$work/dpkg-trace.txt" --quiet ||
    fail "the packaged ondival did not import"
  # No PKG_CONFIG_PATH, CMAKE_PREFIX_PATH nor LD_LIBRARY_PATH: the system's
  # own search paths, and the loader cache the package's trigger refreshed.
  libdir=$(dirname "$(dpkg -L ondival | grep '/libondvimp.so.1$')")
  (
    unset PKG_CONFIG_PATH LD_LIBRARY_PATH CMAKE_PREFIX_PATH
    build_and_run_hosts /usr "$libdir" usr
  )
  # Byte code as Python writes it beside the module on first use: the
  # removal must take it away too.
  env -u PYTHONPATH -u PYTHONDONTWRITEBYTECODE /usr/bin/python3 -c 'import ondvimp' || fail "Debian's python3 cannot import ondvimp"
  [ -d /usr/lib/python3/dist-packages/ondvimp/__pycache__ ] || fail "python3 wrote no byte code beside the module"
  env -u PYTHONPATH -u ONDVIMP_LIBRARY PYTHONDONTWRITEBYTECODE=1 ONDIVAL_CLI=/usr/bin/ondival \
    ONDVIMP_TEST_EXPECT_LIBRARY_DIR="$libdir" ONDVIMP_TEST_EXPECT_MODULE_DIR=/usr/lib/python3/dist-packages/ondvimp \
    /usr/bin/python3 -m pytest -q -p no:cacheprovider python/tests
  step "dpkg --purge ondival"
  $sudo dpkg --purge ondival >/dev/null
  package_installed=0
  for gone in /usr/bin/ondival "$libdir/libondvimp.so.1" /usr/include/ondvimp.h /usr/lib/python3/dist-packages/ondvimp; do
    [ ! -e "$gone" ] || fail "$gone is still there after the package was removed"
  done
fi
echo "install, pkg-config, CMake package, Python module and Debian package: all good"
