#!/usr/bin/env bash
# Numbers a 50 MB, 1.5-million-line NC program with ferobrixlan-cli number and,
# as the peer in the same run, with an awk script that writes the same N words;
# checks that both give the same bytes and prints the times with the ratio.
# Then, when the window program is built, opens the same program in the editor
# window against a QPlainTextEdit (bench/editor_open_bench).
#
#   bench/number.sh [BUILD_DIR]      (default: build/ of this checkout)
set -euo pipefail
build=${1:-$(cd "$(dirname "$0")/.." && pwd)/build}
cli=$build/tools/ferobrixlan-cli
[ -x "$cli" ] || { echo "number.sh: $cli not built" >&2; exit 2; }
awk_bin=$(command -v mawk || command -v awk)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A mould program: tool-path moves with comments, blank lines, block-delete
# lines and rapid moves between pockets, CR LF line ends.
LC_ALL=C "$awk_bin" 'BEGIN {
    n = 1500000
    printf "%%\r\nO1234 (MOULD CORE ROUGHING)\r\n"
    for (i = 0; i < n - 4; i++) {
        r = i % 500
        if (r == 0) printf "(POCKET %d)\r\n", i / 500
        else if (r == 1) printf "\r\n"
        else if (r == 2) printf "/M01\r\n"
        else if (r == 3) printf "G00 Z5. M08\r\n"
        else if (r % 3 == 0) printf "G01 X%.3f Y%.3f Z-%.3f F1200\r\n", (i % 9973) / 7.0, (i % 7919) / 9.0 - 300, (i % 97) / 31.0
        else printf "G01 X%.3f Y%.3f Z-%.3f\r\n", (i % 9973) / 7.0, (i % 7919) / 9.0 - 300, (i % 97) / 31.0
    }
    printf "M30\r\n%%\r\n"
}' > "$work/mould.nc"
size=$(stat -c %s "$work/mould.nc")
lines=$(wc -l < "$work/mould.nc")

# The peer: the same N words (interval 10) with awk. The CR stays with its
# line; empty lines, lines of spaces and lines starting with "/" keep no number.
cat > "$work/number.awk" <<'AWK'
{
    t = $0; sub(/\r$/, "", t)
    if (t ~ /^ *$/ || substr($0, 1, 1) == "/") { print; next }
    print "N " n " " $0
    n += 10; if (n > 9999) n = 0
}
AWK

seconds() { date +%s.%N; }
t0=$(seconds)
"$cli" number "$work/mould.nc" --interval 10 -o "$work/cli.out"
t1=$(seconds)
LC_ALL=C "$awk_bin" -v n=0 -f "$work/number.awk" "$work/mould.nc" > "$work/awk.out"
t2=$(seconds)
cmp -s "$work/cli.out" "$work/awk.out" || { echo "number.sh: ferobrixlan-cli and awk disagree" >&2; exit 1; }

echo "program: $((size / 1000000)) MB ($size bytes), $lines lines; $(nproc) cores, $(LC_ALL=C lscpu | sed -n 's/^Model name: *//p')"
awk -v a="$t0" -v b="$t1" -v c="$t2" -v peer="$(basename "$awk_bin")" 'BEGIN {
    cli = b - a; ref = c - b
    printf "%-42s %10.3f s   %-14s %10.3f s   ratio %.2f (same output: yes)\n", \
        "ferobrixlan-cli number, whole program", cli, peer, ref, ref / cli
}'

bench=$build/bench/editor_open_bench
if [ -x "$bench" ]; then
    QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$bench" "$work/mould.nc" 2> >(grep -v -e propagateSizeHints -e XDG_RUNTIME_DIR >&2)
fi
