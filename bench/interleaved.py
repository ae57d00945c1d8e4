#!/usr/bin/env python3
"""Times intsum, its AVX2 and AVX-512 kernels and wc -l in turn, round after
round, so that a busy machine slows all of them alike; prints each median
over that of wc -l. Optionally the same for an older build beside it.

  bench/interleaved.py DATA_DIR [BUILD_DIR [OLD_BUILD_DIR]] [-r ROUNDS]

DATA_DIR holds wide.txt, small.txt and mixed.txt (as bench/run.sh -d makes).
"""
import argparse
import statistics
import subprocess
import time


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("data")
    ap.add_argument("build", nargs="?", default="build/release")
    ap.add_argument("old", nargs="?")
    ap.add_argument("-r", "--rounds", type=int, default=21)
    a = ap.parse_args()

    def runners(build, tag):
        kernels = subprocess.run([f"{build}/bench/intsum_kernel", "list"], capture_output=True,
                                 text=True, check=True).stdout.split()
        cmds = {f"intsum{tag}": [f"{build}/intsum"]}
        for k in ("avx2", "avx512"):
            if k in kernels:
                cmds[f"{k}{tag}"] = [f"{build}/bench/intsum_kernel", k]
        return cmds

    cmds = {"wc -l": ["wc", "-l"], **runners(a.build, "")}
    if a.old:
        cmds.update(runners(a.old, " before"))
    for shape in ("wide", "small", "mixed"):
        path = f"{a.data}/{shape}.txt"
        times = {k: [] for k in cmds}
        for _ in range(a.rounds):
            for k, c in cmds.items():
                start = time.perf_counter()
                subprocess.run(c + [path], stdout=subprocess.DEVNULL, check=True)
                times[k].append(time.perf_counter() - start)
        floor = statistics.median(times["wc -l"])
        ratios = " ".join(f"{k}={statistics.median(v) / floor:.2f}x" for k, v in times.items() if k != "wc -l")
        print(f"{shape}: {ratios} (wc -l {floor * 1000:.1f} ms)")


if __name__ == "__main__":
    main()
