#!/usr/bin/env python3
"""Prints the benchmarks' table from their JSON results: figure, target, median, and met,
not met, not run or reference.

  bench/report.py RESULTS_FOLDER TARGETS_TSV

RESULTS_FOLDER holds one Google Benchmark JSON file per program (median aggregates);
TARGETS_TSV is bench/targets.tsv. bench/run runs the benchmarks and then this.
"""
import glob, json, sys
results, targets = sys.argv[1], sys.argv[2]
scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9, "MiB": 1, "x": 1}
medians = {}
for f in glob.glob(results + "/*.json"):
    for b in json.load(open(f))["benchmarks"]:
        if b.get("aggregate_name") == "median":
            name = b["run_name"].split("/")[0]  # without "/iterations:N"
            medians[name] = b["real_time"] * scale[b["time_unit"]]
            # Counters such as a peak memory are named "benchmark:counter".
            for key, value in b.items():
                if key.endswith("_MiB"):
                    medians[name + ":" + key] = value
rows = [("figure", "target", "median", "result")]
for line in open(targets):
    if line.startswith("#") or not line.strip():
        continue
    name, figure, target, unit = line.rstrip("\n").split("\t")
    m = medians.get(name)
    if "/" in name:  # a ratio of two medians, such as a figure over its floor
        a, b = name.split("/")
        m = medians[a] / medians[b] if medians.get(a) and medians.get(b) else None
    if target == "-":  # a reference figure, such as a floor, with no target of its own
        rows.append((figure, "-", "-" if m is None else f"{m / scale[unit]:.3g} {unit}", "reference"))
        continue
    t = float(target) * scale[unit]
    if m is None:
        rows.append((figure, f"{target} {unit}", "-", "not run"))
    else:
        rows.append((figure, f"{target} {unit}", f"{m / scale[unit]:.3g} {unit}", "met" if m <= t else "not met"))
w = [max(len(r[i]) for r in rows) for i in range(4)]
for i, r in enumerate(rows):
    print(" | ".join(c.ljust(w[k]) for k, c in enumerate(r)))
    if i == 0:
        print("-+-".join("-" * x for x in w))
