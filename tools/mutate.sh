#!/usr/bin/env bash
# A mutation pass: plants realistic faults in the component one at a time,
# rebuilds, runs the test suite (on SQLite, and on PostgreSQL too when
# ONDIVAL_TEST_PG_URI names a server) and says which fault no test noticed.
# A fault that survives is a promise the suite does not keep; add the test
# that catches it. Slow (one rebuild per fault): not part of tools/test.sh.
#
#   tools/mutate.sh [--faults FILE] [--sqlite-first] [BUILD_DIR] [PATTERN]
#
#   BUILD_DIR       default build-mutate
#   PATTERN         only the faults whose line holds PATTERN
#   --faults FILE   plant the faults of FILE instead of the list below: a set
#                   written apart from the tests, by someone who has not read
#                   them (lines as below; blank lines and lines starting with
#                   # are skipped)
#   --sqlite-first  run only the SQLite suite on each fault, then the
#                   PostgreSQL runs only on the faults that survived it (the
#                   second pass needs ONDIVAL_TEST_PG_URI, else the survivors
#                   are named untried)
#
# Each fault is: file @@ text as it stands @@ text that replaces it @@ what
# it breaks. The text must appear exactly once in the file.
set -euo pipefail
fault_file="" sqlite_first=""
while [ $# -gt 0 ]; do
  case $1 in
    --faults) fault_file=$(realpath "$2"); shift 2 ;;
    --sqlite-first) sqlite_first=1; shift ;;
    -*) echo "usage: tools/mutate.sh [--faults FILE] [--sqlite-first] [BUILD_DIR] [PATTERN]" >&2; exit 2 ;;
    *) break ;;
  esac
done
cd "$(dirname "$0")/.."
build=${1:-build-mutate}
only=${2:-}
jobs=$(nproc 2>/dev/null || echo 2)

