#!/usr/bin/env python3
"""Prints every benchmark figure with its baseline, the ratio and whether the
target is met, from the JSON files of one scripts/bench run.

  report.py --process FILE --recordfile FILE --featurelist FILE
"""
import argparse
import json
import os
import platform
import sys


def medians(path):
    """Median real time (ms) and MB/s of each benchmark in a Google
    Benchmark JSON file written with repetitions."""
    with open(path) as f:
        data = json.load(f)
    out = {}
    for b in data["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        name = b["run_name"].replace("/real_time", "").replace("/manual_time", "")
        if b.get("run_type") == "iteration" and name in out:
            continue  # an aggregate, when there is one, wins
        scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b.get("time_unit", "ns")]
        out[name] = {"ms": b["real_time"] * scale, "mbps": b.get("MB"), "rows": b.get("rows"),
                     "file_mb": b.get("file_MB")}
    return out


def verdict(ok):
    return "met" if ok else "MISSED"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--process", required=True)
    parser.add_argument("--recordfile", required=True)
    parser.add_argument("--featurelist", required=True)
    args = parser.parse_args()
    with open(args.process) as f:
        proc = json.load(f)
    store = medians(args.recordfile)
    lists = medians(args.featurelist)
    model = "unknown CPU"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    print("== Results on %d CPUs (%s), %s %s; each against its baseline from the same run"
          % (os.cpu_count(), model, platform.system(), platform.release()))

    c = proc["common"]
    fl, floor = c["FirstLoad"], c["floor"]
    ratio = fl["median_ms"] / floor["median_ms"]
    print("1. Common run (list stored, download program started), median of %d interleaved runs"
          % fl["runs"])
    print("   FirstLoad %.2f ms, floor program %.2f ms: %.2f times the floor "
          "(target at most 1.5): %s" % (fl["median_ms"], floor["median_ms"], ratio,
                                        verdict(ratio <= 1.5)))
    print("   peak RSS: FirstLoad %d KiB, floor program %d KiB (%.1f times)"
          % (fl["max_rss_kb"], floor["max_rss_kb"], fl["max_rss_kb"] / floor["max_rss_kb"]))

    w = proc["waiting"]
    print("2. Waiting %.1f s for the service (first run, headless), median of %d runs"
          % (w["median_wall_s"], len(w["runs"])))
    print("   CPU %.1f ms in %.2f s wall: %.3f %% (target under 1 %%): %s"
          % (w["median_cpu_ms"], w["median_wall_s"], w["median_share_pct"],
             verdict(w["median_share_pct"] < 1.0)))

    print("3. Record store, 100,000 records of 26 cells (a %.1f MB file), MB/s of the file's "
          "bytes, median of repetitions" % store["BM_PlainRead"]["file_mb"])
    read = store["BM_PlainRead"]["mbps"]
    write = store["BM_PlainWrite"]["mbps"]
    write_sync = store["BM_PlainWriteFsync"]["mbps"]
    rows = [("R, last of 100,000", "BM_StoreR_LastOf100k", read, "plain fread"),
            ("RA, whole file", "BM_StoreRA_100k", read, "plain fread"),
            ("WA, whole grid", "BM_StoreWA_100k", write, "plain fwrite, no fsync"),
            ("WA, whole grid", "BM_StoreWA_100k", write_sync,
             "plain fwrite + fsync + rename")]
    for label, name, base, base_name in rows:
        r = store[name]
        print("   %-19s %8.1f MB/s (%7.1f ms) vs %-29s %8.1f MB/s: %.3f (target 0.5): %s"
              % (label, r["mbps"], r["ms"], base_name, base, r["mbps"] / base,
                 verdict(r["mbps"] / base >= 0.5)))

    print("4. Feature-list loader StringToGrid (1 MB = 10^6 characters of list)")
    sizes = [1, 4, 16]
    runs = {mb: lists["BM_StringToGrid/%d" % mb] for mb in sizes}
    for mb in sizes:
        r = runs[mb]
        print("   %2d MB: %7.1f ms, %6.1f MB/s (target at least 50): %s"
              % (mb, r["ms"], r["mbps"], verdict(r["mbps"] >= 50)))
    for small, big in ((1, 4), (4, 16)):
        growth = runs[big]["ms"] / runs[small]["ms"]
        print("   %d MB -> %d MB: %.2f times as long (target at most 4.5): %s"
              % (small, big, growth, verdict(growth <= 4.5)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
