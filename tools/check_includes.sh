#!/usr/bin/env bash
# Keeps the Layout table of doc/architecture.md true: every project #include
# must name a folder that the including folder may touch. Run by
# tools/test.sh; exits 1 and lists the wrong-way includes when there are any.
set -euo pipefail
cd "$(dirname "$0")/.."

# Folder: the folders its files may include from (its own always allowed),
# the table's "May touch" column for the folders of the component and its
# hosts: a change of a folder's floor is made in both.
# Each folder stands above all it includes: the import's shared state and
# database access (core) below the file imports, its entry point, driver
# and report (import) above them.
declare -A may=(
  [platform]=""
  [common]="platform"
  [core]="platform common"
  [clubs]="platform common core"
  [licences]="platform common core clubs"
  [perfs]="platform common core clubs licences"
  [import]="platform common core clubs licences perfs"
  [capi]="platform import include"
  [host]="platform common"
  [samples]="common clubs licences perfs host"
  [cli]="platform import host samples"
)

status=0
for folder in "${!may[@]}"; do
  [ -d "$folder" ] || continue
  while IFS= read -r hit; do
    file=${hit%%:*}
    target=$(sed -E 's/.*#include "([^"]+)".*/\1/' <<<"${hit#*:}")
    [[ $target == */* ]] || target="include/$target"   # <ondvimp.h> style headers of include/
    dir=${target%%/*}
    allowed="$folder ${may[$folder]}"
    ok=0
    for a in $allowed; do [ "$dir" = "$a" ] && ok=1; done
    if [ $ok = 0 ]; then
      echo "wrong-way include: $file includes \"$target\" ($folder/ may touch: ${may[$folder]:-nothing})"
      status=1
    fi
  done < <(grep -H -E '^\s*#\s*include\s+"' "$folder"/*.cpp "$folder"/*.h "$folder"/*.c 2>/dev/null || true)
done
[ $status = 0 ] && echo "includes: every folder touches only what the Layout table allows"
exit $status
