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
#   SET=small bench/compare.sh DIR   40,000 small text files instead (about 120 MB)
#   SET=mixed bench/compare.sh DIR   one 1.5 GB file: 0.5 GB of noise, then 1 GB of text
#   REPEAT=3 bench/compare.sh DIR    every job that often, in turns; the medians are reported
#                                    (small and mixed: compressed Lockvane and the pigz pipeline only)
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
set_name=${SET:-default}
repeat=${REPEAT:-1}
case "$set_name" in
  default) data="$work/data" ;;
  small | mixed) data="$work/$set_name/data" ;;
  *) echo "unknown SET: $set_name" >&2; exit 2 ;;
esac
if [ ! -d "$data" ]; then
  case "$set_name" in
    default) "$lvbench" dataset ${quick:+--quick} "$data" >/dev/null ;;
    # Fixed seeds: the same files on every run.
    small) python3 - "$data" <<'PY'
import os, random, sys
r = random.Random(21)
words = [''.join(r.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(r.randint(2, 10))) for _ in range(3000)]
for i in range(40000):
    folder = os.path.join(sys.argv[1], 'd%03d' % (i % 400), 'e%02d' % (i % 7))
    os.makedirs(folder, exist_ok=True)
    n = r.randint(100, 6000)
    text = []
    size = 0
    while size < n:
        line = ' '.join(r.choice(words) for _ in range(r.randint(3, 12))) + '\n'
        text.append(line)
        size += len(line)
    with open(os.path.join(folder, 'f%05d.txt' % i), 'w') as f:
        f.write(''.join(text)[:n])
PY
    ;;
    mixed) python3 - "$data" <<'PY'
import os, random, sys
r = random.Random(15)
os.makedirs(sys.argv[1])
words = [''.join(r.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(r.randint(2, 10))) for _ in range(5000)]
with open(os.path.join(sys.argv[1], 'mixed.bin'), 'wb') as f:
    for _ in range(500):
        f.write(r.randbytes(1 << 20))
    written = 0
    while written < 1000 << 20:
        block = ''.join(' '.join(r.choice(words) for _ in range(r.randint(3, 12))) + '\n' for _ in range(20000)).encode()
        f.write(block)
        written += len(block)
PY
    ;;
  esac
fi
out="$work/out"
rm -rf "$out"
mkdir -p "$out"

