#!/usr/bin/env python3
"""Whole-process image loads against other programs, as ratios.

Writes the benchmark's input files (orbelle_load_image --write-inputs), then times, as whole
processes run one after the other and alternated, the front end's load of each file
(orbelle_load_image FILE) beside a program that decodes the same file:

  JPEG 4000 x 3000   djpeg -dct float -nosmooth (the decoder's settings), output discarded
  LZW TIFF 4096^2    tiff2rgba -c none, written to memory (/dev/shm where there is one):
                     libtiff reads back what it writes, so it cannot write to /dev/null
  BMP and TGA 4096^2 ImageMagick's convert to raw BGRA, output discarded

and prints each side's fastest and median wall time, its peak resident memory, and the ratios
ours / peer. A program that is not installed is skipped (libjpeg-turbo-progs, libtiff-tools
and imagemagick bring them); nothing in the build or its tests needs them.

usage: bench/compare_tools.py [--build DIR] [--runs N]
  --build  the build folder holding bench/orbelle_load_image (default build/release)
  --runs   runs of each side (default 7)
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def run_once(command):
    """Wall seconds and peak resident kilobytes of one run of command, output discarded."""
    start = time.perf_counter()
    with open(os.devnull, "wb") as devnull:
        process = subprocess.Popen(command, stdout=devnull, stderr=subprocess.PIPE)
        _, status, usage = os.wait4(process.pid, 0)
        seconds = time.perf_counter() - start
        error = process.stderr.read().decode(errors="replace")
        process.stderr.close()
        process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        sys.exit(f"{' '.join(command)} failed ({process.returncode}): {error.strip()}")
    return seconds, usage.ru_maxrss


def image_magick():
    """ImageMagick's convert, or None: a convert that is not ImageMagick does not count."""
    for candidate in ("/usr/bin/convert", shutil.which("convert")):
        if candidate and os.path.exists(candidate):
            try:
                version = subprocess.run([candidate, "-version"], capture_output=True,
                                         text=True, timeout=30).stdout
            except (OSError, subprocess.SubprocessError):
                continue
            if "ImageMagick" in version:
                return candidate
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default="build/release")
    parser.add_argument("--runs", type=int, default=7)
    args = parser.parse_args()

    loader = os.path.join(args.build, "bench", "orbelle_load_image")
    if not os.access(loader, os.X_OK):
        sys.exit(f"{loader} not found: build the release preset with the benchmarks first")
    djpeg = shutil.which("djpeg")
    tiff2rgba = shutil.which("tiff2rgba")
    convert = image_magick()

    shm = "/dev/shm" if os.path.isdir("/dev/shm") else None
    with tempfile.TemporaryDirectory(prefix="orbelle-compare-") as folder, \
            tempfile.TemporaryDirectory(prefix="orbelle-compare-", dir=shm) as scratch:
        written = subprocess.run([loader, "--write-inputs", folder], capture_output=True,
                                 text=True, check=True).stdout.split()
        jpeg, tiff, bmp, tga = written
        comparisons = [
            ("JPEG 4000x3000", jpeg, "djpeg",
             [djpeg, "-dct", "float", "-nosmooth", "-outfile", os.devnull, jpeg]
             if djpeg else None),
            ("LZW TIFF 4096x4096", tiff, "tiff2rgba",
             [tiff2rgba, "-c", "none", tiff, os.path.join(scratch, "rgba.tif")]
             if tiff2rgba else None),
            ("BMP 24-bit 4096x4096", bmp, "convert",
             [convert, bmp, "-depth", "8", "bgra:" + os.devnull] if convert else None),
            ("TGA 32-bit 4096x4096", tga, "convert",
             [convert, tga, "-depth", "8", "bgra:" + os.devnull] if convert else None),
        ]

        print(f"{args.runs} runs a side, alternated; wall times in ms, peak memory in MiB")
        print(f"{'input':22} {'peer':10} {'ours min':>9} {'ours med':>9} {'peer min':>9} "
              f"{'peer med':>9} {'ratio min':>9} {'ratio med':>9} {'ours MiB':>9} "
              f"{'peer MiB':>9}")
        for name, path, peer_name, peer in comparisons:
            if peer is None:
                print(f"{name:22} {peer_name:10} skipped: {peer_name} is not installed")
                continue
            ours = [loader, path]
            ours_runs, peer_runs = [], []
            run_once(ours)  # the file into the page cache, and the programs too
            run_once(peer)
            for i in range(args.runs):
                pair = [(ours, ours_runs), (peer, peer_runs)]
                for command, runs in (pair if i % 2 == 0 else reversed(pair)):
                    runs.append(run_once(command))
            ours_times = [t for t, _ in ours_runs]
            peer_times = [t for t, _ in peer_runs]
            ours_memory = statistics.median(m for _, m in ours_runs) / 1024
            peer_memory = statistics.median(m for _, m in peer_runs) / 1024
            print(f"{name:22} {peer_name:10} {1e3 * min(ours_times):9.1f} "
                  f"{1e3 * statistics.median(ours_times):9.1f} {1e3 * min(peer_times):9.1f} "
                  f"{1e3 * statistics.median(peer_times):9.1f} "
                  f"{min(ours_times) / min(peer_times):9.2f} "
                  f"{statistics.median(ours_times) / statistics.median(peer_times):9.2f} "
                  f"{ours_memory:9.1f} {peer_memory:9.1f}")


if __name__ == "__main__":
    main()
