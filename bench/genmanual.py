#!/usr/bin/env python3
"""Writes a large Texinfo manual that looks like a real one, deterministically.

    python3 bench/genmanual.py SIZE_MB [--expansions] > manual.texi

Chapters and sections with paragraphs that use @code, @var, @xref, @dots{},
accents and other inline markup, lists, tag tables, multi-column tables,
examples, definitions, user macros and @value.  With --expansions, a heavy
share of the text comes from macro and @value expansions.  The same size and
flags always give the same bytes.
"""
import random
import sys

WORDS = """the a an of to in is that for it as with was on be by this are or from
at which but not have has had were all when there can more if will one been
file files command commands option options program output input line lines
value values variable variables function functions default directory name
names text string strings character characters pattern patterns rule rules
target targets list number numbers first last each other new set used use
make sed shell script scripts print read write buffer space hold delete
change append insert replace expression regular match matches matching
search order source build install update error message messages warning
""".split()

HEADER = """\\input texinfo   @c -*-texinfo-*-
@c %**start of header
@setfilename bench.info
@settitle A generated manual for benchmarks
@c %**end of header
@set VERSION 4.4.1
@set UPDATED 10 December 2026
@set PROG @command{frob}
@macro frob {arg}
@command{frob} @option{\\arg\\}
@end macro
@macro note
@strong{Note:}
@end macro
@macro var2 {a, b}
@var{\\a\\}=@var{\\b\\}
@end macro
@defcodeindex op
@copying
This manual is for a program that does not exist, version @value{VERSION}.
@end copying
@titlepage
@title A generated manual
@end titlepage
@contents
@ifnottex
@node Top
@top Generated manual
@end ifnottex

This is the manual of @value{PROG}, version @value{VERSION}, updated
@value{UPDATED}.

@menu
* Introduction::  What it is.
@end menu

"""


class Gen:
    def __init__(self, expansions):
        self.r = random.Random(20261210)
        self.exp = expansions
        self.sections = 0

    def words(self, n):
        return " ".join(self.r.choice(WORDS) for _ in range(n))

    def inline(self):
        r = self.r
        k = r.randrange(20 if not self.exp else 26)
        w = r.choice(WORDS)
        if k == 0:
            return "@code{%s_%s}" % (w, r.choice(WORDS))
        if k == 1:
            return "@var{%s}" % w
        if k == 2:
            return "@xref{Section %d}," % r.randrange(1, 1000)
        if k == 3:
            return "@dots{}"
        if k == 4:
            return r.choice(["@'e", "@\"o", "@`a", "@^i", "@~n", "@,{c}", "@ss{}", "caf@'e"])
        if k == 5:
            return "@samp{%s -%s}" % (w, r.choice("abcnpsx"))
        if k == 6:
            return "@emph{%s}" % w
        if k == 7:
            return "@file{/usr/share/%s}" % w
        if k == 8:
            return "@option{--%s}" % w
        if k == 9:
            return "``%s''" % w
        if k == 10:
            return "@pxref{%s %s}." % (w.capitalize(), r.choice(WORDS))
        if k == 11:
            return "@value{VERSION}"
        if k == 12:
            return "@TeX{}"
        if k >= 20:
            return r.choice(["@frob{%s}" % w, "@value{PROG}", "@note{}", "@var2{%s, %s}" % (w, r.choice(WORDS)),
                             "@value{UPDATED}", "@frob{-%s}" % w[0]])
        return self.words(1)

    def paragraph(self):
        out, line = [], []
        n = self.r.randrange(40, 120)
        for i in range(n):
            tok = self.inline() if self.r.random() < (0.12 if not self.exp else 0.3) else self.r.choice(WORDS)
            line.append(tok)
            if i % 11 == 10 and self.r.random() < 0.3:
                line[-1] += "."
                line.append(" ")
            if sum(len(t) + 1 for t in line) > 68:
                out.append(" ".join(line).replace("  ", "  "))
                line = []
        if line:
            out.append(" ".join(line))
        return "\n".join(out) + ".\n\n"

    def block(self):
        r = self.r
        k = r.randrange(6)
        if k == 0:
            items = "".join("@item\n%s.\n" % self.words(r.randrange(5, 20)) for _ in range(r.randrange(2, 6)))
            return "@itemize @bullet\n%s@end itemize\n\n" % items
        if k == 1:
            items = "".join("@item --%s=@var{%s}\n@itemx -%s\n%s.\n\n" % (r.choice(WORDS), r.choice(WORDS), r.choice("abcdefgh"),
                                                                    self.words(r.randrange(8, 30)))
                            for _ in range(r.randrange(2, 5)))
            return "@table @code\n%s@end table\n\n" % items
        if k == 2:
            rows = "".join("@item @code{%s} @tab %s\n" % (r.choice(WORDS), self.words(r.randrange(3, 9)))
                           for _ in range(r.randrange(2, 6)))
            return "@multitable @columnfractions .3 .7\n@headitem Name @tab Meaning\n%s@end multitable\n\n" % rows
        if k == 3:
            lines = "".join("  %s %s @var{%s} | %s\n" % (r.choice(WORDS), r.choice(WORDS), r.choice(WORDS), r.choice(WORDS))
                            for _ in range(r.randrange(2, 8)))
            return "@example\n$ frob -x\n%s@end example\n\n" % lines
        if k == 4:
            return "@deffn Command %s @var{%s} [@var{%s}]\n%s.\n@end deffn\n\n" % (
                r.choice(WORDS), r.choice(WORDS), r.choice(WORDS), self.words(r.randrange(10, 30)))
        return "@quotation\n%s.\n@end quotation\n\n" % self.words(r.randrange(10, 30))

    def section(self):
        self.sections += 1
        n = self.sections
        out = []
        if n % 12 == 1:
            out.append("@node Chapter %d\n@chapter %s\n\n" % (n, self.words(3).capitalize()))
        out.append("@node Section %d\n@section %s %d\n@cindex %s\n@opindex %s\n\n" % (
            n, self.words(3).capitalize(), n, self.words(2), self.r.choice(WORDS)))
        for _ in range(self.r.randrange(2, 5)):
            out.append(self.paragraph())
            if self.r.random() < 0.6:
                out.append(self.block())
        if n % 5 == 0:
            out.append("@subsection %s\n\n%s" % (self.words(2).capitalize(), self.paragraph()))
        return "".join(out)


def main():
    size = float(sys.argv[1]) * 1e6
    g = Gen("--expansions" in sys.argv[2:])
    out = sys.stdout
    out.write(HEADER)
    written = len(HEADER)
    while written < size:
        s = g.section()
        out.write(s)
        written += len(s)
    out.write("@bye\n")


if __name__ == "__main__":
    main()
