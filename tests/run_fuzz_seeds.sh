#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Runs a fuzz target once over each of its committed seeds, without fuzzing:
#   run_fuzz_seeds.sh FUZZ_PROGRAM SEEDS_DIR
# The seeds are SEEDS_DIR/<program name>/*; a target that has none of its own
# reads every seed there is. Any finding, crash or leak fails the run.
set -euo pipefail
program=$1 seeds=$2
name=$(basename "$program")
if [ -d "$seeds/$name" ]; then
  files=("$seeds/$name"/*)
else
  files=("$seeds"/*/*)
fi
[ -e "${files[0]}" ] || { echo "no seeds for $name in $seeds" >&2; exit 1; }
# Given files rather than a folder, libFuzzer runs each input once and stops.
"$program" -rss_limit_mb=4096 "${files[@]}" 2>"${TMPDIR:-/tmp}/$name.$$.log" || {
  status=$?
  cat "${TMPDIR:-/tmp}/$name.$$.log" >&2
  rm -f "${TMPDIR:-/tmp}/$name.$$.log"
  exit $status
}
ran=$(grep -c '^Executed ' "${TMPDIR:-/tmp}/$name.$$.log" || true)
rm -f "${TMPDIR:-/tmp}/$name.$$.log"
[ "$ran" -eq "${#files[@]}" ] || { echo "$name ran $ran of ${#files[@]} seeds" >&2; exit 1; }
echo "$name: ${#files[@]} seeds, clean"