faults=$(cat <<'EOF'
core/source_files.cpp @@ arrondi_pair(size / length) @@ static_cast<double>(static_cast<long>(size / length)) @@ line count truncated: a one-line file without its end counts 0
core/source_files.cpp @@ line.size() + 2 @@ line.size() @@ first line measured without its line end
core/source_files.cpp @@ if (length < required) { @@ if (length < required - 1) { @@ a line one short of a line end not warned
core/stroke_codes.cpp @@ code < 0 || code > 99 @@ code < 0 || code > 98 @@ stroke code 99 refused in table Nage
core/stroke_codes.cpp @@ code < 0 || code > 99 @@ code < 0 || code > 100 @@ a Nage code of 100 taken into the stroke table
perfs/perf_import.cpp @@ n >= 0 && n <= 99 @@ n >= 0 && n < 99 @@ stroke code 99 out of range on a line
perfs/perf_import.cpp @@ n >= 0 && n <= 99 @@ n > 0 && n <= 99 @@ stroke code 0 out of range on a line
clubs/club_save.cpp @@ code.compare(code.size() - 4, 4, "0000") @@ code.compare(code.size() - 3, 3, "000") @@ selection recognised by three zeros
import/driver.cpp @@     db().Execute(Sql(kDeleteStagedRelays)); @@     // relay rows forgotten @@ purge forgets the staged relay rows
perfs/relay_members.cpp @@         c.colNaissances.Add(birth, key); @@         // birth date not cached @@ relay member cached without its stored birth date
licences/licence_record.cpp @@ colonne(birth, 3, 2) == licence_yy @@ colonne(birth, 1, 2) == licence_yy @@ birth-year rule reads the century
perfs/perf_import.cpp @@ numeric_value(age_) > 0 @@ numeric_value(age_) >= 0 @@ an age of 0 accepted
common/trace.cpp @@ count >= 2 ? "s" : "" @@ count > 2 ? "s" : "" @@ plural from 3 on
licences/licence_import.cpp @@ (l.licence[0] == 'R' || l.licence[0] == 'r') @@ l.licence[0] == 'R' @@ small-r relay licences taken for swimmers
perfs/perf_record.cpp @@ field != "25" && field != "50" @@ field != "50" @@ 25 m pools refused
platform/statement.cpp @@             if (ch == '\'') out.push_back('\''); @@             // quotes left single @@ quotes not doubled in the statement written out for messages
perfs/perf_insert.cpp @@ "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, -1);", @@ "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 0);", @@ performances staged outside -1
licences/licence_import.cpp @@ if (!l.selection.empty() && l.selection != l.club) @@ if (false) @@ resolved selection record cached under one key only
perfs/perf_import.cpp @@ if (club == previous_club_) return true; @@ if (club == previous_club_ || previous_club_.empty()) return true; @@ first club of the file never saved
licences/licence_import.cpp @@ if (!l.selection.empty() && !rejoint_selection(l.selection, row_num, l.message)) { @@ if (false) { @@ known licence of a selection record never joins it
licences/licence_record.cpp @@ field = majuscules_sans_accents(field, colAccents, colMajuscules); @@ (void)colMajuscules; @@ family names kept in mixed case with accents
perfs/perf_import.cpp @@ if (key == previous_key_) return true; @@ if (key == previous_key_ && false) return true; @@ consecutive lines of one swimmer recompute the age
platform/early_answers.cpp @@ if (!by_value || kind != 'i' || all_among(answer->second.literals, values)) answers_.erase(answer); @@ if (!by_value || kind != 'i') answers_.erase(answer); @@ server: a swimmer inserted keeps the early answer that said unknown
platform/early_answers.cpp @@ it->second.batch + 1 < batch @@ it->second.batch + 2 < batch @@ server: an early answer of a written table kept a batch too long
platform/early_answers.cpp @@ if (w.kind != 'i' || a.tables.size() > 1 || all_among(a.literals, w.values)) return true; @@ if (a.tables.size() > 1 || all_among(a.literals, w.values)) return true; @@ server: an update sent while a read travelled leaves its answer trusted
platform/pending_answers.cpp @@ handler.over(done, first && got_); @@ handler.over(done, got_); @@ server: a statement skipped after a failure taken for answered
platform/postgres_engine.cpp @@ if (!spec_.failed && r && others_doing(p, r)) @@ if (false) @@ server: another session's lock taken for a wrong guess and waited for twice
platform/database.cpp @@ if (!objects.empty()) line_by_line_ = true; @@ (void)objects; @@ server: a host trigger on an import table leaves the import sending ahead
common/report.cpp @@ if (Report* r = t_report) r->inserting.performances = 0; @@ if (Report* r = t_report) (void)r; @@ report: withdrawn performances counted as added
common/report.cpp @@ stop.lines = e.lines; @@ stop.lines = e.lines; break; @@ report: the stop names the first line refused, not the line the import stopped at
core/speculation.cpp @@ if (Report* r = current_report(); r && p.report) *r = std::move(*p.report); @@ (void)p; @@ server: a file import run again keeps the abandoned run's report entries
platform/postgres_engine.cpp @@ if (!succeeded(raw)) refused(p, raw); @@ (void)p; @@ server: a write refused while sent ahead left for the commit to find
clubs/club_code.cpp @@ if (c.I == "0") return c.R == "00" && c.D == "000"; @@ if (c.I == "0") return c.R == "00"; @@ a national club code with a department taken as valid
licences/licence_record.cpp @@ case kLicDateObliteration: @@ case kLicenceFields: @@ a licence's stamp date stored as ddmmyyyy
platform/cp1252.cpp @@ 0x2018, 0x2019 @@ 0x2018, 0x2018 @@ a typographic apostrophe stored as an opening quote
common/keyed_list.h @@ if (s.tag != tag) continue; @@ if (s.tag != tag) return nullptr; @@ a key past another key's slot is not found
common/keyed_list.h @@ if (s.position != 0) file(s); @@ if (s.position > 1) file(s); @@ the first key is lost when the index grows
common/numeric.cpp @@ value = count == 0 ? 0.0 : negative ? -v : v; @@ value = count == 0 ? 0.0 : v; @@ a negative whole number read as positive
common/numeric.cpp @@ whole = whole * 10 + static_cast<std::uint64_t>(c - '0'); @@ whole = whole * 10 + static_cast<std::uint64_t>(c - '1'); @@ digits read one short
platform/statement.cpp @@ if (v > (limit - d) / 10) return false; @@ (void)limit; @@ a bare number too long for 64 bits wraps around
common/dates.cpp @@ if (yyyymmdd.size() != 8) not_a_date(""); @@ if (yyyymmdd.size() != 8) not_a_date(yyyymmdd); @@ a performance date of the wrong length refused in other words than before
platform/text_file.cpp @@ memchr(start + at, '\r', limit) @@ memchr(start + at, '\r', n) @@ a CR after the line's LF cuts the line short
platform/text_file.cpp @@ if (lf) return at + limit; @@ if (lf) return limit; @@ a line longer than one search window cut at the wrong place
common/dos_letters.cpp @@ if ((word & 0x8080808080808080ull) == 0) continue; @@ if ((word & 0x8080808080808000ull) == 0) continue; @@ a DOS letter first in a run of eight bytes left as it is
EOF
)

if [ -n "$fault_file" ]; then
  faults=$(grep -v '^[[:space:]]*\(#\|$\)' "$fault_file")
fi

saved=$(mktemp)
planted=""
restore() { if [ -n "$planted" ]; then cp "$saved" "$planted"; planted=""; fi; }
trap 'restore; rm -f "$saved"' EXIT

# Plants one fault; false (and nothing planted) when its text is not there
# exactly once.
plant() {
  cp "$1" "$saved"
  planted=$1
  python3 - "$1" "$2" "$3" <<'PY' || { restore; return 1; }
import os, sys
# Bytes throughout: the sources are UTF-8, and a fault may quote an accent.
path, old, new = sys.argv[1], os.fsencode(sys.argv[2]), os.fsencode(sys.argv[3])
text = open(path, 'rb').read()
if text.count(old) != 1:
    sys.exit(f"{path}: the text to replace appears {text.count(old)} times: {sys.argv[2]}")
open(path, 'wb').write(text.replace(old, new))
PY
}

# Runs the tests that are not excluded by $1 on the planted build; true when
# they all pass: the fault survived.
survives() { ctest --test-dir "$build" -j"$jobs" -E "$1" --stop-on-failure >/dev/null 2>&1; }

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DONDIVAL_BENCH=OFF >/dev/null
cmake --build "$build" -j"$jobs" >/dev/null

# Every test runs on the planted build but c_host, whose host writes a file
# of its own; the server's suites (postgresql/Server* among them: early
# answers, other writers, locks) run on the server ONDIVAL_TEST_PG_URI names,
# the same the whole suite runs on.
every='^c_host'
first=$every
[ -z "$sqlite_first" ] || first='^(c_host|postgresql/)'

killed=0 total=0
survivors=() second=()
while IFS=$'\x1f' read -r file from to what; do
  [ -n "$file" ] || continue
  [ -z "$only" ] || [[ "$file $from $what" == *"$only"* ]] || continue
  total=$((total + 1))
  if ! plant "$file" "$from" "$to"; then
    echo "?? $what: not planted (the code changed; update the list)"
    survivors+=("$what (not planted)")
    continue
  fi
  if ! cmake --build "$build" -j"$jobs" >/dev/null 2>&1; then
    echo "-- $what: does not compile (not counted)"
    total=$((total - 1))
  elif survives "$first"; then
    if [ -n "$sqlite_first" ]; then
      echo "survived SQLite  $what   ($file)"
      second+=("$file"$'\x1f'"$from"$'\x1f'"$to"$'\x1f'"$what")
    else
      echo "SURVIVED  $what   ($file)"
      survivors+=("$what")
    fi
  else
    echo "killed    $what"
    killed=$((killed + 1))
  fi
  restore
done < <(sed 's/ @@ /\x1f/g' <<<"$faults")

# The faults the SQLite suite let through, against the PostgreSQL runs.
for fault in "${second[@]}"; do
  IFS=$'\x1f' read -r file from to what <<<"$fault"
  if [ -z "${ONDIVAL_TEST_PG_URI:-}" ]; then
    echo "UNTRIED   $what   ($file): no server named by ONDIVAL_TEST_PG_URI"
    survivors+=("$what (not tried on PostgreSQL)")
    continue
  fi
  plant "$file" "$from" "$to"
  if cmake --build "$build" -j"$jobs" >/dev/null 2>&1 &&
    ONDIVAL_REQUIRE_POSTGRES=1 ctest --test-dir "$build" -j"$jobs" -R '^postgresql/' -E "$every" \
      --stop-on-failure >/dev/null 2>&1; then
    echo "SURVIVED  $what   ($file)"
    survivors+=("$what")
  else
    echo "killed on PostgreSQL  $what"
    killed=$((killed + 1))
  fi
  restore
done

cmake --build "$build" -j"$jobs" >/dev/null
echo
echo "mutation score: $killed of $total faults caught${fault_file:+ (faults of $fault_file)}"
for s in "${survivors[@]}"; do echo "  not caught: $s"; done
[ ${#survivors[@]} -eq 0 ]
