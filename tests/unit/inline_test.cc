// Inline commands in the contexts a document reaches only through blocks:
// literal text, table rows and nested suppression.  Each case parses a
// snippet on a state set up for the context and compares what is written.

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <random>

#include "fixture.h"
#include "teximan.h"

namespace {

struct inlinecase {
	const char *name;
	int literaldepth;
	int listkind;
	size_t column; // the output line already holds this much
	int pendingspace;
	const char *input;
	const char *expect;
};

// A state writing into a string, parsing `input` as its only input.
struct snippet {
	texistate st;
	texistate *p = &st;
	std::string out;

	explicit snippet(std::string_view text)
	{
		loadtext(st, text, out);
	}
	std::string run()
	{
		size_t pos = 0;
		while (pos < BUFSZ(p))
			parseelement(p, pos);
		outflush(p);
		return out;
	}
};

const inlinecase inlinecases[] = {
	{"font is dropped in literal text", 1, LIST_NONE, 0, 0, "@code{x} @b{y}.", "x y."},
	{"font is dropped in a table row", 0, LIST_TABLE, 0, 0, "@code{x} @b{y}.", "x y."},
	{"reference keeps its macro in literal text", 1, LIST_NONE, 0, 0, "@xref{n, t}.", "See Section\n.Dq n .\n"},
	{"reference keeps its macro in a table row", 0, LIST_TABLE, 0, 0, "@url{u}", ".Lk u\n"},
	{"symbol owes no space in literal text", 1, LIST_NONE, 2, 1, "@dots{}", "..."},
	{"symbol pays the owed space in running text", 0, LIST_NONE, 2, 1, "@dots{}", " ..."},
	{"symbol owes no space at a line start", 0, LIST_NONE, 0, 1, "@dots{}", "\\&..."},
	{"accent owes no space in literal text", 1, LIST_NONE, 2, 1, "@'e", "\\('e"},
	{"verb owes no space in literal text", 1, LIST_NONE, 2, 1, "@verb{|a b|}", "a b"},
	{"math pays the owed space in a table row", 0, LIST_TABLE, 2, 1, "@math{a}", " a"},
	{"cross reference pays the owed space", 0, LIST_NONE, 2, 1, "@pxref{n}", " see Section\n.Dq n\n"},
	{"cross reference owes none in literal text", 1, LIST_NONE, 2, 1, "@pxref{n}", "see Section\n.Dq n\n"},
};

void PrintTo(const inlinecase &c, std::ostream *os) { *os << c.name; }

class inlinecontext : public testing::TestWithParam<inlinecase> {};

TEST_P(inlinecontext, writes)
{
	const inlinecase &c = GetParam();
	snippet s(c.input);
	s.st.literaldepth = c.literaldepth;
	s.st.listkind = c.listkind;
	s.st.column = c.column;
	s.st.pendingspace = c.pendingspace;
	EXPECT_EQ(s.run(), c.expect);
	EXPECT_EQ(s.st.openmacros, 0);
	EXPECT_EQ(s.st.pendingspace, 0);
}

INSTANTIATE_TEST_SUITE_P(contexts, inlinecontext, testing::ValuesIn(inlinecases),
    [](const testing::TestParamInfo<inlinecase> &i) { return casename(i.param.name); });

// Dropping the arguments after the first raises the suppression depth for a
// while; whatever depth was in force before is in force after, so that text
// following the command is written exactly when it was going to be.
TEST(inlinecontext, suppressiondepthisrestored)
{
	for (int depth : {0, 1, 3}) {
		for (const char *input : {"@xref{a, b @b{c}, d, e}", "@acronym{A, B, C}", "@uref{u, @email{m, n}}"}) {
			snippet s(input);
			s.st.ignoredepth = depth;
			s.run();
			EXPECT_EQ(s.st.ignoredepth, depth) << input;
		}
	}
}

// The group of @command read the simple way: after white space, a "{", then
// bytes up to the first white one, or to the "}" that balances the "{".
bool groupholdswhitebyscan(texistate *p, size_t pos)
{
	size_t n = BUFSZ(p);
	while (pos < n && whitebyte(BUF(p, pos)))
		pos++;
	if (pos >= n || BUF(p, pos) != '{')
		return false;
	for (size_t depth = 0; pos < n; pos++) {
		char c = BUF(p, pos);
		if (whitebyte(c))
			return true;
		if (c == '{')
			depth++;
		else if (c == '}' && --depth == 0)
			return false;
	}
	return false;
}

// Long stretches without white space hold many groups; the marks that keep
// them from being scanned once per group must give what the scan gives, as
// the position moves on and expansions insert text at it.
TEST(commandgroup, marksmatchthescan)
{
	const char *pieces[] = {"{", "{", "}", "}", "a", "@command{", "{}", "{{", "}}", "xyz", " ", "\n", "\t"};
	std::mt19937 rng(15);
	size_t marksused = 0;
	for (int trial = 0; trial < 200; trial++) {
		auto piece = [&] {
			// White space is rare, so that stretches run long.
			const char *s = pieces[rng() % std::size(pieces)];
			return whitebyte(*s) && rng() % 40 != 0 ? "b" : s;
		};
		std::string text;
		while (text.size() < 3000 + rng() % 3000)
			text += piece();
		snippet s(text);
		texistate *p = s.p;
		size_t pos = 0;
		while (pos < BUFSZ(p)) {
			if (rng() % 8 == 0) {
				std::string ins;
				for (size_t k = rng() % 60; k > 0; k--)
					ins += piece();
				texisplice(p, ins.data(), ins.size(), pos);
			}
			bool top = !p->cmdgroups.unclosed.empty();
			ASSERT_EQ(groupholdswhite(p, pos), groupholdswhitebyscan(p, pos))
			    << "trial " << trial << " at " << pos << ": " << std::string(BUFAT(p, pos), std::min<size_t>(BUFSZ(p) - pos, 80));
			marksused += top;
			for (size_t k = rng() % 24 + 1; k > 0 && pos < BUFSZ(p); k--)
				stepone(p, pos);
		}
	}
	EXPECT_GT(marksused, 1000u); // the marks were there to be read
}

// Marks belong to one input: once it is closed, another in its place on the
// stack must not read them.
TEST(commandgroup, marksgowiththeirinput)
{
	snippet s("@command{" + std::string(1000, '{') + " x}");
	EXPECT_TRUE(groupholdswhite(s.p, 8));
	EXPECT_EQ(s.st.cmdgroups.filepos, 1u);
	texifilepop(s.p);
	EXPECT_EQ(s.st.cmdgroups.filepos, 0u);
	EXPECT_TRUE(s.st.cmdgroups.unclosed.empty());
}

} // namespace
