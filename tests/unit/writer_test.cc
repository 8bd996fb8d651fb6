// The writer's column, escape and line rules, one row per rule: a few
// operations on a fresh state, the bytes they write and the column after.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "fixture.h"
#include "teximan.h"

namespace {

// A state writing into a string, with one input holding `text`.
struct harness {
	texistate st;
	texistate *p = &st;
	std::string out;
	size_t pos = 0;

	explicit harness(std::string_view text = "")
	{
		loadtext(st, text, out);
	}
	std::string written()
	{
		outflush(p);
		return out;
	}
};

struct writercase {
	const char *name;
	const char *input; // the innermost input's text
	std::function<void(harness &)> ops;
	const char *expect;
	size_t column;
};

const writercase writercases[] = {
	{"dot at line start is guarded", "", [](harness &h) { outchar(h.p, '.'); }, "\\&.", 1},
	{"quote at line start is guarded", "", [](harness &h) { outchar(h.p, '\''); }, "\\&'", 1},
	{"dot mid-line is not", "", [](harness &h) { outchar(h.p, 'x'); outchar(h.p, '.'); }, "x.", 2},
	{"backslash is escaped and counts one", "", [](harness &h) { outchar(h.p, '\\'); }, "\\e", 1},
	{"newline returns to column 0", "", [](harness &h) { outchar(h.p, 'x'); h.st.pendingspace = 1; outchar(h.p, '\n'); }, "x\n", 0},
	{"string at line start is guarded", "", [](harness &h) { outstr(h.p, ".x"); }, "\\&.x", 2},
	{"string newlines go unnoticed", "", [](harness &h) { outstr(h.p, "l.\n"); }, "l.\n", 3},
	{"macro starts its own line", "", [](harness &h) { outchar(h.p, 'a'); outmacroopen(h.p, "Em"); }, "a\n.Em ", 3},
	{"nested macro stays on the line", "", [](harness &h) { outmacroopen(h.p, "Em"); outmacroopen(h.p, "Li"); outmacroclose(h.p); outmacroclose(h.p); }, ".Em  Li \n", 0},
	{"block macro ends the text line", "", [](harness &h) { outchar(h.p, 'a'); outblockmacro(h.p, "Bl -bullet"); }, "a\n.Bl -bullet\n", 0},
	{"one break for two requests", "", [](harness &h) { outchar(h.p, 'a'); outparagraph(h.p); outparagraph(h.p); }, "a\n.Pp\n", 0},
	{"no break inside a table", "", [](harness &h) { h.st.listkind = LIST_TABLE; outchar(h.p, 'a'); outparagraph(h.p); }, "a", 1},
	{"owed space at column 72 is a space", "w", [](harness &h) { h.st.column = 72; h.st.pendingspace = 1; emitword(h.p, h.pos, 0); }, " w", 74},
	{"owed space at column 73 is a line break", "w", [](harness &h) { h.st.column = 73; h.st.pendingspace = 1; emitword(h.p, h.pos, 0); }, "\nw", 1},
	{"no wrap on a macro line", "w", [](harness &h) { outmacroopen(h.p, "Em"); h.st.column = 80; h.st.pendingspace = 1; emitword(h.p, h.pos, 0); }, ".Em  w", 82},
	{"no owed space at line start", "w", [](harness &h) { h.st.pendingspace = 1; emitword(h.p, h.pos, 0); }, "w", 1},
	{"no owed space in literal text", "w", [](harness &h) { h.st.column = 5; h.st.literaldepth = 1; h.st.pendingspace = 1; emitword(h.p, h.pos, 0); }, "w", 6},
	{"quote pairs become escapes", "``q''", [](harness &h) { emitword(h.p, h.pos, 0); }, "\\(lqq\\(rq", 9},
	{"lone quotes stay", "`q'", [](harness &h) { outchar(h.p, 'x'); emitword(h.p, h.pos, 0); }, "x`q'", 4},
	{"closing pair at line start is not guarded", "''", [](harness &h) { emitword(h.p, h.pos, 0); }, "\\(rq", 4},
	{"a word ends at the delimiter", "a,b", [](harness &h) { emitword(h.p, h.pos, ','); }, "a", 1},
	{"a comma is text without a delimiter", "a,b", [](harness &h) { emitword(h.p, h.pos, 0); }, "a,b", 3},
	{"silence writes nothing but spends the space", "word", [](harness &h) { h.st.ignoredepth = 1; h.st.column = 3; h.st.pendingspace = 1; emitword(h.p, h.pos, 0); EXPECT_EQ(h.st.pendingspace, 0); EXPECT_EQ(h.pos, 4u); }, "", 3},
	{"macro name as an argument is written as text", "Fl x", [](harness &h) { outmacroopen(h.p, "Li"); emitword(h.p, h.pos, 0); }, ".Li \\&Fl", 5},
	{"macro name run on into a command is not", "Fl@", [](harness &h) { outmacroopen(h.p, "Li"); emitword(h.p, h.pos, 0); }, ".Li Fl", 5},
	{"macro name in a table row is not", "Fl", [](harness &h) { h.st.listkind = LIST_TABLE; h.st.openmacros = 1; h.st.column = 2; h.st.out.last = ' '; emitword(h.p, h.pos, 0); }, "Fl", 4},
	{"macro name on a text line is not", "Fl", [](harness &h) { outchar(h.p, 'a'); outchar(h.p, ' '); emitword(h.p, h.pos, 0); }, "a Fl", 4},
	{"punctuation moves onto the macro line", "). x", [](harness &h) { outmacroopen(h.p, "Li"); outtrailpunct(h.p, h.pos); EXPECT_EQ(h.pos, 2u); }, ".Li  ) .", 7},
	{"punctuation before a letter stays", ".x", [](harness &h) { outmacroopen(h.p, "Li"); outtrailpunct(h.p, h.pos); EXPECT_EQ(h.pos, 0u); }, ".Li ", 3},
	{"punctuation stays under a nested macro", ".", [](harness &h) { outmacroopen(h.p, "Em"); outmacroopen(h.p, "Li"); outtrailpunct(h.p, h.pos); }, ".Em  Li ", 6},
	{"punctuation at the end of the input moves", ",", [](harness &h) { outmacroopen(h.p, "Li"); outtrailpunct(h.p, h.pos); }, ".Li  ,", 5},
	{"double quote on a macro line is escaped", "", [](harness &h) { outmacroopen(h.p, "Nd"); outchar(h.p, '"'); }, ".Nd \\(dq", 4},
	{"double quote in text on a macro line is escaped", "", [](harness &h) { outmacroopen(h.p, "Li"); outtext(h.p, "a\"\\\"", 4); }, ".Li a\\(dq\\e\\(dq", 7},
	{"double quotes of a word on a macro line are escaped, not paired", "\"\"x\"", [](harness &h) { outmacroopen(h.p, "Li"); emitword(h.p, h.pos, 0); }, ".Li \\(dq\\(dqx\\(dq", 7},
	{"double quote moves onto the macro line escaped", "\". x", [](harness &h) { outmacroopen(h.p, "Li"); outtrailpunct(h.p, h.pos); }, ".Li  \\(dq .", 7},
	{"double quote on a text line stays", "\"x\"", [](harness &h) { outchar(h.p, '"'); emitword(h.p, h.pos, 0); outtext(h.p, "\"", 1); }, "\"\"x\"\"", 5},
	{"double quote in a table row stays", "\"x\"", [](harness &h) { h.st.listkind = LIST_TABLE; h.st.openmacros = 1; outchar(h.p, '"'); emitword(h.p, h.pos, 0); outtext(h.p, "\"", 1); }, "\"\"x\"\"", 5},
};

void PrintTo(const writercase &c, std::ostream *os) { *os << c.name; }

class writer : public testing::TestWithParam<writercase> {};

TEST_P(writer, writes)
{
	const writercase &c = GetParam();
	harness h(c.input);
	c.ops(h);
	EXPECT_EQ(h.written(), c.expect);
	EXPECT_EQ(h.st.column, c.column);
}

INSTANTIATE_TEST_SUITE_P(rules, writer, testing::ValuesIn(writercases),
    [](const testing::TestParamInfo<writercase> &i) { return casename(i.param.name); });

TEST(writer, blockmacroinlinescopeisfatal)
{
	harness h;
	outmacroopen(h.p, "Em");
	EXPECT_THROW(outblockmacro(h.p, "Pp"), texiexit);
}

TEST(writer, silencekeepsmacrocountbalanced)
{
	harness h;
	h.st.ignoredepth = 1;
	outmacroopen(h.p, "Em");
	EXPECT_EQ(h.st.openmacros, 0);
	outparagraph(h.p);
	EXPECT_EQ(h.st.parabreak, 1);
	EXPECT_EQ(h.written(), "");
}

// Output larger than the buffer goes out whole and in order.
TEST(writer, longtextpassesthebuffer)
{
	std::string word(1000, 'a');
	harness h(word);
	emitword(h.p, h.pos, 0);
	outchar(h.p, '\\');
	EXPECT_EQ(h.written(), word + "\\e");
	EXPECT_EQ(h.st.column, 1001u);
}

// ---------------------------------------------------------------------------
// Diagnostic prefixes, with and without inserted text pending.

std::string diag(size_t splicerem, bool error)
{
	harness h("abc\ndef");
	char *buf = nullptr;
	size_t len = 0;
	std::FILE *f = open_memstream(&buf, &len);
	h.st.errf = f;
	h.st.inputs[0].line = 1;
	h.st.inputs[0].col = 2;
	h.st.inputs[0].splicerem = splicerem;
	if (error)
		EXPECT_THROW(texierror(h.p, "bad %s", "thing"), texiexit);
	else
		texiwarning(h.p, "bad %s", "thing");
	std::fclose(f);
	std::string s(buf, len);
	std::free(buf);
	return s;
}

TEST(diagnostics, prefixes)
{
	EXPECT_EQ(diag(0, false), "t.texi:2:3: warning: bad thing\n");
	EXPECT_EQ(diag(7, false), "t.texi:2:3 (7B left in splice): warning: bad thing\n");
	EXPECT_EQ(diag(0, true), "t.texi:2:3: error: bad thing\n");
	EXPECT_EQ(diag(7, true), "t.texi:2:3: (7B left in splice): error: bad thing\n");
}

// Positions: own bytes move line and column, inserted ones count down.
TEST(positions, stepping)
{
	harness h("ab\ncd\n\nef");
	advanceto(h.p, h.pos, 4);
	EXPECT_EQ(h.st.inputs[0].line, 1u);
	EXPECT_EQ(h.st.inputs[0].col, 1u);
	skiptoeol(h.p, h.pos, 1);
	EXPECT_EQ(h.pos, 6u);
	EXPECT_EQ(h.st.inputs[0].line, 2u);
	EXPECT_EQ(h.st.inputs[0].col, 0u);
	h.st.inputs[0].splicerem = 2;
	advanceto(h.p, h.pos, 9);
	EXPECT_EQ(h.st.inputs[0].splicerem, 0u);
	EXPECT_EQ(h.st.inputs[0].line, 2u);
	EXPECT_EQ(h.st.inputs[0].col, 1u);
}

} // namespace
