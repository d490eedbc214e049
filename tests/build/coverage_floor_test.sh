#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# scripts/coverage.sh's floor for the deciding code on crafted gcovr
# summaries, a row each: every deciding file whole passes; one missing from
# the report, or short by a branch, fails and is named.
#   coverage_floor_test.sh SOURCE
set -euo pipefail
coverage=$1/scripts/coverage.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
eval "$(sed -n '/^deciding=(/,/)/p' "$coverage")"

# summary FILE:COVERED/TOTAL...: a gcovr JSON summary of those files.
summary() {
  local entry entries=()
  for entry in "$@"; do
    entries+=("{\"filename\": \"${entry%%:*}\", \"branch_covered\": $(cut -d: -f2 <<<"$entry" | cut -d/ -f1), \"branch_total\": ${entry##*/}}")
  done
  (IFS=,; echo "{\"files\": [${entries[*]}]}")
}
whole=()
for file in "${deciding[@]}"; do whole+=("$file:75/75"); done
short=("${whole[@]}")
short[4]=${deciding[4]}:74/75

# name | summary entries | pass or fail | words
rows=(
  "every branch covered|${whole[*]} standin/entries.cpp:95/116|pass|every branch of the deciding code covered"
  "a deciding file missing|${whole[*]:1}|fail|${deciding[0]} (not in the report)"
  "a deciding file short by a branch|${short[*]}|fail|${deciding[4]} 74/75"
)
failures=0
for row in "${rows[@]}"; do
  IFS='|' read -r name entries expected words <<<"$row"
  read -ra entries <<<"$entries"
  summary "${entries[@]}" >"$work/summary.json"
  outcome=pass
  said=$(bash "$coverage" --floor "$work/summary.json" 2>&1) || outcome=fail
  if [ "$outcome" != "$expected" ] || [[ $said != *"$words"* ]]; then
    echo "FAIL: $name: the floor said \"$said\" ($outcome); expected $expected with \"$words\""
    failures=$((failures + 1))
  else
    echo "ok: $name: $expected"
  fi
done
exit "$failures"
