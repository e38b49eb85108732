#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
set -euo pipefail
packages=(cmake g++ make libsqlite3-dev sqlite3 libpq-dev postgresql libgtest-dev libbenchmark-dev python3
          clang-14 libclang-rt-14-dev nlohmann-json3-dev python3-jsonschema)
# Installing like a library: the Python module's tests, C hosts built with
# pkg-config, the Debian package (dpkg-shlibdeps, file) and the manual page.
packages+=(python3-pytest pkg-config dpkg-dev file groff-base)
# The report's HTML page is tried in a real browser, headless.
packages+=(chromium)
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
