#!/usr/bin/env python3
"""Makes the zip archives the zip wrapper tests read, at test run time.

Usage: make_archives.py <output folder>

Archives made by the real `zip` command (Info-ZIP):
  zipcmd.zip      stored (.jpg) and deflated files, folders (one empty), a read-only
                  file, an executable, the "UT" extra field with known times
  encrypted.zip   one entry encrypted with the password "secret"
Archives made with Python's zipfile:
  py_mixed.zip    stored and deflated entries, a folder entry, a Unix read-only entry,
                  an MS-DOS read-only hidden entry, an executable, a crafted "UT"
                  field with all three times, a UTF-8 (Korean) name, a known DOS time
  py_names.zip    hostile names: "../", absolute, drive letters, ".." steps
  py_23.zip       23 entries
  oddextra.zip    local extra fields with overlong and short blocks
  truncated.zip   py_mixed.zip cut in half (no central directory)
  badlocal.zip    a local header whose method disagrees with the central directory
  badextra.zip    a local extra field length that runs past the end of the archive
  baddata.zip     deflated data overwritten with garbage
  badcrc.zip      a stored entry whose data no longer matches its CRC
  bomb_liar.zip   a deflated entry of 4 MiB that declares 1000 bytes (both headers)
  three_mib.zip   three deflated entries of 1 MiB each (a.bin, b.bin, c.bin)
Also writes src/ (the tree zipped by the zip command) for comparison.
"""
import os
import shutil
import struct
import subprocess
import sys
import zipfile

# Known times (seconds since 1970, UTC).
MTIME = 1600000000
ATIME = 1600000500
UT_MTIME = 1500000000
UT_ATIME = 1500000100
UT_CTIME = 1400000000


