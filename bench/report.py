#!/usr/bin/env python3
"""Prints every benchmark figure with its baseline, the ratio and whether the
target is met, from the JSON files of one scripts/bench run.

  report.py --process FILE --recordfile FILE --featurelist FILE --parse FILE
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
                     "file_mb": b.get("file_MB"), "page_mib": b.get("page_MiB"),
                     "peak_mib": b.get("peak_MiB")}
    return out


# Each figure's most allowed time per byte, as a multiple of its floor's: the
# least program that does the same work, measured in the same run.
COMMON_TARGET = 1.25
FIRST_TARGET = 1.15
WINDOW_TIME_TARGET = 1.15
WINDOW_PSS_TARGET = 1.70
STORE_TARGETS = (("R, last of 100,000", "R_LastOf100k", 1.0),
                 ("RA, whole file", "RA_100k", 1.2),
                 ("WA, whole grid", "WA_100k", 1.2))


def verdict(ok):
    return "met" if ok else "MISSED"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--process", required=True)
    parser.add_argument("--recordfile", required=True)
    parser.add_argument("--featurelist", required=True)
    parser.add_argument("--parse", required=True)
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
          "(target at most %.2f): %s" % (fl["median_ms"], floor["median_ms"], ratio,
                                         COMMON_TARGET, verdict(ratio <= COMMON_TARGET)))
    print("   peak RSS: FirstLoad %d KiB, floor program %d KiB (%.1f times)"
          % (fl["max_rss_kb"], floor["max_rss_kb"], fl["max_rss_kb"] / floor["max_rss_kb"]))

    f = proc["first"]
    ratio = f["FirstLoad"]["median_ms"] / f["floor"]["median_ms"]
    print("   First run (list fetched from nginx, 300 rows, stored, program started), median of "
          "%d interleaved runs" % f["FirstLoad"]["runs"])
    print("   FirstLoad %.2f ms, first-run floor %.2f ms: %.2f times the floor (target at most "
          "%.2f): %s; curl -s -o of the page alone %.2f ms"
          % (f["FirstLoad"]["median_ms"], f["floor"]["median_ms"], ratio, FIRST_TARGET,
             verdict(ratio <= FIRST_TARGET), f["curl"]["median_ms"]))

    win = proc["window"]
    fl, floor = win["FirstLoad"], win["floor"]
    ratio = fl["map_ms_median"] / floor["map_ms_median"]
    print("   First window (a service that never answers, Xvfb without GLX), median of %d "
          "interleaved runs" % fl["runs"])
    print("   start to MapNotify: FirstLoad %.2f ms, GTK 3 floor %.2f ms: %.2f times the floor "
          "(target at most %.2f): %s" % (fl["map_ms_median"], floor["map_ms_median"], ratio,
                                         WINDOW_TIME_TARGET, verdict(ratio <= WINDOW_TIME_TARGET)))
    ratio = fl["pss_kb_median"] / floor["pss_kb_median"]
    print("   memory while waiting, the summed proportional set (PSS) of every process each "
          "started: FirstLoad %d KiB, GTK 3 floor %d KiB: %.2f times (target at most %.2f, "
          "the one process's before the HTTP helper): %s; resident %d KiB against %d KiB"
          % (fl["pss_kb_median"], floor["pss_kb_median"], ratio, WINDOW_PSS_TARGET,
             verdict(ratio <= WINDOW_PSS_TARGET), fl["rss_kb_median"], floor["rss_kb_median"]))

    w = proc["waiting"]
    print("2. Waiting %.1f s for the service (first run, headless), median of %d runs"
          % (w["median_wall_s"], len(w["runs"])))
    print("   CPU %.1f ms in %.2f s wall: %.3f %% (target under 1 %%): %s"
          % (w["median_cpu_ms"], w["median_wall_s"], w["median_share_pct"],
             verdict(w["median_share_pct"] < 1.0)))

    print("3. Record store, 100,000 records of 26 cells (a %.1f MB file), each mode against "
          "its floor, median of repetitions" % store["BM_StoreR_LastOf100k"]["file_mb"])
    for label, mode, target in STORE_TARGETS:
        r, f = store["BM_Store" + mode], store["BM_Floor" + mode]
        ratio = r["ms"] / f["ms"]  # the same bytes, so also the ratio per byte
        print("   %-19s %7.1f ms (%6.1f MB/s) vs floor %7.1f ms (%6.1f MB/s): %.2f times "
              "(target at most %.1f): %s" % (label, r["ms"], r["mbps"], f["ms"], f["mbps"], ratio,
                                             target, verdict(ratio <= target)))

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

    parse = medians(args.parse)
    print("5. The page parse and lookup of Form1.txtvalue, against libxml2's HTML parser "
          "(informative; the first run above holds the target)")
    for page in ("typical", "largest"):
        g, x = parse["BM_Gumbo/" + page], parse["BM_Libxml2/" + page]
        print("   %-7s page of %.2f MiB: gumbo %.2f ms, peak %.1f MiB; libxml2 %.2f ms, peak "
              "%.1f MiB: %.2f times the time" % (page, g["page_mib"], g["ms"], g["peak_mib"],
                                                 x["ms"], x["peak_mib"], g["ms"] / x["ms"]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
