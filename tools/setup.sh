#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
set -euo pipefail
packages=(cmake g++ make libsqlite3-dev sqlite3 libpq-dev postgresql libgtest-dev libbenchmark-dev python3
          clang-14 libclang-rt-14-dev nlohmann-json3-dev python3-jsonschema)
# The federation's zip archives.
packages+=(libzip-dev)
# Installing like a library: the Python module's tests (and pip install
# ./python into a virtual environment, with Debian's setuptools), C hosts
# built with pkg-config, the Debian packages (debhelper, dh-python, lintian)
# and the manual page.
packages+=(python3-pytest python3-setuptools python3-wheel python3-venv python3-pip pkg-config build-essential dpkg-dev
           debhelper dh-python lintian
           file groff-base)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
