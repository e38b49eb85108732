#!/usr/bin/env bash
# Runs pytest on the given tests with the first python3 that has it (on
# Debian: python3-pytest, which tools/setup.sh installs), leaving no cache
# nor byte code in the source tree.
set -euo pipefail
for python in python3 /usr/bin/python3; do
  if "$python" -c 'import pytest' 2>/dev/null; then
    PYTHONDONTWRITEBYTECODE=1 exec "$python" -m pytest -q -p no:cacheprovider "$@"
  fi
done
echo "pytest.sh: no python3 with pytest; install python3-pytest (tools/setup.sh does)" >&2
exit 1
