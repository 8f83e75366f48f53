"""Decodes every JPEG file under the given folders with vexjpeg and with
djpeg -dct int -nosmooth, and prints what opened where and how well the
pixels agree. Usage: corpus_check.py VEXJPEG FOLDER...

A file counts by its frame's process (the first SOFn marker). "Opens" means
the decoder wrote an image; vexjpeg's exit code 2 on a damaged file that it
still decoded counts as opened, with a warning, as djpeg's does."""
import math
import os
import subprocess
import sys
import tempfile

from PIL import Image, ImageChops, ImageStat

PROCESSES = {0xC0: "baseline", 0xC1: "extended", 0xC2: "progressive", 0xC3: "lossless"}


def frame_of(data):
    """(process name, components) from the first frame header, or None."""
    i = 2
    while i + 4 <= len(data):
        if data[i] != 0xFF:
            i += 1
            continue
        marker = data[i + 1]
        if marker == 0xFF:
            i += 1
            continue
        if marker in (0x01, 0xD8) or 0xD0 <= marker <= 0xD7:
            i += 2
            continue
        length = data[i + 2] << 8 | data[i + 3]
        if 0xC0 <= marker <= 0xCF and marker not in (0xC4, 0xC8, 0xCC):
            components = data[i + 9] if i + 9 < len(data) else 0
            name = PROCESSES.get(marker, "arithmetic or hierarchical")
            if i + 4 < len(data) and data[i + 4] != 8:
                name += " %d-bit" % data[i + 4]
            return name, components
        i += 2 + length
    return None


def psnr(a_path, b_path):
    a, b = Image.open(a_path), Image.open(b_path)
    if a.size != b.size:
        return -1.0
    mode = "L" if a.mode == "L" and b.mode == "L" else "RGB"
    a, b = a.convert(mode), b.convert(mode)
    rms = ImageStat.Stat(ImageChops.difference(a, b)).rms
    mse = sum(r * r for r in rms) / len(rms)
    return 99.0 if mse == 0 else 10 * math.log10(255 * 255 / mse)


def run(command, timeout=120):
    try:
        return subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=timeout).returncode
    except subprocess.TimeoutExpired:
        return "timeout"


def main():
    tool, folders = sys.argv[1], sys.argv[2:]
    files = []
    for folder in folders:
        for top, _, names in os.walk(folder):
            for name in names:
                path = os.path.join(top, name)
                try:
                    with open(path, "rb") as f:
                        if f.read(3) == b"\xff\xd8\xff":
                            files.append(path)
                except OSError:
                    pass
    rows = {}
    problems = []
    with tempfile.TemporaryDirectory() as work:
        ours, theirs = os.path.join(work, "ours.pnm"), os.path.join(work, "theirs.pnm")
        for path in sorted(set(files)):
            with open(path, "rb") as f:
                frame = frame_of(f.read())
            kind = "no frame" if frame is None else frame[0] + (" CMYK" if frame[1] == 4 else "")
            row = rows.setdefault(kind, {"files": 0, "djpeg": 0, "q32vex": 0, "agree": 0, "warned": 0})
            row["files"] += 1
            for p in (ours, theirs):
                if os.path.exists(p):
                    os.remove(p)
            djpeg = run(["djpeg", "-dct", "int", "-nosmooth", "-pnm", "-outfile", theirs, path])
            mine = run([tool, "decompress", path, ours, "--format", "ppm", "--quiet"])
            djpeg_ok = djpeg in (0, 2) and os.path.exists(theirs) and os.path.getsize(theirs) > 0
            mine_ok = mine in (0, 2) and os.path.exists(ours) and os.path.getsize(ours) > 0
            row["djpeg"] += djpeg_ok
            row["q32vex"] += mine_ok
            row["warned"] += mine_ok and mine == 2
            if djpeg_ok and mine_ok:
                db = psnr(ours, theirs)
                if db >= 40:
                    row["agree"] += 1
                else:
                    problems.append("%5.1f dB  %s" % (db, path))
            elif djpeg_ok != mine_ok:
                problems.append("%s  %s (djpeg %s, vexjpeg %s)" % (
                    "only djpeg" if djpeg_ok else "only q32vex", path, djpeg, mine))
    print("JPEG files Debian packages ship: %d" % sum(r["files"] for r in rows.values()))
    print()
    print("| process | files | djpeg opens | q32vex opens | agree >= 40 dB | q32vex warned |")
    print("|---|---|---|---|---|---|")
    for kind in sorted(rows, key=lambda k: -rows[k]["files"]):
        r = rows[kind]
        print("| %s | %d | %d | %d | %d | %d |" % (kind, r["files"], r["djpeg"], r["q32vex"], r["agree"], r["warned"]))
    if problems:
        print()
        print("files where the two differ:")
        for line in problems:
            print("  " + line)


if __name__ == "__main__":
    main()
