#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The contract suite against the scripted library (tests/scripted/), which
# ZEROVORA_SCRIPT tells which promise to break. The library of the fewest
# promises passes every contract. check, and gets every header. and values.
# check as a SKIP with its reason (a FAIL with --hold-header); each broken
# promise FAILs the check that names it, and the suite ends with 1.
#   contract_test.sh SCRIPTED_LIBRARY_FOLDER [EMULATOR...] SUITE
set -euo pipefail
scripted=$1
shift
suite=("$@")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
# Runs the suite with the promise $1 broken and the options after it, on a
# new scratch folder; its lines in $work/out, its status in $status.
run() {
  local script=$1 dir
  shift
  dir=$(mktemp -d -p "$work")
  status=0
  ZEROVORA_SCRIPT=$script LD_LIBRARY_PATH=$scripted "${suite[@]}" "$@" "$dir" >"$work/out" 2>/dev/null ||
    status=$?
}

run ""
[ "$status" -eq 0 ] || { cat "$work/out" >&2; fail "the library of the fewest promises failed the suite"; }
! grep -v -E '^(#|PASS: contract\.|(PASS|SKIP): header\.|SKIP: values\.)' "$work/out" ||
  fail "the library of the fewest promises: lines above are not a contract PASS or an extra's SKIP"
grep -q '^SKIP: header\.exists-code: not part of what vorn relies on: ' "$work/out" &&
  grep -q '^SKIP: values\.added: the library exports no metadata_table_get_text' "$work/out" ||
  fail "the extras' SKIPs do not say why"
echo "the fewest promises: $(grep -c '^PASS' "$work/out") PASS (contract), $(grep -c '^SKIP' "$work/out") SKIP (header, values)"
run "" --hold-header
[ "$status" -eq 1 ] && grep -q '^FAIL: header\.exists-code: ' "$work/out" ||
  fail "--hold-header did not fail the header's promises"

# broken promise | the check that must FAIL
rows=(
  "lookup-finds-nothing|contract.add"
  "add-keeps-nothing|contract.add"
  "keys-folded|contract.key-case"
  "close-loses|contract.reopen"
)
for row in "${rows[@]}"; do
  IFS='|' read -r script check <<<"$row"
  run "$script"
  [ "$status" -eq 1 ] || { cat "$work/out" >&2; fail "$script: the suite ended with $status"; }
  grep -q "^FAIL: $check: " "$work/out" || { cat "$work/out" >&2; fail "$script: no FAIL of $check"; }
  echo "$script: $(grep -c '^FAIL' "$work/out") FAIL, $(grep "^FAIL: $check: " "$work/out")"
done
