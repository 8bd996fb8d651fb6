// Inline commands in the contexts a document reaches only through blocks:
// literal text, table rows and nested suppression.  Each case parses a
// snippet on a state set up for the context and compares what is written.

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>

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

} // namespace
