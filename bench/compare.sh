#!/usr/bin/env bash
# Times Lockvane's two roads side by side with its peers, on the same data in one run, and prints
# each time, the peak memory and the ratios to the peers:
#   7zz a -tzip -mem=AES256               / 7zz x
#   tar | pigz -6 | openssl enc -aes-256-cbc -pbkdf2   / openssl -d | pigz -d | tar x
#   zip -r | openssl enc -aes-256-cbc -pbkdf2          / openssl -d, unzip
# Lockvane runs through the headless driver lvbench (build it in Release), with every cipher,
# compressed and stored. The data set is lvbench's (about 440 MB in 12,000 files, fixed seed).
#
#   bench/compare.sh [WORKDIR]       LVBENCH=path/to/lvbench to choose the driver
#   QUICK=1 bench/compare.sh DIR     the small data set, AES only (a smoke run)
#   ON_DISK=1 bench/compare.sh DIR   Lockvane's work files in the cache folder on the disk
#
# A desktop session has a RAM-backed runtime folder ($XDG_RUNTIME_DIR), where Lockvane keeps its
# work files when they fit. A shell outside a session has none, and they go to the cache folder on
# the disk; unless ON_DISK is set, such a run gets a runtime folder of its own, as a session would.
#
# Peak memory is GNU time's maximum resident set size: for a pipeline, its largest process.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
lvbench=${LVBENCH:-$here/../build/bench/lvbench}
work=${1:-$(mktemp -d)}
key="benchmark key"
quick=${QUICK:-}
[ -x "$lvbench" ] || { echo "no lvbench at $lvbench (set LVBENCH)" >&2; exit 2; }
for tool in zip unzip openssl 7zz tar pigz /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 2; }
done

mkdir -p "$work"
work=$(cd "$work" && pwd)
if [ -n "${ON_DISK:-}" ]; then
  unset XDG_RUNTIME_DIR
elif [ -z "${XDG_RUNTIME_DIR:-}" ] && [ -d /dev/shm ]; then
  XDG_RUNTIME_DIR=$(mktemp -d /dev/shm/lvbench-runtime.XXXXXX)
  export XDG_RUNTIME_DIR
  trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
fi
workfiles="the cache folder (disk)"
[ -n "${XDG_RUNTIME_DIR:-}" ] && workfiles="the runtime folder $XDG_RUNTIME_DIR ($(stat -f -c %T "$XDG_RUNTIME_DIR"))"
data="$work/data"
if [ ! -d "$data" ]; then
  "$lvbench" dataset ${quick:+--quick} "$data" >/dev/null
fi
out="$work/out"
rm -rf "$out"
mkdir -p "$out"

# run NAME COMMAND...: runs the command under GNU time, records seconds and peak KB in
# $out/NAME.time, and fails loudly when the command fails.
run() {
  local name=$1
  shift
  if ! /usr/bin/time -f "%e %M" -o "$out/$name.time" "$@" >"$out/$name.log" 2>&1; then
    echo "FAILED: $name (see $out/$name.log)" >&2
    exit 1
  fi
}
seconds() { cut -d' ' -f1 "$out/$1.time"; }
peak_mib() { awk '{ printf "%.0f", $2 / 1024 }' "$out/$1.time"; }
size_of() { stat -c %s "$1"; }
fresh() { rm -rf "$1"; mkdir -p "$1"; }

# Every byte back: the decrypted tree equals the data set.
check_tree() {
  if ! diff -r -q "$data" "$1" >/dev/null; then
    echo "FAILED: $2 did not give every byte back" >&2
    exit 1
  fi
}

ciphers="AES Blowfish Serpent"
[ -n "$quick" ] && ciphers="AES"

# --- Lockvane ---
for cipher in $ciphers; do
  for mode in compressed stored; do
    name="lv-$cipher-$mode"
    store=""; [ "$mode" = stored ] && store="--store"
    run "$name-enc" "$lvbench" encrypt --cipher "$cipher" $store --key "$key" "$out/$name.cdx" "$data"
    fresh "$out/$name.d"
    run "$name-dec" "$lvbench" decrypt --key "$key" "$out/$name.cdx" "$out/$name.d"
    check_tree "$out/$name.d/DecryptedFiles/data" "$name"
    rm -rf "$out/$name.d"
  done
