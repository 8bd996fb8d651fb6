#!/usr/bin/env python3
"""Expansion benchmark: does inserting macro and @value expansions cost in
proportion to the inserted text, whatever the size of the document?

    python3 bench/expansions.py [TEXIMAN]      (default: build-release/teximan)

Prints the median time of several whole-process runs for documents with
10^4, 10^5 and 10^6 expansions spread through proportionally sized text, and
for a 50 MB document with 10^5 expansions against the same document with the
expansions written out by hand.  Two checks: the 10^6 document takes at most
12 times the 10^5 one; the 50 MB document with expansions at most 1.5 times
the written-out one.  As in run.py, the two sides of a check are timed back
to back in each of five rounds, and the check takes the median of the
rounds' ratios: a shared machine's speed drifts over seconds.
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

HEADER = """\\input texinfo
@setfilename bench.info
@settitle expansion benchmark
@macro opt {name}
@option{--\\name\\}
@end macro
@macro note
see the notes
@end macro
@set version 4.2.1
@set prog @command{frob}
@node Top
@top Expansion benchmark
"""

WORDS = ("the quick brown fox jumps over a lazy dog while the converter "
         "reads every byte of text once and writes the page as it goes").split()


def paragraph(i, words):
    return " ".join(WORDS[(i + k) % len(WORDS)] for k in range(words))


def expanded(i):
    """One unit of text using two expansions, and the same written out."""
    uses = "Run @value{prog} with @opt{level%d} (@note{}), version @value{version}.\n" % (i % 97)
    plain = "Run @command{frob} with @option{--level%d} (see the notes\n), version 4.2.1.\n" % (i % 97)
    return uses, plain


def document(path, units, filler_words, written_out=False):
    with open(path, "w") as f:
        f.write(HEADER)
        for i in range(units):
            if i % 200 == 0:
                f.write("\n@chapter Chapter %d\n\n" % (i // 200))
            uses, plain = expanded(i)
            f.write(plain if written_out else uses)
            f.write(paragraph(i, filler_words) + "\n\n")
        f.write("@bye\n")
    return os.path.getsize(path)


def timed(binary, path, runs):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        with open(os.devnull, "w") as out:
            r = subprocess.run([binary, path], stdout=out, stderr=subprocess.PIPE)
        times.append(time.perf_counter() - start)
        if r.returncode != 0:
            sys.exit("%s: status %d: %s" % (path, r.returncode, r.stderr[:500]))
    return statistics.median(times)


ROUNDS = 5


def paired(binary, a, b, runs):
    """Median times of a and b, timed back to back in each round, and the
    median of the rounds' ratios b / a."""
    ta, tb = [], []
    for _ in range(ROUNDS):
        ta.append(timed(binary, a, runs))
        tb.append(timed(binary, b, runs))
    return statistics.median(ta), statistics.median(tb), statistics.median(y / x for x, y in zip(ta, tb))


def main():
    binary = sys.argv[1] if len(sys.argv) > 1 else "build-release/teximan"
    tmp = tempfile.mkdtemp(prefix="teximan-bench-")
    print("%-40s %10s %10s" % ("document", "MB", "median s"))
    # Four expansions per unit (two @value, one macro with an argument, one
    # without), so units = expansions / 4.
    paths, sizes = {}, {}
    for expansions in (10**4, 10**5, 10**6):
        paths[expansions] = os.path.join(tmp, "exp%d.texi" % expansions)
        sizes[expansions] = document(paths[expansions], expansions // 4, 12)
    # 50 MB with 10^5 expansions: long paragraphs between the expansions.
    units = 10**5 // 4
    filler = 50 * 10**6 // units // 6
    with_exp = os.path.join(tmp, "big-expanded.texi")
    by_hand = os.path.join(tmp, "big-by-hand.texi")
    s1 = document(with_exp, units, filler)
    s2 = document(by_hand, units, filler, written_out=True)

    t4 = timed(binary, paths[10**4], 5)
    t5, t6, growth = paired(binary, paths[10**5], paths[10**6], 3)
    for n, t in ((10**4, t4), (10**5, t5), (10**6, t6)):
        print("%-40s %10.1f %10.3f" % ("%d expansions" % n, sizes[n] / 1e6, t))
    t2, t1, overhead = paired(binary, by_hand, with_exp, 3)
    print("%-40s %10.1f %10.3f" % ("50 MB, 10^5 expansions", s1 / 1e6, t1))
    print("%-40s %10.1f %10.3f" % ("50 MB, written out by hand", s2 / 1e6, t2))
    for path in list(paths.values()) + [with_exp, by_hand]:
        os.remove(path)
    os.rmdir(tmp)

    ok1, ok2 = growth <= 12, overhead <= 1.5
    print()
    print("10^6 / 10^5 expansions: %.2f (at most 12): %s" % (growth, "pass" if ok1 else "MISS"))
    print("50 MB expanded / by hand: %.2f (at most 1.5): %s" % (overhead, "pass" if ok2 else "MISS"))
    sys.exit(0 if ok1 and ok2 else 1)


if __name__ == "__main__":
    main()
