#!/usr/bin/env python3
"""Median, min and max of every benchmark in Google Benchmark JSON files (run with repetitions and
--benchmark_out=FILE.json), one line each, with the GFLOP/s counter where there is one; and with
--ratio A B (repeatable), the median and min-max of time(A) / time(B) over the repetitions, paired by
repetition index, for benchmark names A and B of the same run:

    build/native/solver_bench --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \\
        --benchmark_out=solver.json
    bench/summarize.py solver.json --ratio SolvePlain/1000 SolveFast/1000/1/2/real_time
"""
import argparse
import json
import statistics


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("files", nargs="+")
    ap.add_argument("--ratio", nargs=2, action="append", default=[], metavar=("A", "B"))
    ap.add_argument("--flops", nargs=2, action="append", default=[], metavar=("A", "B"),
                    help="median of GFLOP/s(A) / GFLOP/s(B) over the repetitions")
    args = ap.parse_args()
    runs = {}
    labels = {}
    for path in args.files:
        with open(path) as f:
            data = json.load(f)
        for b in data["benchmarks"]:
            if b.get("run_type") != "iteration":
                continue
            index = b.get("repetition_index", 0)
            runs.setdefault(b["run_name"], {})[index] = (b["real_time"], b.get("time_unit", "ns"), b.get("GFLOP/s"))
            labels[b["run_name"]] = b.get("label", "")
    if not args.ratio and not args.flops:
        for name, by_index in runs.items():
            values = list(by_index.values())
            times = sorted(v[0] for v in values)
            line = "%-50s median %10.3f %s  min-max %.3f-%.3f  n=%d" % (
                name, statistics.median(times), values[0][1], times[0], times[-1], len(times))
            flops = [v[2] for v in values if v[2] is not None]
            if flops:
                line += "  GFLOP/s %.1f" % (statistics.median(flops) / 1e9)
            if labels[name]:
                line += "  " + labels[name]
            print(line)
    for kind, pairs in (("time", args.ratio), ("GFLOP/s", args.flops)):
        slot = 0 if kind == "time" else 2
        for a, b in pairs:
            common = sorted(set(runs[a]) & set(runs[b]))
            ratios = sorted(runs[a][i][slot] / runs[b][i][slot] for i in common)
            print("%s %s / %s: median %.3f  min-max %.3f-%.3f  n=%d" % (
                kind, a, b, statistics.median(ratios), ratios[0], ratios[-1], len(ratios)))


if __name__ == "__main__":
    main()