# run NAME COMMAND...: runs the command under GNU time, once the disk is quiet, records seconds
# and peak KB in $out/NAME.time, and fails loudly when the command fails.
run() {
  local name=$1
  shift
  # Each job starts with nothing left to write back: what an earlier job (or making the data set)
  # left would otherwise land on this one, on Lockvane's final fsync above all.
  sync
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
modes="compressed stored"
[ "$set_name" != default ] && modes="compressed"

# Every run of a job keeps its time as NAME.N.time; NAME.time is then the median's.
median_of() {
  local name=$1
  sort -n "$out/$name".*.time | awk -v n="$repeat" 'NR == int((n + 1) / 2)' >"$out/$name.time"
}

lockvane_round() {
  local r=$1
  for cipher in $ciphers; do
    for mode in $modes; do
      name="lv-$cipher-$mode"
      store=""; [ "$mode" = stored ] && store="--store"
      rm -f "$out/$name.cdx"
      run "$name-enc.$r" "$lvbench" encrypt --cipher "$cipher" $store --key "$key" "$out/$name.cdx" "$data"
      fresh "$out/$name.d"
      run "$name-dec.$r" "$lvbench" decrypt --key "$key" "$out/$name.cdx" "$out/$name.d"
      check_tree "$out/$name.d/DecryptedFiles/data" "$name"
      rm -rf "$out/$name.d"
    done
  done
}

# --- peers ---
# peer NAME ENCRYPT DECRYPT: each a shell script run with $1 the work folder, $2 the key, $3 the
# folder of the outputs and $4 the folder to decrypt into.
peer() {
  local name=$1 r=$2
  fresh "$out/$name.d"
  rm -f "$out/$name.bin" "$out/$name.zip"
  run "$name-enc.$r" sh -c "$3" sh "$(dirname "$data")" "$key" "$out" "$out/$name.d"
  run "$name-dec.$r" sh -c "$4" sh "$(dirname "$data")" "$key" "$out" "$out/$name.d"
  check_tree "$out/$name.d/data" "$name"
  rm -rf "$out/$name.d"
}
peers_round() {
  local r=$1
  if [ "$set_name" = default ]; then
    peer 7zz "$r" 'cd "$1" && 7zz a -tzip -mem=AES256 -p"$2" "$3/7zz.zip" data' \
      '7zz x -p"$2" -o"$4" "$3/7zz.zip"'
  fi
  peer pigz "$r" 'cd "$1" && tar cf - data | pigz -6 | openssl enc -aes-256-cbc -pbkdf2 -pass pass:"$2" -out "$3/pigz.bin"' \
    'openssl enc -d -aes-256-cbc -pbkdf2 -pass pass:"$2" -in "$3/pigz.bin" | pigz -d | tar xf - -C "$4"'
  if [ "$set_name" = default ]; then
    peer zip "$r" 'cd "$1" && zip -qr - data | openssl enc -aes-256-cbc -pbkdf2 -pass pass:"$2" -out "$3/zip.bin"' \
      'openssl enc -d -aes-256-cbc -pbkdf2 -pass pass:"$2" -in "$3/zip.bin" -out "$3/zip.zip" && unzip -q "$3/zip.zip" -d "$4" && rm "$3/zip.zip"'
  fi
}

# Lockvane and its peers in turns, so that a busy moment of the machine falls on both.
for r in $(seq 1 "$repeat"); do
  lockvane_round "$r"
  peers_round "$r"
done
peer_names="pigz"
[ "$set_name" = default ] && peer_names="7zz pigz zip"
for cipher in $ciphers; do
  for mode in $modes; do
    for side in enc dec; do median_of "lv-$cipher-$mode-$side"; done
  done
done
for p in $peer_names; do
  for side in enc dec; do median_of "$p-$side"; done
done

# --- report ---
input_mb=$(du -sb "$data" | awk '{ printf "%.1f", $1 / 1e6 }')
files=$(find "$data" -type f | wc -l)
echo "input ($set_name): $input_mb MB in $files files, $(nproc) cores; Lockvane's work files in $workfiles; medians of $repeat"
printf '%-30s %9s %9s %9s %9s %11s\n' "" "enc s" "enc MiB" "dec s" "dec MiB" "output MB"
row() {
  awk -v n="$1" -v te="$(seconds "$2-enc")" -v me="$(peak_mib "$2-enc")" -v td="$(seconds "$2-dec")" \
      -v md="$(peak_mib "$2-dec")" -v sz="$(size_of "$3")" \
      'BEGIN { printf "%-30s %9.2f %9d %9.2f %9d %11.1f\n", n, te, me, td, md, sz / 1e6 }'
}
for cipher in $ciphers; do
  for mode in $modes; do
    row "Lockvane $cipher $mode" "lv-$cipher-$mode" "$out/lv-$cipher-$mode.cdx"
  done
done
[ "$set_name" = default ] && row "7zz -tzip -mem=AES256" 7zz "$out/7zz.zip"
row "tar | pigz -6 | openssl" pigz "$out/pigz.bin"
[ "$set_name" = default ] && row "zip -r | openssl" zip "$out/zip.bin"

peak_line() {
  awk -v m="$(peak_mib lv-AES-compressed-enc)" -v n="$(peak_mib lv-AES-compressed-dec)" \
    'BEGIN { printf "  peak memory: %d MiB encrypting, %d MiB decrypting (target under 350)\n", m, n }'
}
ratio() { awk -v a="$(seconds "$1")" -v b="$(seconds "$2")" 'BEGIN { printf "%.2f", a / b }'; }
echo
if [ "$set_name" != default ]; then
  echo "Lockvane compressed against the pigz pipeline (time ratios):"
  for cipher in $ciphers; do
    printf '  %s: enc %s x, dec %s x\n' "$cipher" "$(ratio lv-$cipher-compressed-enc pigz-enc)" \
      "$(ratio lv-$cipher-compressed-dec pigz-dec)"
  done
  awk -v a="$(size_of "$out/lv-AES-compressed.cdx")" -v b="$(size_of "$out/pigz.bin")" \
    'BEGIN { printf "  output: %.4f x pigz -6 (through openssl)\n", a / b }'
  peak_line
  rm -rf "$out"
  exit 0
fi
echo "Lockvane AES compressed against its peers (time ratios; targets: at most 0.25 x 7zz, 0.8 x pigz):"
for side in enc dec; do
  printf '  %s: %s x 7zz, %s x pigz pipeline, %s x zip|openssl\n' "$side" \
    "$(ratio lv-AES-compressed-$side 7zz-$side)" "$(ratio lv-AES-compressed-$side pigz-$side)" \
    "$(ratio lv-AES-compressed-$side zip-$side)"
done
awk -v a="$(size_of "$out/lv-AES-compressed.cdx")" -v b="$(size_of "$out/zip.bin")" \
  'BEGIN { printf "  output: %.4f x zip -6 (through openssl; target at most 1.01)\n", a / b }'
peak_line
rm -rf "$out"
