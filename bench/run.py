#!/usr/bin/env python3
"""The benchmark: throughput, peak memory and growth of the converter on
generated manuals of 1, 10 and 100 MB (plain and with a heavy share of macro
and @value expansions), against the byte filter `tr a b` on the same files,
and on the real manuals against `texi2any --plaintext`.

    python3 bench/run.py [--rounds N] [--teximan PATH] [--quick]

The machines this runs on are shared, and their speed drifts over seconds.
So every comparison is made in rounds (default 5): in each round the two
sides are timed back to back, each as the median of several whole-process
runs (hyperfine where it is installed), and a ratio is the median of the
ratios of the rounds; a time shown is the median of its rounds.  Peak memory
is the maximum resident set of one run.  Generated inputs are kept in
bench/out/.  --quick leaves out the 100 MB inputs.  Then the program pages
of binutils' manual against as many conversions of the whole manual.  Prints
the five targets with pass or miss and exits with 1 if one is missed.
"""
import argparse
import json
import os
import platform
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
OUT = os.path.join(ROOT, "bench", "out")


def run(cmd, stdin=None, cwd=None):
    """Runs cmd once; returns (seconds, resident KB, exit status)."""
    with open(os.devnull, "wb") as null:
        fin = open(stdin, "rb") if stdin else subprocess.DEVNULL
        start = time.perf_counter()
        p = subprocess.Popen(cmd, stdin=fin, stdout=null, stderr=null, cwd=cwd)
        _, status, usage = os.wait4(p.pid, 0)
        elapsed = time.perf_counter() - start
        if stdin:
            fin.close()
    return elapsed, usage.ru_maxrss, os.waitstatus_to_exitcode(status)


def median(cmd, runs, stdin=None, cwd=None, warmup=1):
    """Median seconds of whole-process runs, and the last exit status.
    hyperfine, where it is installed, spawns the process with less overhead
    of its own than this interpreter, and for a command fed from a file
    subtracts the shell it needs for the redirection."""
    if shutil.which("hyperfine"):
        status = run(cmd, stdin, cwd)[2]
        with tempfile.NamedTemporaryFile(suffix=".json") as out:
            if stdin:
                args = ["--warmup", str(warmup), " ".join(shlex.quote(c) for c in cmd) + " < " + shlex.quote(stdin)]
            else:
                args = ["-N", "--warmup", str(warmup), "--", shlex.join(cmd)]
            subprocess.run(["hyperfine", "--style", "none", "-i", "--runs", str(runs), "--export-json", out.name] + args,
                           cwd=cwd, check=True, stdout=subprocess.DEVNULL)
            return json.load(open(out.name))["results"][0]["median"], status
    times, status = [], 0
    for _ in range(runs):
        t, _, status = run(cmd, stdin, cwd)
        times.append(t)
    return statistics.median(times), status


def peak(cmd):
    """Peak resident KB of one run, measured by /usr/bin/time: a child
    forked by this interpreter would count the interpreter's own pages."""
    r = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE, text=True)
    return int(r.stderr.strip().splitlines()[-1])


def generate(name, mb, expansions):
    path = os.path.join(OUT, name)
    if not os.path.exists(path):
        args = [sys.executable, os.path.join(ROOT, "bench", "genmanual.py"), str(mb)]
        if expansions:
            args.append("--expansions")
        with open(path + ".tmp", "w") as f:
            subprocess.run(args, stdout=f, check=True)
        os.rename(path + ".tmp", path)
    return path


def machine():
    cpu = "unknown cpu"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return "%s, %d cores, %s %s" % (cpu, os.cpu_count() or 0, platform.system(), platform.release())


def pairedrounds(a, b, rounds):
    """Times a and b back to back in each of the rounds.  a and b are
    (cmd, runs, stdin, warmup); returns the times of each side and the
    ratios b / a, round by round, and a's last exit status."""
    ta, tb = [], []
    for _ in range(rounds):
        t, status = median(a[0], a[1], stdin=a[2], warmup=a[3])
        ta.append(t)
        tb.append(median(b[0], b[1], stdin=b[2], warmup=b[3])[0])
    return ta, tb, [y / x for x, y in zip(ta, tb)], status


def paired(a, b, rounds):
    """The median time of each side and the median of the rounds' ratios
    b / a, and a's last exit status."""
    ta, tb, ratios, status = pairedrounds(a, b, rounds)
    return statistics.median(ta), statistics.median(tb), statistics.median(ratios), status


