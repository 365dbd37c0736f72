#!/usr/bin/env bash
# lvbench decrypt, given a link to an encrypted file, decrypts the file the link names.
set -euo pipefail
lvbench=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/in" "$work/out"
printf 'secret\n' > "$work/in/note.txt"
"$lvbench" encrypt --cipher AES --key k "$work/a.cdx" "$work/in/note.txt"
ln -s a.cdx "$work/link.cdx"
"$lvbench" decrypt --key k "$work/link.cdx" "$work/out"
cmp "$work/in/note.txt" "$work/out/DecryptedFiles/note.txt"
