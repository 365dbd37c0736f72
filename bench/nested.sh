#!/usr/bin/env bash
# Times the two roads on a tree of deeply nested folders and prints each job's peak memory beside
# the size of the archive's central directory: extraction must stay within a small multiple of
# it (and under 350 MiB) whatever the depth, and must not run into the usual limit of 1,024 open
# files.
#
#   bench/nested.sh [WORKDIR]        LVBENCH=path/to/lvbench, LVZIP=path/to/lvzip to choose the drivers
#   DEPTH=10000 bench/nested.sh DIR  another depth (4,000 folders by default)
#
# The tree is DEPTH folders "d", one inside the other, with a file at the bottom; its paths are
# longer than the kernel takes (tar and diff stop with "File name too long"), so it runs Lockvane
# alone: lvbench (the program's roads) and, where it is built, lvzip extract (the zip library's
# extraction on its own). Peak memory is GNU time's maximum resident set size.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
lvbench=${LVBENCH:-$here/../build/bench/lvbench}
lvzip=${LVZIP:-$here/../build/tests/tools/lvzip}
work=${1:-$(mktemp -d)}
depth=${DEPTH:-4000}
key="benchmark key"
[ -x "$lvbench" ] || { echo "no lvbench at $lvbench (set LVBENCH)" >&2; exit 2; }
for tool in python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 2; }
done

mkdir -p "$work"
work=$(cd "$work" && pwd)
# Work files in a RAM-backed runtime folder, as in a desktop session (see compare.sh).
if [ -z "${XDG_RUNTIME_DIR:-}" ] && [ -d /dev/shm ]; then
  XDG_RUNTIME_DIR=$(mktemp -d /dev/shm/lvbench-runtime.XXXXXX)
  export XDG_RUNTIME_DIR
  trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
fi
out="$work/nested-out"
data="$work/nested-$depth/data"

# tree make|check|remove FOLDER: the chain of folders, walked one descriptor at a time.
tree() {
  python3 - "$1" "$2" "$depth" <<'PY'
import os, sys
what, top, depth = sys.argv[1], sys.argv[2], int(sys.argv[3])
if what == 'make':
    os.makedirs(top)
fd = os.open(top, os.O_RDONLY | os.O_DIRECTORY)
for level in range(depth):
    if what == 'make':
        os.mkdir('d', dir_fd=fd)
    try:
        below = os.open('d', os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
    except OSError as e:
        sys.exit('%s: level %d of %d: %s' % (top, level + 1, depth, e.strerror))
    os.close(fd)
    fd = below
if what == 'make':
    f = os.open('bottom.txt', os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd)
    os.write(f, b'the bottom of the tree\n')
    os.close(f)
elif what == 'check':
    f = os.open('bottom.txt', os.O_RDONLY, dir_fd=fd)
    if os.read(f, 100) != b'the bottom of the tree\n':
        sys.exit(top + ': the file at the bottom did not come back')
PY
}
# Removes a tree of any depth: its folders are moved up one level at a time.
remove() {
  python3 - "$1" <<'PY'
import os, shutil, sys
top = sys.argv[1]
if not os.path.lexists(top):
    sys.exit(0)
n = 0
while True:
    moved = False
    for name in os.listdir(top):
        inner = os.path.join(top, name)
        if not os.path.isdir(inner) or os.path.islink(inner):
            os.unlink(inner)
            continue
        for child in os.listdir(inner):
            n += 1
            os.rename(os.path.join(inner, child), os.path.join(top, '.up-%d' % n))
            moved = True
        os.rmdir(inner)
    if not moved:
        break
os.rmdir(top)
PY
}

# run NAME COMMAND...: under GNU time and the usual open-file limit; seconds and peak KB in
# $out/NAME.time, and a loud failure when the command fails.
run() {
  local name=$1
  shift
  sync
  if ! (ulimit -n 1024 && exec /usr/bin/time -f "%e %M" -o "$out/$name.time" "$@") >"$out/$name.log" 2>&1; then
    echo "FAILED: $name (see $out/$name.log)" >&2
    exit 1
  fi
}
row() { awk -v n="$1" '{ printf "%-30s %9.2f %9.0f\n", n, $1, $2 / 1024 }' "$out/$2.time"; }

[ -d "$data" ] || tree make "$data"
remove "$out"
mkdir -p "$out"

run encrypt "$lvbench" encrypt --cipher AES --key "$key" "$out/nested.cdx" "$data"
mkdir "$out/dec"
run decrypt "$lvbench" decrypt --key "$key" "$out/nested.cdx" "$out/dec"
tree check "$out/dec/DecryptedFiles/data"
if [ -x "$lvzip" ]; then
  run lvzip-add "$lvzip" add "$out/nested.zip" "$data"
  run lvzip-extract "$lvzip" extract "$out/nested.zip" "$out/zip"
  tree check "$out/zip/data"
fi

# The central directory's size, from the end record of lvzip's archive (the same names as the
# encrypted file's), or estimated from the names: 46 bytes and "d/" per level for each entry.
directory=$(python3 - "$out/nested.zip" "$depth" <<'PY'
import os, struct, sys
path, depth = sys.argv[1], int(sys.argv[2])
if os.path.exists(path):
    with open(path, 'rb') as f:
        f.seek(-22, 2)
        print(struct.unpack('<IHHHHIIH', f.read(22))[5])
else:
    print(sum(46 + 2 * (level + 1) + len('data/') for level in range(depth)))
PY
)

echo "nested: $depth folders deep, $(nproc) cores; central directory $(awk -v b="$directory" 'BEGIN { printf "%.1f MiB", b / 1048576 }')"
printf '%-30s %9s %9s\n' "" "s" "peak MiB"
row "lvbench encrypt" encrypt
row "lvbench decrypt" decrypt
if [ -x "$lvzip" ]; then
  row "lvzip add" lvzip-add
  row "lvzip extract" lvzip-extract
fi
awk -v b="$directory" '{ printf "  peak memory decrypting: %.0f MiB, %.1f x the central directory (target under 350)\n", $2 / 1024, $2 * 1024 / b }' "$out/decrypt.time"
remove "$out"