def content(name, size=3000):
    """Deterministic, compressible text."""
    line = ("%s: the quick brown fox jumps over the lazy dog\n" % name).encode()
    return (line * (size // len(line) + 1))[:size]


def make_zipcmd(out):
    src = os.path.join(out, "src")
    if os.path.exists(src):
        shutil.rmtree(src)
    os.makedirs(os.path.join(src, "sub", "deeper"))
    os.makedirs(os.path.join(src, "empty"))
    files = {
        "hello.txt": content("hello"),
        "pic.jpg": bytes((i * 37 + 11) % 256 for i in range(5000)),
        "sub/readonly.txt": content("readonly", 500),
        "sub/deeper/data.bin": bytes(range(256)) * 40,
        "tool.sh": b"#!/bin/sh\necho tool\n",
    }
    for name, data in files.items():
        with open(os.path.join(src, name), "wb") as f:
            f.write(data)
    os.chmod(os.path.join(src, "tool.sh"), 0o755)
    os.chmod(os.path.join(src, "sub/readonly.txt"), 0o444)
    for root, dirs, names in os.walk(src):
        for n in names + dirs:
            os.utime(os.path.join(root, n), (ATIME, MTIME))
    target = os.path.join(out, "zipcmd.zip")
    if os.path.exists(target):
        os.remove(target)
    # -n .jpg stores the picture; the rest is deflated. The UT field is on by default.
    subprocess.run(["zip", "-q", "-r", "-n", ".jpg", target, "."], cwd=src, check=True)
    enc = os.path.join(out, "encrypted.zip")
    if os.path.exists(enc):
        os.remove(enc)
    subprocess.run(["zip", "-q", "-P", "secret", enc, "hello.txt"], cwd=src, check=True)


def info(name, compress=zipfile.ZIP_DEFLATED, mode=0o644, date=(2020, 5, 17, 13, 45, 30)):
    zi = zipfile.ZipInfo(name, date_time=date)
    zi.compress_type = compress
    zi.create_system = 3
    zi.external_attr = (mode & 0xFFFF) << 16
    return zi


def make_py_mixed(out):
    path = os.path.join(out, "py_mixed.zip")
    with zipfile.ZipFile(path, "w") as z:
        z.writestr(info("stored.txt", zipfile.ZIP_STORED), content("stored", 1000))
        z.writestr(info("deflated.txt"), content("deflated", 20000))
        d = info("folder/", zipfile.ZIP_STORED, 0o40755)
        d.external_attr |= 0x10
        z.writestr(d, b"")
        z.writestr(info("folder/inner.txt"), content("inner", 100))
        z.writestr(info("readonly.txt", mode=0o100444), b"read only\n")
        dos = info("dos_ro.txt")
        dos.create_system = 0
        dos.external_attr = 0x01 | 0x02 | 0x20
        z.writestr(dos, b"dos read-only hidden\n")
        z.writestr(info("run.sh", mode=0o100755), b"#!/bin/sh\necho run\n")
        ut = info("ut.txt")
        ut.extra = struct.pack("<HHBIII", 0x5455, 13, 7, UT_MTIME, UT_ATIME, UT_CTIME)
        z.writestr(ut, b"with UT\n")
        z.writestr(info("스킨/배경.txt"), "한글 이름\n".encode())
        z.writestr(info("dostime.txt", date=(2020, 5, 17, 13, 45, 30)), b"dos time\n")
        nomode = info("nomode.txt")
        nomode.external_attr = 0x20  # the high (Unix) half empty; zipfile keeps a non-zero value
        z.writestr(nomode, b"no unix mode stored\n")
    return path


def make_py_names(out):
    names = [
        "../evil.txt",
        "/abs/path.txt",
        "C:\\x\\..\\y.txt",
        "a/b/../c.txt",
        "a/../../c.txt",
        "..\\win.txt",
        "x/..",
        "ok/../../../../tmp/slip.txt",
        "//double/slash.txt",
        "D:/drive.txt",
    ]
    with zipfile.ZipFile(os.path.join(out, "py_names.zip"), "w") as z:
        for n in names:
            z.writestr(info(n), ("entry %s\n" % n).encode())


def make_py_23(out):
    with zipfile.ZipFile(os.path.join(out, "py_23.zip"), "w") as z:
        for i in range(23):
            z.writestr(info("f%02d.txt" % i), ("file %d\n" % i).encode())


def single(out, name, compress, data):
    path = os.path.join(out, name)
    with zipfile.ZipFile(path, "w") as z:
        z.writestr(info("entry.txt", compress), data)
    with open(path, "rb") as f:
        return bytearray(f.read())


def write(out, name, data):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)


def make_odd_extra(out):
    """Local extra fields the scan must survive (found by fuzzing)."""
    with zipfile.ZipFile(os.path.join(out, "oddextra.zip"), "w") as z:
        # A block whose size runs past the end of the field.
        e = info("overshoot.txt")
        e.extra = struct.pack("<HH", 0x0102, 0x00FF) + b"abc"
        z.writestr(e, b"1\n")
        # A "UT" block whose flags promise three times but that holds one.
        e = info("short_ut.txt")
        e.extra = struct.pack("<HHBI", 0x5455, 5, 7, UT_MTIME)
        z.writestr(e, b"2\n")
        # "UT" after another block.
        e = info("second_ut.txt")
        e.extra = struct.pack("<HHI", 0xCAFE, 4, 0) + struct.pack("<HHBI", 0x5455, 5, 1, UT_MTIME)
        z.writestr(e, b"3\n")


def make_broken(out, mixed):
    with open(mixed, "rb") as f:
        whole = f.read()
    write(out, "truncated.zip", whole[: len(whole) // 2])

    data = content("broken", 5000)
    b = single(out, "badlocal.zip", zipfile.ZIP_DEFLATED, data)
    assert b[0:4] == b"PK\x03\x04"
    b[8:10] = struct.pack("<H", 0)  # method: stored, the central directory says deflated
    write(out, "badlocal.zip", b)

    b = single(out, "badextra.zip", zipfile.ZIP_STORED, b"small\n")
    b[28:30] = struct.pack("<H", 0xFFFF)  # local extra field length past the end
    write(out, "badextra.zip", b)

    b = single(out, "baddata.zip", zipfile.ZIP_DEFLATED, data)
    name_len, extra_len = struct.unpack("<HH", b[26:30])
    start = 30 + name_len + extra_len
    comp = struct.unpack("<I", b[18:22])[0]
    for i in range(start + 2, start + comp - 2):
        b[i] = 0xFF
    write(out, "baddata.zip", b)

    b = single(out, "badcrc.zip", zipfile.ZIP_STORED, data)
    name_len, extra_len = struct.unpack("<HH", b[26:30])
    b[30 + name_len + extra_len + 10] ^= 0x01
    write(out, "badcrc.zip", b)


def make_bombs(out):
    b = single(out, "bomb_liar.zip", zipfile.ZIP_DEFLATED, bytes(4 << 20))
    b[22:26] = struct.pack("<I", 1000)  # local header: uncompressed size
    central = b.index(b"PK\x01\x02")
    b[central + 24 : central + 28] = struct.pack("<I", 1000)
    write(out, "bomb_liar.zip", b)
    with zipfile.ZipFile(os.path.join(out, "three_mib.zip"), "w") as z:
        for name in ("a.bin", "b.bin", "c.bin"):
            z.writestr(info(name), bytes(1 << 20))


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    make_zipcmd(out)
    mixed = make_py_mixed(out)
    make_py_names(out)
    make_py_23(out)
    make_odd_extra(out)
    make_broken(out, mixed)
    make_bombs(out)
    print("ok")


if __name__ == "__main__":
    main()
