#!/usr/bin/env python3
"""An AES reader and writer of Lockvane's encrypted files, written from doc/format.md alone.

    format_doc_check.py LVBENCH WORKDIR

Decrypts a file that lvbench wrote and compares what comes out with the items; then writes a file
of its own that lvbench must decrypt to the same items, and files that the page says a reader
refuses, for which lvbench must give the page's texts. Exit status 0 when all hold.
"""

import ctypes
import hashlib
import hmac
import io
import os
import shutil
import subprocess
import sys
import zipfile

from cryptography.hazmat.primitives import hashes, padding
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
from cryptography.hazmat.primitives.kdf.hkdf import HKDF

KEY = "Fünf Äpfel, one key".encode("utf-8")
SEGMENT = 1048576
AES_ID, KEY_BYTES, BLOCK = 2, 32, 16

_argon2 = ctypes.CDLL("libargon2.so.1")


def argon2id(password, salt, length):
    out = ctypes.create_string_buffer(length)
    rc = _argon2.argon2id_hash_raw(ctypes.c_uint32(3), ctypes.c_uint32(65536), ctypes.c_uint32(1),
                                   password, ctypes.c_size_t(len(password)), salt,
                                   ctypes.c_size_t(len(salt)), out, ctypes.c_size_t(length))
    if rc != 0:
        raise RuntimeError("argon2id failed: %d" % rc)
    return out.raw


def outer_header(digest, version=b"<FileTypeVersion>1</FlileTypeVersion>", cipher=b"<x>2</x>"):
    records = [b"<HEAD>__LVEFCDX__VER__</HEAD>", version, cipher, digest]
    return b"".join(bytes([len(r)]) + r for r in records)


def key_digest(key):
    return hashlib.sha512(argon2id(key, b"Lockvane key digest v1", 64)).digest()


def segment_keys(master, salt, index):
    k = HKDF(algorithm=hashes.SHA512(), length=KEY_BYTES + 64 + BLOCK, salt=salt,
             info=b"Lockvane body segment" + index.to_bytes(8, "big")).derive(master)
    return k[:KEY_BYTES], k[KEY_BYTES:KEY_BYTES + 64], k[KEY_BYTES + 64:]


def tag(mac_key, body_header, outer, index, last, ciphertext):
    data = body_header + outer + index.to_bytes(8, "big") + bytes([1 if last else 0]) + ciphertext
    return hmac.new(mac_key, data, hashlib.sha512).digest()[:32]


def decrypt(data, key):
    # The outer header: four records of a length byte and that many bytes.
    pos, records = 0, []
    for _ in range(4):
        n = data[pos]
        records.append(data[pos + 1:pos + 1 + n])
        pos += 1 + n
    if records[0] != b"<HEAD>__LVEFCDX__VER__</HEAD>" or records[2] != b"<x>2</x>":
        raise ValueError("not an AES file of Lockvane")
    if records[3] != key_digest(key):
        raise ValueError("wrong key")
    outer, body = data[:pos], data[pos:]
    if body[:4] != b"LVB2" or body[4] != AES_ID:
        raise ValueError("not a body of format 2")
    header, salt, size = body[:25], body[5:21], int.from_bytes(body[21:25], "big")
    master = argon2id(key, salt, 64)
    rest, index, plain = body[25:], 0, []
    while True:
        last = len(rest) <= size + BLOCK + 32
        stored = rest if last else rest[:size + 32]
        rest = b"" if last else rest[size + 32:]
        ciphertext, t = stored[:-32], stored[-32:]
        ck, mk, iv = segment_keys(master, salt, index)
        if not hmac.compare_digest(tag(mk, header, outer, index, last, ciphertext), t):
            raise ValueError("The encrypted data is damaged.")
        d = Cipher(algorithms.AES(ck), modes.CBC(iv)).decryptor()
        p = d.update(ciphertext) + d.finalize()
        if last:
            u = padding.PKCS7(BLOCK * 8).unpadder()
            p = u.update(p) + u.finalize()
        plain.append(p)
        if last:
            return b"".join(plain)
        index += 1


