#!/usr/bin/env bash
# Times, on the same data and machine, Lockvane's encryption road against
#   zip -qr - DIR | openssl enc -aes-256-cbc -pbkdf2      and      7zz a -tzip -mem=AES256
# and prints the ratios. Needs a built lvbench (Release recommended), zip, openssl and 7zz.
#
#   bench/compare.sh [WORKDIR]          LVBENCH=path/to/lvbench to choose the driver
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
lvbench=${LVBENCH:-$here/../build/bench/lvbench}
work=${1:-$(mktemp -d)}
key="benchmark key"
[ -x "$lvbench" ] || { echo "no lvbench at $lvbench (set LVBENCH)" >&2; exit 2; }
for tool in zip openssl 7zz; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 2; }
done

mkdir -p "$work"
[ -d "$work/data" ] || "$lvbench" dataset "$work/data" >/dev/null
rm -f "$work/lv.cdx" "$work/lv-stored.cdx" "$work/openssl.bin" "$work/7zz.zip"

# Wall-clock seconds of a command, its output discarded.
seconds() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null
  end=$(date +%s%N)
  awk -v ns=$((end - start)) 'BEGIN { printf "%.2f", ns / 1e9 }'
}
size_mb() { awk -v b="$(stat -c %s "$1")" 'BEGIN { printf "%.1f", b / 1e6 }'; }

input_mb=$(du -sb "$work/data" | awk '{ printf "%.1f", $1 / 1e6 }')
t_lv=$(seconds "$lvbench" encrypt --cipher AES --key "$key" "$work/lv.cdx" "$work/data")
t_lvs=$(seconds "$lvbench" encrypt --cipher AES --store --key "$key" "$work/lv-stored.cdx" "$work/data")
t_ossl=$(seconds sh -c 'cd "$1" && zip -qr - data | openssl enc -aes-256-cbc -pbkdf2 -pass pass:"$2" -out "$1/openssl.bin"' \
  sh "$work" "$key")
t_7z=$(seconds sh -c 'cd "$1" && 7zz a -tzip -mem=AES256 -p"$2" "$1/7zz.zip" data' sh "$work" "$key")

printf 'input: %s MB\n' "$input_mb"
printf '%-34s %8s %10s %10s\n' "tool" "seconds" "MB/s" "output MB"
row() { awk -v n="$1" -v t="$2" -v in_mb="$input_mb" -v out="$3" \
  'BEGIN { printf "%-34s %8.2f %10.1f %10s\n", n, t, in_mb / t, out }'; }
row "lvbench AES compressed" "$t_lv" "$(size_mb "$work/lv.cdx")"
row "lvbench AES stored" "$t_lvs" "$(size_mb "$work/lv-stored.cdx")"
row "zip | openssl enc -aes-256-cbc" "$t_ossl" "$(size_mb "$work/openssl.bin")"
row "7zz a -tzip -mem=AES256" "$t_7z" "$(size_mb "$work/7zz.zip")"
awk -v lv="$t_lv" -v o="$t_ossl" -v z="$t_7z" 'BEGIN {
  printf "ratio lvbench AES compressed / zip|openssl: %.2f (target <= 1)\n", lv / o
  printf "ratio lvbench AES compressed / 7zz:        %.2f\n", lv / z
}'
