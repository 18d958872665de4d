#!/usr/bin/env bash
# Applies one processing string ("#" becomes "@") to a 50 MB program with
# bench/apply_rule, and sed making the same one-character substitution on the
# same file in the same run; checks that both give the same bytes and prints
# the times and their ratio. Goal: no slower than sed.
#
#   bench/rules.sh [BUILD_DIR]
set -euo pipefail
build=${1:-$(cd "$(dirname "$0")/.." && pwd)/build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work/program.nc" <<'PY'
import sys
with open(sys.argv[1], "w", newline="") as f:
    f.write("%\r\nO3001\r\n")
    n, i = 0, 0
    while n < 50_000_000:
        line = "N%d G01 X%.3f Y%.3f #%d=%d\r\n" % (i, i * 0.013 % 300, i * 0.021 % 200, 100 + i % 9, i % 77)
        f.write(line)
        n += len(line)
        i += 1
    f.write("M30\r\n%\r\n")
PY

best() {  # best wall time in seconds of three runs of a shell command
    python3 - "$1" <<'PY'
import subprocess, sys, time
best = None
for _ in range(3):
    t = time.perf_counter()
    subprocess.run(sys.argv[1], shell=True, check=True)
    t = time.perf_counter() - t
    best = t if best is None else min(best, t)
print("%.4f" % best)
PY
}

ours=$(best "'$build/bench/apply_rule' '[35][0][64]' '$work/program.nc' '$work/ours.nc'")
peer=$(best "LC_ALL=C sed 's/#/@/g' '$work/program.nc' > '$work/sed.nc'")
cmp -s "$work/ours.nc" "$work/sed.nc" || { echo "rules: outputs differ" >&2; exit 1; }
python3 - "$ours" "$peer" <<'PY'
import sys
ours, peer = map(float, sys.argv[1:])
print("%-44s %8.3f s   %-14s %8.3f s   ratio %.2f   (goal <= 1)" %
      ("processing string on 50 MB (send walk)", ours, "sed s/#/@/g", peer, ours / peer))
PY
