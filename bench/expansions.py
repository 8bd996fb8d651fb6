#!/usr/bin/env python3
"""Expansion benchmark: does inserting macro and @value expansions cost in
proportion to the inserted text, whatever the size of the document?

    python3 bench/expansions.py [TEXIMAN]      (default: build-release/teximan)

Prints the median time of several whole-process runs for documents with
10^4, 10^5 and 10^6 expansions spread through proportionally sized text, and
for a 50 MB document with 10^5 expansions against the same document with the
expansions written out by hand.  Two checks: the 10^6 document takes at most
12 times the 10^5 one; the 50 MB document with expansions at most 1.5 times
the written-out one.
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


def main():
    binary = sys.argv[1] if len(sys.argv) > 1 else "build-release/teximan"
    tmp = tempfile.mkdtemp(prefix="teximan-bench-")
    results = {}
    print("%-40s %10s %10s" % ("document", "MB", "median s"))
    # Four expansions per unit (two @value, one macro with an argument, one
    # without), so units = expansions / 4.
    for expansions in (10**4, 10**5, 10**6):
        path = os.path.join(tmp, "exp%d.texi" % expansions)
        size = document(path, expansions // 4, 12)
        t = timed(binary, path, 5 if expansions < 10**6 else 3)
        results[expansions] = t
        print("%-40s %10.1f %10.3f" % ("%d expansions" % expansions, size / 1e6, t))
        os.remove(path)
    # 50 MB with 10^5 expansions: long paragraphs between the expansions.
    units = 10**5 // 4
    filler = 50 * 10**6 // units // 6
    with_exp = os.path.join(tmp, "big-expanded.texi")
    by_hand = os.path.join(tmp, "big-by-hand.texi")
    s1 = document(with_exp, units, filler)
    s2 = document(by_hand, units, filler, written_out=True)
    t1 = timed(binary, with_exp, 5)
    t2 = timed(binary, by_hand, 5)
    print("%-40s %10.1f %10.3f" % ("50 MB, 10^5 expansions", s1 / 1e6, t1))
    print("%-40s %10.1f %10.3f" % ("50 MB, written out by hand", s2 / 1e6, t2))
    os.remove(with_exp)
    os.remove(by_hand)
    os.rmdir(tmp)

    growth = results[10**6] / results[10**5]
    overhead = t1 / t2
    ok1, ok2 = growth <= 12, overhead <= 1.5
    print()
    print("10^6 / 10^5 expansions: %.2f (at most 12): %s" % (growth, "pass" if ok1 else "MISS"))
    print("50 MB expanded / by hand: %.2f (at most 1.5): %s" % (overhead, "pass" if ok2 else "MISS"))
    sys.exit(0 if ok1 and ok2 else 1)


if __name__ == "__main__":
    main()
