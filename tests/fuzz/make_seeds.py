#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes the unpack fuzzer's seed corpus into OUT_DIR: zips made by Info-ZIP
and by Python, each enciphered into a container as the packer would."""
import os
import random
import shutil
import subprocess
import sys
import tempfile
import warnings
import zipfile

warnings.simplefilter("ignore")  # duplicate names are on purpose

CHUNK = 5120


def encipher(data):
    """The container transform: each 5120-byte chunk mirrored and every byte
    mapped to NOT(rotate-left-3), except an odd last chunk's middle byte."""
    out = bytearray()
    for start in range(0, len(data), CHUNK):
        chunk = bytearray(data[start:start + CHUNK])
        n = len(chunk)
        for i in range(n // 2):
            j = n - 1 - i
            a, c = chunk[i], chunk[j]
            chunk[i] = ~((c << 3) | (c >> 5)) & 0xFF
            chunk[j] = ~((a << 3) | (a >> 5)) & 0xFF
        out += chunk
    return bytes(out)


def py_zip(entries, **kw):
    """entries: (name, data, options) with options 'dir', 'link', 'zip64', 'mode'."""
    path = os.path.join(tempfile.mkdtemp(), "z.zip")
    with zipfile.ZipFile(path, "w", **kw) as z:
        for name, data, opts in entries:
            info = zipfile.ZipInfo(name, (2024, 3, 5, 14, 7, 9))
            info.compress_type = opts.get("compress", kw.get("compression", zipfile.ZIP_STORED))
            if "link" in opts:
                info.create_system = 3
                info.external_attr = 0o120777 << 16
            elif name.endswith("/"):
                info.create_system = 3
                info.external_attr = (0o40755 << 16) | 0x10
            elif "mode" in opts:
                info.create_system = 3
                info.external_attr = opts["mode"] << 16
            with z.open(info, "w", force_zip64=opts.get("zip64", False)) as f:
                f.write(data)
    with open(path, "rb") as f:
        return f.read()


def rename_raw(archive, placeholder, raw):
    """Swaps a name's bytes in place, so it is stored without the UTF-8 flag."""
    assert len(placeholder) == len(raw)
    return archive.replace(placeholder, raw)


def info_zip(tree, args):
    """Runs Info-ZIP zip on a tree made by tree(folder); returns the archive."""
    work = tempfile.mkdtemp()
    src = os.path.join(work, "src")
    os.mkdir(src)
    tree(src)
    out = os.path.join(work, "z.zip")
    subprocess.run(["zip", "-q", "-X"] + args + [out, "."], cwd=src, check=True)
    with open(out, "rb") as f:
        return f.read()


def plain_tree(src):
    os.makedirs(os.path.join(src, "docs/deep/er"))
    for i, name in enumerate(["a.txt", "docs/b.md", "docs/deep/er/c.bin", "empty.txt"]):
        with open(os.path.join(src, name), "wb") as f:
            f.write((b"line %d of some text\n" % i) * (i * 300))


def link_tree(src):
    plain_tree(src)
    os.symlink("a.txt", os.path.join(src, "inside"))
    os.symlink("docs/deep", os.path.join(src, "dirlink"))
    os.symlink("../../etc/passwd", os.path.join(src, "outside"))
    os.symlink("/tmp", os.path.join(src, "absolute"))


def seeds():
    text = b"hello, container\n" * 40
    big = random.Random(1).randbytes(6000) + b"compressible " * 2000
    yield "empty_file", b""
    yield "empty_zip", py_zip([])
    yield "py_stored", py_zip([("a.txt", text, {}), ("dir/", b"", {}), ("dir/b.txt", b"b", {})])
    yield "py_deflated", py_zip([("a.txt", text, {}), ("big.bin", big, {})], compression=zipfile.ZIP_DEFLATED)
    yield "py_zip64", py_zip([("a.txt", text, {"zip64": True}), ("b.txt", b"", {"zip64": True})],
                             compression=zipfile.ZIP_DEFLATED)
    yield "py_bzip2", py_zip([("a.txt", text, {})], compression=zipfile.ZIP_BZIP2)
    yield "py_traversal", py_zip([(n, b"x", {}) for n in
                                  ["../up.txt", "a/../../up2.txt", "/abs.txt", "C:/drive.txt", "ok.txt"]])
    yield "py_backslash", py_zip([("win\\dir\\file.txt", b"w", {}), ("..\\up.txt", b"u", {}),
                                  ("C:\\drive.txt", b"d", {})])
    yield "py_duplicates", py_zip([("same.txt", b"1", {}), ("same.txt", b"2", {}),
                                   ("x", b"file", {}), ("x/", b"", {}), ("x/y.txt", b"y", {})])
    yield "py_links", py_zip([("in", b"target.txt", {"link": 1}), ("target.txt", b"t", {}),
                              ("out", b"../../../escape", {"link": 1}), ("abs", b"/etc", {"link": 1}),
                              ("d/", b"", {}), ("d/up", b"..", {"link": 1})])
    # A link to a folder outside, then a file written through it.
    yield "py_link_then_file", py_zip([("l", b"..", {"link": 1}), ("l/through.txt", b"x", {})])
    yield "py_modes", py_zip([("ro.txt", b"r", {"mode": 0o100444}), ("locked/", b"", {}),
                              ("fifo", b"", {"mode": 0o010644}), ("setuid", b"s", {"mode": 0o104755})])
    # GBK names without the UTF-8 flag; "乗" ends in the byte of a backslash.
    archive = py_zip([("GBKNAMEPLACEHO", b"gbk", {}), ("GBKDIRPL/", b"", {}), ("GBKDIRPL/f.txt", b"f", {})])
    archive = rename_raw(archive, b"GBKNAMEPLACEHO", "中文文件".encode("gbk") + b"\\a.txt")
    yield "py_gbk", rename_raw(archive, b"GBKDIRPL", "目录乗".encode("gbk") + b"\\a")
    yield "py_utf8", py_zip([("文件/名字.txt", b"u", {}), ("é.txt", b"e", {})])
    yield "py_comment", py_zip([("a.txt", b"a", {})])[:-2] + b"\x05\x00hello"
    yield "py_truncated", py_zip([("a.txt", text, {})], compression=zipfile.ZIP_DEFLATED)[:-30]
    bad = bytearray(py_zip([("a.txt", text, {})]))
    bad[40] ^= 0xFF  # a data byte: the CRC no longer matches
    yield "py_bad_crc", bytes(bad)
    yield "iz_tree", info_zip(plain_tree, ["-r"])
    yield "iz_stored", info_zip(plain_tree, ["-r", "-0"])
    yield "iz_zip64", info_zip(plain_tree, ["-r", "-fz"])
    yield "iz_links", info_zip(link_tree, ["-r", "-y"])
    yield "iz_encrypted", info_zip(plain_tree, ["-r", "-P", "secret"])


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_seeds.py OUT_DIR")
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    have_zip = shutil.which("zip") is not None
    count = 0
    for name, archive in seeds() if have_zip else ((n, a) for n, a in seeds() if not n.startswith("iz_")):
        with open(os.path.join(out, name + ".kvxdata"), "wb") as f:
            f.write(encipher(archive))
        count += 1
    # Inputs the fuzzer found are kept enciphered beside this script.
    found = os.path.join(os.path.dirname(os.path.abspath(__file__)), "found")
    if os.path.isdir(found):
        for name in sorted(os.listdir(found)):
            shutil.copy(os.path.join(found, name), os.path.join(out, name))
            count += 1
    print(f"fuzz: {count} seeds in {out}")


if __name__ == "__main__":
    main()
