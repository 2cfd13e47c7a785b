#!/usr/bin/env python3
"""Whole-process benchmarks of the installed FirstLoad, each measured side by
side with its baseline in one run.

  common   the feature list is stored: FirstLoad against a floor program that
           does the same job in plain C (reads the setup record, tests for the
           list, walks /proc for a running download program, starts the same
           stand-in); wall time (median of interleaved runs) and peak memory.
  waiting  a first run against the example service answering after a delay:
           FirstLoad's CPU time (user + system) as a share of its wall time.
  first    a first run (no list stored) against a local nginx serving an
           ASP.NET-shaped page with a 300-row list: FirstLoad against the
           first-run floor (the same C program built with the fetch: libproxy,
           libcurl, gumbo, the records written and flushed, the /proc walk,
           the start), with `curl -s -o` of the same page beside them; wall
           time, median of interleaved runs.
  window   a first run against a service that never answers, on a private
           Xvfb: the time from start to FirstLoad's window being mapped (the
           X server's MapNotify, seen by bench_mapwait) and its resident
           memory once it waits, against the least GTK 3 program that shows
           the same window; medians of interleaved runs.

  run_process_bench.py --build DIR --port N [--runs 40] [--waiting-runs 3]
                       [--delay 5] [--window-runs 30] [--json FILE]

DIR is a build with FEATURE_SERVICE_HOST=127.0.0.1:N that also built
bench_floor, bench_first_floor, bench_standin, bench_launch,
bench_window_floor and bench_mapwait. Standard library only, nginx for the
first run and Xvfb for the window.
"""
import argparse
import ctypes
import html
import json
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PR_SET_CHILD_SUBREAPER = 36


def become_subreaper():
    """The detached download program is re-parented to us rather than to
    init, so each run's stand-in is reaped (and checked) before the next run
    starts and no zombie piles up in /proc, which FirstLoad walks."""
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0:
        sys.exit("run_process_bench: cannot become a child subreaper")


def headless_env():
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    return env


class Run:
    def __init__(self, line):
        wall_ns, status, maxrss, user_us, sys_us, own = (int(x) for x in line.split())
        self.wall = wall_ns / 1e9
        self.status = status
        self.maxrss_kb = maxrss
        self.cpu = (user_us + sys_us) / 1e6
        self.launcher_rss_kb = own


def run_program(launcher, path, env, *args, starts=True):
    """Runs path once through the small launcher, which times it and takes
    its rusage; then reaps the download program it left behind, so that runs
    never overlap."""
    out = subprocess.run([launcher, path, *args], env=env, check=True, stdout=subprocess.PIPE,
                         text=True).stdout
    run = Run(out)
    if run.status != 0:
        sys.exit("run_process_bench: %s ended with status %d" % (path, run.status))
    if not starts:
        return run
    # Exactly one stand-in per run, which exits 0 once started; any other
    # orphan is reaped too, told apart by its name while it is a zombie.
    # Polled, since the example service is a child too and never ends.
    deadline = time.monotonic() + 10
    while True:
        try:
            orphan = os.waitid(os.P_ALL, 0, os.WEXITED | os.WNOHANG | os.WNOWAIT)
        except ChildProcessError:
            orphan = None
        if orphan is not None:
            with open("/proc/%d/comm" % orphan.si_pid) as comm:
                name = comm.read().strip()
            os.waitpid(orphan.si_pid, 0)
            if name != "VKPDownload.exe":
                continue
            if orphan.si_code != os.CLD_EXITED or orphan.si_status != 0:
                sys.exit("run_process_bench: %s did not start the download program" % path)
            return run
        if time.monotonic() > deadline:
            sys.exit("run_process_bench: %s started no download program" % path)
        time.sleep(0.0005)


def prepare_app(build, app):
    subprocess.run(["cmake", "--install", build, "--prefix", app], check=True,
                   stdout=subprocess.DEVNULL)
    recordfile = os.path.join(build, "recordfile")
    subprocess.run([recordfile, "put", os.path.join(app, "Orvistane.txt"), "ZELVAN",
                    "Ostra-VKP", "Photo Tools"], check=True)
    os.mkdir(os.path.join(app, "Update"))
    shutil.copy(os.path.join(build, "bench_standin"),
                os.path.join(app, "Update", "VKPDownload.exe"))
    shutil.copy(os.path.join(build, "bench_floor"), os.path.join(app, "Floor"))
    shutil.copy(os.path.join(build, "bench_first_floor"), os.path.join(app, "FirstFloor"))


def store_list(build, app):
    """A feature list as a fetch stores it."""
    recordfile = os.path.join(build, "recordfile")
    target = os.path.join(app, "FeatDlods.txt")
    for row in (["Photo Tools", "VKP", "PhotoTools.zip", "12.4 MB"],
                ["Photo Tools Help", "VKP", "help.zip", ""],
                ["Updates", "VKP", "patch-1.2.zip", "0.9 MB"]):
        subprocess.run([recordfile, "put", target] + row, check=True)