def programpages(tex, rounds):
    """The program pages of binutils as its build writes them, one process
    each, against as many conversions of its whole manual: both sides are
    one shell that starts the processes one after the other.  Returns the
    median time of each side, the ratios pages / whole round by round, and
    the pages' last exit status."""
    d = os.path.join(ROOT, "tests", "corpus", "binutils")
    doc = os.path.join(d, "binutils.texi")
    lines = [l.split() for l in open(os.path.join(ROOT, "tests", "corpus", "binutils.pages")) if l.strip()]
    release, pages = lines[0][0], lines[1:]
    write = [shlex.join([tex, "-m", p[0]] + p[1:] + ["-D", "man", "-r", release, doc]) + " >/dev/null" for p in pages]
    whole = [shlex.join([tex, doc]) + " >/dev/null"] * len(pages)
    tp, tw, ratios, status = pairedrounds((["sh", "-c", "; ".join(write)], 11, None, 2),
                                          (["sh", "-c", "; ".join(whole)], 11, None, 2), rounds)
    return len(pages), statistics.median(tp), statistics.median(tw), [1 / r for r in ratios], status


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--teximan", default=os.path.join(ROOT, "build-release", "teximan"))
    ap.add_argument("--quick", action="store_true")
    a = ap.parse_args()
    os.makedirs(OUT, exist_ok=True)
    tex = a.teximan
    print("machine:", machine())
    print()

    sizes = [1, 10] if a.quick else [1, 10, 100]
    # Runs per round: enough for a steady median of the quick ones.
    runs = {1: 21, 10: 7, 100: 3}
    results = {}
    print("%-22s %8s %9s %9s %9s %8s %9s" % ("input", "MB", "teximan s", "MB/s", "tr s", "tr/tex", "peak MB"))
    for exp in (False, True):
        for mb in sizes:
            name = "manual-%dMB%s.texi" % (mb, "-exp" if exp else "")
            path = generate(name, mb, exp)
            size = os.path.getsize(path) / 1e6
            t, ttr, speed, status = paired(([tex, path], runs[mb], None, 1), (["tr", "a", "b"], runs[mb], path, 1),
                                           a.rounds)
            if status != 0:
                sys.exit("%s: status %d" % (name, status))
            mem = peak([tex, path]) / 1024.0
            results[(mb, exp)] = (size, t, speed, mem, path)
            print("%-22s %8.1f %9.3f %9.1f %9.3f %8.2f %9.1f" % (name, size, t, size / t, ttr, 1 / speed, mem))
    print()

    texi2any = shutil.which("texi2any")
    corpus = []
    print("%-22s %8s %9s %12s %9s" % ("real manual", "MB", "teximan s", "texi2any s", "ratio"))
    for name in ("make", "sed", "magit"):
        d = os.path.join(ROOT, "tests", "corpus", name)
        doc = os.path.join(d, name + ".texi")
        size = os.path.getsize(doc) / 1e6
        # A run of a few milliseconds is at the mercy of the scheduler and
        # of whatever ran just before (texi2any, for one): many runs after
        # a few unmeasured ones make its median steady.
        mine = ([tex, "-I", d, doc], 41, None, 5)
        if texi2any:
            theirs = ([texi2any, "--plaintext", "-I", d, "-o", os.devnull, doc], 3, None, 1)
            t, t2, ratio, _ = paired(mine, theirs, a.rounds)
            corpus.append((name, ratio))
            print("%-22s %8.2f %9.4f %12.3f %9.0f" % (name, size, t, t2, ratio))
        else:
            t, _ = median(mine[0], mine[1], warmup=mine[3])
            print("%-22s %8.2f %9.4f %12s" % (name, size, t, "(no texi2any)"))
    print()

    # One program's page reads the whole manual as lines but converts only
    # that page's ranges: all of a manual's pages cost no more than as many
    # conversions of the whole manual.
    n, tp, tw, pageratios, status = programpages(tex, a.rounds)
    if status != 0:
        sys.exit("binutils pages: status %d" % status)
    print("%-22s %12s %12s %9s %15s" % ("program pages", "pages s", "whole s", "ratio", "rounds"))
    print("%-22s %12.4f %12.4f %9.2f %7.2f - %.2f" % ("binutils, %d pages" % n, tp, tw, statistics.median(pageratios),
                                                     min(pageratios), max(pageratios)))
    print()

    big = max(sizes)
    verdicts = []
    speed = results[(big, False)][2]
    verdicts.append(("1. %d MB manual at >= 2/3 of tr's throughput" % big, "%.2f of tr" % speed, speed >= 2 / 3))
    make = [c for c in corpus if c[0] == "make"]
    if make:
        ratio = make[0][1]
        verdicts.append(("2. make manual >= 150x faster than texi2any", "%.0fx" % ratio, ratio >= 150))
    else:
        verdicts.append(("2. make manual >= 150x faster than texi2any", "texi2any missing", False))
    for exp in (False, True):
        small, large = results[(big // 10, exp)][4], results[(big, exp)][4]
        _, _, growth, _ = paired(([tex, small], runs[big // 10], None, 1), ([tex, large], runs[big], None, 1), a.rounds)
        verdicts.append(("3. %d MB / %d MB time%s <= 11" % (big, big // 10, " (expansions)" if exp else ""),
                         "%.2f" % growth, growth <= 11))
    over = max(mem - 1.5 * size - 16 * 1.048576 for (size, _, _, mem, _) in results.values())
    verdicts.append(("4. peak memory < 1.5 x input + 16 MiB", "worst margin %.1f MB" % -over, over < 0))
    pages = statistics.median(pageratios)
    verdicts.append(("5. %d binutils pages <= %d whole conversions" % (n, n), "%.2f of the whole" % pages, pages <= 1))
    for what, value, ok in verdicts:
        print("%-52s %-22s %s" % (what, value, "pass" if ok else "MISS"))
    sys.exit(0 if all(v[2] for v in verdicts) else 1)


if __name__ == "__main__":
    main()
