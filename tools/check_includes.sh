#!/usr/bin/env bash
# Keeps the README's Layout table true: every project #include must name a
# folder that the including folder may touch. Run by tools/test.sh; exits 1
# and lists the wrong-way includes when there are any.
set -euo pipefail
cd "$(dirname "$0")/.."

# Folder: the folders its files may include from (its own always allowed).
# The import folder holds two layers: its shared state and database access
# sit below the file imports, its entry point and driver above them.
declare -A may=(
  [platform]=""
  [common]="platform"
  [import]="platform common"
  [clubs]="platform common import"
  [licences]="platform common import clubs"
  [perfs]="platform common import clubs licences"
  [capi]="platform import include"
  [host]="platform"
  [samples]="host"
  [cli]="platform import host samples"
)
declare -A above=(
  [import/driver.cpp]="clubs licences perfs"
)
# What only the top of the import folder (and the hosts above it) may include.
top_of_import='import/(driver|cls_ondival|report_json|report_html)\.h'

status=0
for folder in "${!may[@]}"; do
  [ -d "$folder" ] || continue
  while IFS= read -r hit; do
    file=${hit%%:*}
    target=$(sed -E 's/.*#include "([^"]+)".*/\1/' <<<"${hit#*:}")
    [[ $target == */* ]] || target="include/$target"   # <ondvimp.h> style headers of include/
    dir=${target%%/*}
    allowed="$folder ${may[$folder]} ${above[$file]:-}"
    ok=0
    for a in $allowed; do [ "$dir" = "$a" ] && ok=1; done
    if [ $ok = 1 ] && [[ $folder =~ ^(clubs|licences|perfs|import)$ ]] && [[ $target =~ $top_of_import ]] &&
       [[ ! $file =~ ^import/(driver|cls_ondival|report_json|report_html)\. ]]; then
      ok=0
    fi
    if [ $ok = 0 ]; then
      echo "wrong-way include: $file includes \"$target\" ($folder/ may touch: ${may[$folder]:-nothing}${above[$file]:+, and ${above[$file]} here})"
      status=1
    fi
  done < <(grep -H -E '^\s*#\s*include\s+"' "$folder"/*.cpp "$folder"/*.h "$folder"/*.c 2>/dev/null || true)
done
[ $status = 0 ] && echo "includes: every folder touches only what the Layout table allows"
exit $status
