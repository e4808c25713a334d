#!/usr/bin/env python3
"""make-setup.py STUB FOLDER OUTPUT: one program file that carries FOLDER (the installer bundle) behind the
stub; the layout is described at the top of setupstub.cpp."""
import hashlib
import os
import struct
import sys

MAGIC = b"SNLSETUP"


def entries(folder):
    for root, dirs, files in os.walk(folder):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(root, name)
            yield os.path.relpath(path, folder).replace(os.sep, "/"), path


def main(stub, folder, output):
    files = [(name.encode("utf-8"), path, os.path.getsize(path)) for name, path in entries(folder)]
    if not files:
        sys.exit("make-setup.py: %s holds no files" % folder)
    length = sum(4 + len(name) + 8 + size for name, _, size in files)
    with open(stub, "rb") as f:
        head = f.read()
    tmp = output + ".tmp"
    digest = hashlib.sha256()
    with open(tmp, "wb") as out:
        out.write(head)
        # The whole file ends on a multiple of 8, so a signature table goes right behind the trailer.
        out.write(b"\0" * (-(len(head) + length + 48) % 8))
        for name, path, size in files:
            header = struct.pack("<I", len(name)) + name + struct.pack("<Q", size)
            out.write(header)
            digest.update(header)
            with open(path, "rb") as f:
                for chunk in iter(lambda: f.read(1 << 20), b""):
                    out.write(chunk)
                    digest.update(chunk)
        out.write(digest.digest() + struct.pack("<Q", length) + MAGIC)
    os.replace(tmp, output)


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    main(*sys.argv[1:])
