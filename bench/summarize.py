#!/usr/bin/env python3
"""Median, min and max of every benchmark in Google Benchmark JSON files (run with repetitions and
--benchmark_out=FILE.json), one line each, and the GFLOP/s counter where there is one:

    build/native/solver_bench --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \\
        --benchmark_out=solver.json
    bench/summarize.py solver.json
"""
import json
import statistics
import sys


def main():
    runs = {}
    labels = {}
    for path in sys.argv[1:]:
        with open(path) as f:
            data = json.load(f)
        for b in data["benchmarks"]:
            if b.get("run_type") != "iteration":
                continue
            unit = b.get("time_unit", "ns")
            runs.setdefault(b["run_name"], []).append((b["real_time"], unit, b.get("GFLOP/s")))
            labels[b["run_name"]] = b.get("label", "")
    for name, values in runs.items():
        times = sorted(v[0] for v in values)
        unit = values[0][1]
        line = "%-50s median %10.3f %s  min-max %.3f-%.3f  n=%d" % (
            name, statistics.median(times), unit, times[0], times[-1], len(times))
        flops = [v[2] for v in values if v[2] is not None]
        if flops:
            line += "  GFLOP/s %.1f" % (statistics.median(flops) / 1e9)
        if labels[name]:
            line += "  " + labels[name]
        print(line)


if __name__ == "__main__":
    main()
