#!/usr/bin/env bash
# Keeps the Layout table of doc/architecture.md true: every project #include
# must name a folder that the including folder may touch there. Run by
# tools/test.sh; exits 1 and lists the wrong-way includes when there are any.
set -euo pipefail
cd "$(dirname "$0")/.."

# Folder: the folders its files may include from (its own always allowed),
# read from the table's "May touch" column, so that the table is the one
# place a folder's floor is written: every folder named in backquotes in a
# row whose first cell names one folder; "the same" starts from the row
# above.
table=doc/architecture.md
declare -A may=()
while IFS=$'\t' read -r folder touches; do
  may[$folder]=$touches
done < <(awk -F'|' '
  /^## Layout/ { in_layout = 1; next }
  /^## / { in_layout = 0 }
  in_layout && /^\| `[a-z]+\/` \|/ {
    folder = $2; gsub(/[` \/]/, "", folder)
    cell = $4; list = ""
    if (cell ~ /^ *the same/) list = previous
    while (match(cell, /`[a-z]+\/`/)) {
      name = substr(cell, RSTART + 1, RLENGTH - 3)
      list = list (list == "" ? "" : " ") name
      cell = substr(cell, RSTART + RLENGTH)
    }
    previous = list
    print folder "\t" list
  }' "$table")
[ ${#may[@]} -gt 0 ] || { echo "no Layout table found in $table" >&2; exit 1; }

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