def common(build, runs, warmup):
    app = tempfile.mkdtemp(prefix="firstload-bench-")
    try:
        prepare_app(build, app)
        store_list(build, app)
        env = headless_env()
        programs = {"FirstLoad": os.path.join(app, "FirstLoad"),
                    "floor": os.path.join(app, "Floor")}
        launcher = os.path.join(build, "bench_launch")
        results = {name: [] for name in programs}
        for _ in range(warmup):
            for path in programs.values():
                run_program(launcher, path, env)
        # Interleaved, and each pair in alternating order, so that drift in
        # the machine's load falls on both alike.
        for i in range(runs):
            order = ["FirstLoad", "floor"] if i % 2 == 0 else ["floor", "FirstLoad"]
            for name in order:
                results[name].append(run_program(launcher, programs[name], env))
        if os.path.exists(os.path.join(app, "NetError.log")):
            sys.exit("run_process_bench: FirstLoad logged a failure:\n" +
                     open(os.path.join(app, "NetError.log"), errors="replace").read())
    finally:
        shutil.rmtree(app, ignore_errors=True)

    def summary(rs):
        walls = [r.wall for r in rs]
        return {"median_ms": statistics.median(walls) * 1e3,
                "p10_ms": sorted(walls)[len(walls) // 10] * 1e3,
                "p90_ms": sorted(walls)[len(walls) * 9 // 10] * 1e3,
                "max_rss_kb": max(r.maxrss_kb for r in rs),
                "launcher_rss_kb": max(r.launcher_rss_kb for r in rs),
                "runs": len(rs)}
    return {name: summary(rs) for name, rs in results.items()}


def start_service(port, delay, log, key=None):
    service = subprocess.Popen(
        [sys.executable, os.path.join(SOURCE, "tools", "feature_service.py"), "--port",
         str(port), "--delay", str(delay), "--log", log] +
        (["--minisign-key", key] if key else []),
        stdout=subprocess.PIPE, text=True)
    line = service.stdout.readline().strip()
    if line != "PORT %d" % port:
        service.kill()
        service.wait()
        sys.exit("run_process_bench: the example service did not start on port %d" % port)
    return service


def waiting(build, port, runs, delay, key):
    app = tempfile.mkdtemp(prefix="firstload-bench-")
    service = None
    try:
        prepare_app(build, app)
        service = start_service(port, delay, os.path.join(app, "service.log"), key)
        env = headless_env()
        launcher = os.path.join(build, "bench_launch")
        listfile = os.path.join(app, "FeatDlods.txt")
        shares = []
        for _ in range(runs):
            if os.path.exists(listfile):
                os.remove(listfile)
            run = run_program(launcher, os.path.join(app, "FirstLoad"), env)
            if not os.path.exists(listfile):
                sys.exit("run_process_bench: the first run did not store the list")
            if run.wall < delay:
                sys.exit("run_process_bench: the run ended before the service answered")
            shares.append({"wall_s": run.wall, "cpu_s": run.cpu,
                           "share_pct": 100.0 * run.cpu / run.wall})
    finally:
        if service is not None:
            service.terminate()
            service.wait()
        shutil.rmtree(app, ignore_errors=True)
    return {"runs": shares,
            "median_share_pct": statistics.median(s["share_pct"] for s in shares),
            "median_cpu_ms": statistics.median(s["cpu_s"] for s in shares) * 1e3,
            "median_wall_s": statistics.median(s["wall_s"] for s in shares)}


NGINX_CONF = """
daemon off;
master_process off;
worker_processes 1;
error_log %(dir)s/error.log;
pid %(dir)s/nginx.pid;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path %(dir)s/body;
  proxy_temp_path %(dir)s/proxy;
  fastcgi_temp_path %(dir)s/fastcgi;
  uwsgi_temp_path %(dir)s/uwsgi;
  scgi_temp_path %(dir)s/scgi;
  server {
    listen 127.0.0.1:%(port)d;
    root %(dir)s;
    location = /Features.aspx {
      default_type text/html;
      charset utf-8;
      try_files /page.html =404;
    }
  }
}
"""


# The request of the benchmark's record (ZELVAN, Ostra-VKP, Photo Tools).
QUERY = {"APPCODE": "680570080", "FeatureName": "080401111611111230480111111801511"}


def start_nginx(folder, port, rows, key=None):
    """nginx serving, for any query, an ASP.NET-shaped page whose field holds
    a list of rows of 26 cells, as the example service's rows:N answer; with
    a minisign secret key, signed for the record's request in txtsig."""
    listing = "#".join("R%d/%s" % (i, "/".join("c%d" % c for c in range(25)))
                       for i in range(rows))
    signature = ""
    if key:
        sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
        from feature_service import minisign_signature
        signature = '<textarea name="txtsig">%s</textarea>\n' % html.escape(
            minisign_signature(key, listing, QUERY, hours=24))
    page = ('<!DOCTYPE html PUBLIC "-//W3C//DTD XHTML 1.0 Transitional//EN" '
            '"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd">\n'
            '<html xmlns="http://www.w3.org/1999/xhtml"><head><title>Features</title></head>\n'
            '<body><form name="Form1" method="post" action="Features.aspx" id="Form1">\n'
            '<div><input type="hidden" name="__VIEWSTATE" id="__VIEWSTATE" value="%s" /></div>\n'
            '<input name="txtvalue" type="text" value="%s" id="txtvalue" />\n%s'
            '</form></body></html>\n' % ("dDwtMTA4MTc2NTk2Ozs+" * 40, html.escape(listing),
                                         signature))
    with open(os.path.join(folder, "page.html"), "w", encoding="utf-8") as out:
        out.write(page)
    with open(os.path.join(folder, "nginx.conf"), "w") as out:
        out.write(NGINX_CONF % {"dir": folder, "port": port})
    server = subprocess.Popen(["nginx", "-c", os.path.join(folder, "nginx.conf"), "-p", folder],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    url = "http://127.0.0.1:%d/Features.aspx" % port
    deadline = time.monotonic() + 10
    while subprocess.run(["curl", "-s", "-o", "/dev/null", url]).returncode != 0:
        if time.monotonic() > deadline or server.poll() is not None:
            server.kill()
            sys.exit("run_process_bench: nginx did not start on port %d" % port)
        time.sleep(0.05)
    return server


def first(build, port, runs, warmup, key):
    app = tempfile.mkdtemp(prefix="firstload-bench-")
    web = tempfile.mkdtemp(prefix="firstload-bench-web-")
    server = None
    try:
        prepare_app(build, app)
        server = start_nginx(web, port, 300, key)
        # No proxy variable: both ask the desktop's settings, as a user's run does.
        env = {k: v for k, v in headless_env().items() if not k.lower().endswith("_proxy")}
        launcher = os.path.join(build, "bench_launch")
        listfile = os.path.join(app, "FeatDlods.txt")
        fetched = os.path.join(app, "fetched.html")
        url = "http://127.0.0.1:%d/Features.aspx?&APPCODE=680570080&FeatureName=1" % port
        programs = {"FirstLoad": (os.path.join(app, "FirstLoad"),),
                    "floor": (os.path.join(app, "FirstFloor"),),
                    "curl": (shutil.which("curl"), "-s", "-o", fetched, url)}
        stored = {}

        def once(name):
            for path in (listfile, fetched):
                if os.path.exists(path):
                    os.remove(path)
            run = run_program(launcher, *programs[name][:1], env, *programs[name][1:],
                              starts=name != "curl")
            if name != "curl":
                with open(listfile, "rb") as f:
                    stored[name] = f.read()
            return run
        for _ in range(warmup):
            for name in programs:
                once(name)
        # The floor must store what FirstLoad stores, or it does other work.
        if stored["FirstLoad"] != stored["floor"]:
            sys.exit("run_process_bench: the first-run floor stores another list")
        results = {name: [] for name in programs}
        for i in range(runs):
            order = list(programs) if i % 2 == 0 else list(reversed(programs))
            for name in order:
                results[name].append(once(name))
    finally:
        if server is not None:
            server.kill()
            server.wait()
        shutil.rmtree(app, ignore_errors=True)
        shutil.rmtree(web, ignore_errors=True)
    return {name: {"median_ms": statistics.median(r.wall for r in rs) * 1e3, "runs": len(rs)}
            for name, rs in results.items()}


def start_xvfb(extra=()):
    """A private X server; its display number once it accepts clients."""
    read, write = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24",
                               "-nolisten", "tcp"] + list(extra), pass_fds=(write,),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read) as announce:
        number = announce.readline().strip()
    if not number:
        server.kill()
        server.wait()
        sys.exit("run_process_bench: Xvfb did not start")
    return server, ":" + number


def window(build, port, runs, warmup, settle_ms=500):
    app = tempfile.mkdtemp(prefix="firstload-bench-")
    xvfb = None
    # A service that takes the connection and never answers: the run waits
    # with its window up for as long as it is left.
    silent = socket.socket()
    silent.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    silent.bind(("127.0.0.1", port))
    silent.listen(1024)
    try:
        prepare_app(build, app)
        shutil.copy(os.path.join(build, "bench_window_floor"), os.path.join(app, "WindowFloor"))
        # Without GLX: Xvfb's would have GTK load Mesa's software renderer and
        # LLVM (44 MB resident) into both programs alike, which hides the
        # difference; a desktop's own GL driver differs from machine to machine.
        xvfb, display = start_xvfb(["-extension", "GLX"])
        env = {k: v for k, v in headless_env().items() if not k.lower().endswith("_proxy")}
        env["DISPLAY"] = display
        mapwait = os.path.join(build, "bench_mapwait")
        programs = {"FirstLoad": os.path.join(app, "FirstLoad"),
                    "floor": os.path.join(app, "WindowFloor")}

        def once(name):
            # Xvfb now and then refuses a client while it tears down the last
            # one; a second try is no other measurement.
            for attempt in range(3):
                done = subprocess.run([mapwait, str(settle_ms), programs[name]], env=env,
                                      stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
                if done.returncode == 0:
                    mapped_ns, rss, group = (int(x) for x in done.stdout.split())
                    return {"map_ms": mapped_ns / 1e6, "rss_kb": rss, "pss_kb": group}
            sys.exit("run_process_bench: %s: %s" % (name, done.stderr.strip()))
        for _ in range(warmup):
            for name in programs:
                once(name)
        results = {name: [] for name in programs}
        for i in range(runs):
            order = list(programs) if i % 2 == 0 else list(reversed(programs))
            for name in order:
                results[name].append(once(name))
        if os.path.exists(os.path.join(app, "FeatDlods.txt")):
            sys.exit("run_process_bench: the silent service answered")
    finally:
        silent.close()
        if xvfb is not None:
            xvfb.terminate()
            xvfb.wait()
        shutil.rmtree(app, ignore_errors=True)
    return {name: {key + "_median": statistics.median(r[key] for r in rs)
                   for key in ("map_ms", "rss_kb", "pss_kb")} | {"runs": len(rs)}
            for name, rs in results.items()}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--runs", type=int, default=40)
    parser.add_argument("--warmup", type=int, default=5)
    parser.add_argument("--waiting-runs", type=int, default=3)
    parser.add_argument("--delay", type=float, default=5.0)
    parser.add_argument("--json")
    parser.add_argument("--minisign-key", help="signs the lists of the first and the waiting "
                        "runs with this key, for a build with its public key in FEATURE_LIST_KEYS")
    parser.add_argument("--web-port", type=int, default=0,
                        help="nginx's port for the first run; the service's port by default")
    parser.add_argument("--window-runs", type=int, default=30)
    parser.add_argument("--only", choices=("common", "waiting", "first", "window"))
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    become_subreaper()

    result = {}
    if args.only in (None, "window"):
        result["window"] = window(build, args.port, args.window_runs, args.warmup)
        print("first window, %d interleaved runs each, a service that never answers:"
              % args.window_runs)
        for name in ("FirstLoad", "floor"):
            r = result["window"][name]
            print("  %-9s mapped after %.2f ms (median); while waiting, proportional set of "
                  "every process it started %d KiB, resident %d KiB"
                  % (name, r["map_ms_median"], r["pss_kb_median"], r["rss_kb_median"]))
        if args.only == "window":
            if args.json:
                with open(args.json, "w") as out:
                    json.dump(result, out, indent=1)
            return 0
    if args.only in (None, "first"):
        result["first"] = first(build, args.web_port or args.port, args.runs, args.warmup,
                                args.minisign_key)
        f = result["first"]
        print("first run, %d interleaved runs each, 300-row list from nginx:" % args.runs)
        for name in ("FirstLoad", "floor", "curl"):
            print("  %-9s median %.2f ms" % (name, f[name]["median_ms"]))
        if args.only == "first":
            return 0
    result["common"] = common(build, args.runs, args.warmup)
    c = result["common"]
    print("common run, %d interleaved runs each:" % args.runs)
    for name in ("FirstLoad", "floor"):
        s = c[name]
        print("  %-9s median %.2f ms (p10 %.2f, p90 %.2f), max RSS %d KiB"
              % (name, s["median_ms"], s["p10_ms"], s["p90_ms"], s["max_rss_kb"]))
    print("  (the launcher's own peak RSS, the most either figure can owe to it: %d KiB)"
          % c["floor"]["launcher_rss_kb"])

    result["waiting"] = waiting(build, args.port, args.waiting_runs, args.delay,
                                args.minisign_key)
    w = result["waiting"]
    print("waiting for a %.0f s answer, %d runs:" % (args.delay, args.waiting_runs))
    for r in w["runs"]:
        print("  wall %.3f s, CPU %.1f ms: %.3f %%" % (r["wall_s"], r["cpu_s"] * 1e3,
                                                        r["share_pct"]))
    if args.json:
        with open(args.json, "w") as out:
            json.dump(result, out, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