def encrypt_into(sink, source, length, key, segment=SEGMENT, outer=None):
    """Writes the file for the `length` bytes that the binary file `source` holds into `sink`."""
    outer = outer or outer_header(key_digest(key))
    salt = os.urandom(16)
    header = b"LVB2" + bytes([AES_ID]) + salt + segment.to_bytes(4, "big")
    master = argon2id(key, salt, 64)
    count = max(1, -(-length // segment))
    sink.write(outer + header)
    for index in range(count):
        last = index == count - 1
        piece = source.read(segment)
        ck, mk, iv = segment_keys(master, salt, index)
        if last:
            p = padding.PKCS7(BLOCK * 8).padder()
            piece = p.update(piece) + p.finalize()
        e = Cipher(algorithms.AES(ck), modes.CBC(iv)).encryptor()
        ciphertext = e.update(piece) + e.finalize()
        sink.write(ciphertext + tag(mk, header, outer, index, last, ciphertext))


def encrypt(plaintext, key, segment=SEGMENT, outer=None):
    out = io.BytesIO()
    encrypt_into(out, io.BytesIO(plaintext), len(plaintext), key, segment, outer)
    return out.getvalue()


def refusals(plaintext):
    """Files that the page says a reader refuses (or reads), with what the program says of each."""
    good = encrypt(plaintext, KEY)
    outer = outer_header(key_digest(KEY))
    body = len(outer)

    def changed(at, value):
        return good[:at] + value + good[at + len(value):]

    other_digest = outer_header(key_digest(b"another key"))
    return [
        # The header goes by its length bytes: another version record is read all the same.
        ("a version record of another length", encrypt(plaintext, KEY, outer=outer_header(
            key_digest(KEY), version=b"<FileTypeVersion>1</FileTypeVersion>")), "Decryption Complete."),
        ("a version of 2", encrypt(plaintext, KEY, outer=outer_header(
            key_digest(KEY), version=b"<FileTypeVersion>2</FlileTypeVersion>")), "produced by a later version"),
        ("another key's digest", other_digest + good[body:], "Incorrect Key."),
        ("an unknown cipher code", changed(72, b"7"), "The file names an unknown cipher."),
        ("a body shorter than its header", good[:body + 10], "The encrypted data is incomplete."),
        ("an unknown magic", changed(body, b"LVB9"), "The encrypted data was not made by this cipher."),
        ("a body of another cipher", changed(body + 4, bytes([3])), "The encrypted data was not made by this cipher."),
        ("segments larger than 64 MiB", encrypt(plaintext, KEY, segment=128 << 20),
         "The encrypted data was not made by this cipher."),
        ("a flipped byte", changed(len(good) - 40, bytes([good[-40] ^ 1])), "The encrypted data is damaged."),
        ("a body cut at a segment boundary", good[:body + 25 + SEGMENT + 32], "The encrypted data is damaged."),
        # Every segment's tag covers the digest: one the segments were not sealed with is damage.
        ("segments sealed with another digest", outer + encrypt(plaintext, KEY, outer=other_digest)[body:],
         "The encrypted data is damaged."),
    ]


def private_folders(work):
    """The environment of an lvbench run whose work files (and records of them) stay in `work`,
    away from other runs on the machine."""
    env = dict(os.environ)
    for name in ("XDG_RUNTIME_DIR", "XDG_CACHE_HOME", "XDG_STATE_HOME"):
        env[name] = os.path.join(work, name.lower())
        os.makedirs(env[name], mode=0o700, exist_ok=True)
    return env


def files_of(root):
    found = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, root)] = f.read()
    return found


def main():
    lvbench, work = sys.argv[1], sys.argv[2]
    shutil.rmtree(work, ignore_errors=True)
    items = os.path.join(work, "Items")
    os.makedirs(os.path.join(items, "sub"))
    with open(os.path.join(items, "prose.txt"), "wb") as f:
        f.write(b"Written by one, read by another.\n" * 40000)  # more than one segment
    with open(os.path.join(items, "sub", "noise.bin"), "wb") as f:
        f.write(os.urandom(1500000))
    expected = {os.path.join("Items", k): v for k, v in files_of(items).items()}
    env = private_folders(work)

    # lvbench writes, this reads.
    written = os.path.join(work, "lvbench.cdx")
    subprocess.run([lvbench, "encrypt", "--cipher", "AES", "--key", KEY.decode("utf-8"), written, items],
                   check=True, stdout=subprocess.DEVNULL, env=env)
    with open(written, "rb") as f:
        archive = zipfile.ZipFile(io.BytesIO(decrypt(f.read(), KEY)))
    got = {n: archive.read(n) for n in archive.namelist() if not n.endswith("/")}
    if got != expected:
        print("The file lvbench wrote does not hold the items:", sorted(got), file=sys.stderr)
        return 1
    try:
        with open(written, "rb") as f:
            damaged = bytearray(f.read())
        damaged[-40] ^= 1
        decrypt(bytes(damaged), KEY)
        print("A damaged file was accepted", file=sys.stderr)
        return 1
    except ValueError:
        pass

    # This writes, lvbench reads.
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as z:
        for name, data in expected.items():
            z.writestr(name, data)
    ours = os.path.join(work, "python.cdx")
    with open(ours, "wb") as f:
        f.write(encrypt(buffer.getvalue(), KEY))
    dest = os.path.join(work, "out")
    os.makedirs(dest)
    subprocess.run([lvbench, "decrypt", "--key", KEY.decode("utf-8"), ours, dest], check=True,
                   stdout=subprocess.DEVNULL, env=env)
    back = files_of(os.path.join(dest, "DecryptedFiles"))
    if back != expected:
        print("lvbench did not decrypt the file written here:", sorted(back), file=sys.stderr)
        return 1

    # What the page says of headers and of files a reader refuses, and the texts.
    for what, data, text in refusals(buffer.getvalue()):
        changed = os.path.join(work, "changed.cdx")
        with open(changed, "wb") as f:
            f.write(data)
        shutil.rmtree(dest)
        os.makedirs(dest)
        run = subprocess.run([lvbench, "decrypt", "--key", KEY.decode("utf-8"), changed, dest],
                             capture_output=True, text=True, env=env)
        said = run.stdout + run.stderr
        if text not in said or (run.returncode == 0) != (text == "Decryption Complete."):
            print("%s: lvbench said %r (status %d), not %r" % (what, said, run.returncode, text), file=sys.stderr)
            return 1
    shutil.rmtree(work, ignore_errors=True)
    print("Both ways agree.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