done

# --- peers ---
# peer NAME ENCRYPT DECRYPT: each a shell script run with $1 the work folder, $2 the key, $3 the
# folder of the outputs and $4 the folder to decrypt into.
peer() {
  local name=$1
  fresh "$out/$name.d"
  run "$name-enc" sh -c "$2" sh "$work" "$key" "$out" "$out/$name.d"
  run "$name-dec" sh -c "$3" sh "$work" "$key" "$out" "$out/$name.d"
  check_tree "$out/$name.d/data" "$name"
  rm -rf "$out/$name.d"
}
peer 7zz 'cd "$1" && 7zz a -tzip -mem=AES256 -p"$2" "$3/7zz.zip" data' \
  '7zz x -p"$2" -o"$4" "$3/7zz.zip"'
peer pigz 'cd "$1" && tar cf - data | pigz -6 | openssl enc -aes-256-cbc -pbkdf2 -pass pass:"$2" -out "$3/pigz.bin"' \
  'openssl enc -d -aes-256-cbc -pbkdf2 -pass pass:"$2" -in "$3/pigz.bin" | pigz -d | tar xf - -C "$4"'
peer zip 'cd "$1" && zip -qr - data | openssl enc -aes-256-cbc -pbkdf2 -pass pass:"$2" -out "$3/zip.bin"' \
  'openssl enc -d -aes-256-cbc -pbkdf2 -pass pass:"$2" -in "$3/zip.bin" -out "$3/zip.zip" && unzip -q "$3/zip.zip" -d "$4" && rm "$3/zip.zip"'

# --- report ---
input_mb=$(du -sb "$data" | awk '{ printf "%.1f", $1 / 1e6 }')
files=$(find "$data" -type f | wc -l)
echo "input: $input_mb MB in $files files, $(nproc) cores; Lockvane's work files in $workfiles"
printf '%-30s %9s %9s %9s %9s %11s\n' "" "enc s" "enc MiB" "dec s" "dec MiB" "output MB"
row() {
  awk -v n="$1" -v te="$(seconds "$2-enc")" -v me="$(peak_mib "$2-enc")" -v td="$(seconds "$2-dec")" \
      -v md="$(peak_mib "$2-dec")" -v sz="$(size_of "$3")" \
      'BEGIN { printf "%-30s %9.2f %9d %9.2f %9d %11.1f\n", n, te, me, td, md, sz / 1e6 }'
}
for cipher in $ciphers; do
  for mode in compressed stored; do
    row "Lockvane $cipher $mode" "lv-$cipher-$mode" "$out/lv-$cipher-$mode.cdx"
  done
done
row "7zz -tzip -mem=AES256" 7zz "$out/7zz.zip"
row "tar | pigz -6 | openssl" pigz "$out/pigz.bin"
row "zip -r | openssl" zip "$out/zip.bin"

ratio() { awk -v a="$(seconds "$1")" -v b="$(seconds "$2")" 'BEGIN { printf "%.2f", a / b }'; }
echo
echo "Lockvane AES compressed against its peers (time ratios; targets: at most 0.25 x 7zz, 0.8 x pigz):"
for side in enc dec; do
  printf '  %s: %s x 7zz, %s x pigz pipeline, %s x zip|openssl\n' "$side" \
    "$(ratio lv-AES-compressed-$side 7zz-$side)" "$(ratio lv-AES-compressed-$side pigz-$side)" \
    "$(ratio lv-AES-compressed-$side zip-$side)"
done
awk -v a="$(size_of "$out/lv-AES-compressed.cdx")" -v b="$(size_of "$out/zip.bin")" \
  'BEGIN { printf "  output: %.4f x zip -6 (through openssl; target at most 1.01)\n", a / b }'
awk -v m="$(peak_mib lv-AES-compressed-enc)" -v n="$(peak_mib lv-AES-compressed-dec)" \
  'BEGIN { printf "  peak memory: %d MiB encrypting, %d MiB decrypting (target under 350)\n", m, n }'
rm -rf "$out"
