#!/usr/bin/env python3
"""Peak memory of decrypting files whose bodies use the smallest, the usual and the largest segment
size a reader accepts (doc/format.md), written by the writer made from that page alone.

    bench/segment_memory.py [WORKDIR]        LVBENCH=path/to/lvbench to choose the driver
    SIZE_MB=700 bench/segment_memory.py      a smaller archive (default 1300 MB)

Each file's archive holds one stored entry of noise: SIZE_MB for the usual and the largest size
(enough for every core to have segments of 64 MiB in flight), 64 MB for the smallest (which only
takes longer). Prints each decryption's peak resident memory and time; the exit status is 1 when
one goes over 350 MiB, the bound of every job, or does not give the entry back.
"""

import hashlib
import os
import random
import shutil
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "tools"))
import format_doc_check as page  # noqa: E402

BOUND_MIB = 350
MIB = 1 << 20


def write_archive(path, megabytes, seed):
    """A zip of one stored entry of noise; the SHA-256 of the entry."""
    rng, digest = random.Random(seed), hashlib.sha256()
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as z, z.open("noise.bin", "w") as entry:
        for _ in range(megabytes):
            block = rng.randbytes(MIB)
            digest.update(block)
            entry.write(block)
    return digest.hexdigest()


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(MIB), b""):
            digest.update(block)
    return digest.hexdigest()


def decrypt(lvbench, encrypted, dest, env):
    """Peak resident memory in MiB, seconds, exit status. GNU time measures: a child forked from
    this (large) process would count its pages until it runs lvbench."""
    report = os.path.join(dest, "..", "time.txt")
    command = ["/usr/bin/time", "-o", report, "-f", "%M %e", lvbench, "decrypt", "--key", page.KEY.decode("utf-8"),
               encrypted, dest]
    status = subprocess.run(command, stdout=subprocess.DEVNULL, env=env).returncode
    with open(report) as f:
        kib, seconds = f.read().split()[-2:]
    os.remove(report)
    return int(kib) / 1024, float(seconds), status


def main():
    lvbench = os.environ.get("LVBENCH", os.path.join(HERE, "..", "build", "bench", "lvbench"))
    if not os.access(lvbench, os.X_OK) or not os.access("/usr/bin/time", os.X_OK):
        print("needs lvbench at %s (set LVBENCH) and GNU time" % lvbench, file=sys.stderr)
        return 2
    work = sys.argv[1] if len(sys.argv) > 1 else tempfile.mkdtemp(prefix="segment-memory-")
    os.makedirs(work, exist_ok=True)
    size = int(os.environ.get("SIZE_MB", "1300"))
    env = page.private_folders(work)
    failed = False
    for segment, megabytes in ((4096, 64), (MIB, size), (64 * MIB, size)):
        archive, encrypted = os.path.join(work, "plain.zip"), os.path.join(work, "segments.cdx")
        dest = os.path.join(work, "out")
        expected = write_archive(archive, megabytes, segment)
        with open(archive, "rb") as source, open(encrypted, "wb") as sink:
            page.encrypt_into(sink, source, os.path.getsize(archive), page.KEY, segment)
        os.remove(archive)
        shutil.rmtree(dest, ignore_errors=True)
        os.makedirs(dest)
        peak, seconds, status = decrypt(lvbench, encrypted, dest, env)
        back = os.path.join(dest, "DecryptedFiles", "noise.bin")
        whole = status == 0 and os.path.exists(back) and sha256_of(back) == expected
        verdict = "ok" if whole and peak <= BOUND_MIB else "OVER THE BOUND" if whole else "NOT DECRYPTED"
        print("segments of %8d bytes, %5d MB: peak %4.0f MiB, %5.1f s  %s" % (segment, megabytes, peak, seconds,
                                                                             verdict))
        failed |= verdict != "ok"
        os.remove(encrypted)
        shutil.rmtree(dest, ignore_errors=True)
    if len(sys.argv) <= 1:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
