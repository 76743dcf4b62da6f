#!/usr/bin/env python3
"""The release zips, the same bytes from every build of one commit.

    pack.py zip --version V --epoch SECONDS --readme README.txt --out DIR win64=EXE win32=EXE
        writes DIR/telvio-V-<arch>.zip (telvio.exe, then README.txt with CRLF line ends)
        and DIR/SHA256SUMS, after removing the zips and sums of an earlier run
    pack.py compare DIR1 DIR2
        fails naming the first file that differs, and within a zip its first entry
    pack.py extract ZIP ENTRY FILE
"""
import argparse
import hashlib
import io
import os
import sys
import time
import zipfile

ZIP_EPOCH = 315532800  # 1980-01-01, the earliest time a zip entry can carry


def entry(name, epoch, mode):
    # Fixed time (the commit's, in UTC, whatever the zone of the build machine), fixed
    # owner system and permissions, no extra fields.
    info = zipfile.ZipInfo(name, time.gmtime(max(epoch, ZIP_EPOCH))[:6])
    info.compress_type = zipfile.ZIP_DEFLATED
    info.create_system = 3
    info.external_attr = (0o100000 | mode) << 16
    info.extra = b""
    return info


def write_zip(path, members, epoch):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as z:
        for name, data, mode in members:
            z.writestr(entry(name, epoch, mode), data, compresslevel=9)
    with open(path, "wb") as f:
        f.write(buffer.getvalue())


def pack(args):
    with open(args.readme, encoding="ascii") as f:
        readme = f.read().replace("@VERSION@", args.version)
    readme = readme.replace("\r\n", "\n").replace("\n", "\r\n").encode("ascii")
    os.makedirs(args.out, exist_ok=True)
    for old in os.listdir(args.out):
        if old == "SHA256SUMS" or (old.startswith("telvio-") and old.endswith(".zip")):
            os.remove(os.path.join(args.out, old))
    sums = []
    for pair in sorted(args.exes):
        arch, exe = pair.split("=", 1)
        with open(exe, "rb") as f:
            program = f.read()
        name = "telvio-%s-%s.zip" % (args.version, arch)
        path = os.path.join(args.out, name)
        write_zip(path, [("telvio.exe", program, 0o755), ("README.txt", readme, 0o644)],
                  args.epoch)
        with open(path, "rb") as f:
            sums.append("%s  %s\n" % (hashlib.sha256(f.read()).hexdigest(), name))
        print("%s: telvio.exe %d bytes" % (name, len(program)))
    with open(os.path.join(args.out, "SHA256SUMS"), "w", newline="\n") as f:
        f.writelines(sums)
    sys.stdout.writelines(sums)
    return 0


def first_difference(a, b):
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return i
    return min(len(a), len(b))


def compare(args):
    # The sums last: they differ whenever a zip does, and the zip says more.
    names = sorted(set(os.listdir(args.first)) | set(os.listdir(args.second)),
                   key=lambda n: (n == "SHA256SUMS", n))
    for name in names:
        paths = [os.path.join(d, name) for d in (args.first, args.second)]
        missing = [p for p in paths if not os.path.isfile(p)]
        if missing:
            print("differs: %s (only one build has it)" % name)
            return 1
        data = [open(p, "rb").read() for p in paths]
        if data[0] == data[1]:
            continue
        where = "at byte %d" % first_difference(*data)
        if name.endswith(".zip"):
            zips = [zipfile.ZipFile(io.BytesIO(d)) for d in data]
            infos = [z.infolist() for z in zips]
            if [i.filename for i in infos[0]] != [i.filename for i in infos[1]]:
                where = "entries %s against %s" % ([i.filename for i in infos[0]],
                                                   [i.filename for i in infos[1]])
            else:
                for one, two in zip(*infos):
                    x, y = zips[0].read(one), zips[1].read(two)
                    if x != y:
                        where = "%s at byte %d" % (one.filename, first_difference(x, y))
                        break
                    if (one.date_time, one.external_attr, one.extra) != (
                            two.date_time, two.external_attr, two.extra):
                        where = "%s: time, permissions or extra fields" % one.filename
                        break
        print("differs: %s, %s" % (name, where))
        return 1
    print("same: %s" % ", ".join(names))
    return 0


def extract(args):
    with zipfile.ZipFile(args.zip) as z:
        data = z.read(args.entry)
    os.makedirs(os.path.dirname(os.path.abspath(args.file)), exist_ok=True)
    with open(args.file, "wb") as f:
        f.write(data)
    return 0


def main():
    parser = argparse.ArgumentParser()
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("zip")
    p.add_argument("--version", required=True)
    p.add_argument("--epoch", type=int, required=True)
    p.add_argument("--readme", required=True)
    p.add_argument("--out", required=True)
    p.add_argument("exes", nargs="+", help="arch=path of telvio.exe")
    p.set_defaults(run=pack)
    p = sub.add_parser("compare")
    p.add_argument("first")
    p.add_argument("second")
    p.set_defaults(run=compare)
    p = sub.add_parser("extract")
    p.add_argument("zip")
    p.add_argument("entry")
    p.add_argument("file")
    p.set_defaults(run=extract)
    args = parser.parse_args()
    return args.run(args)


if __name__ == "__main__":
    sys.exit(main())
