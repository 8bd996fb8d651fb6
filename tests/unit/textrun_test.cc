// Running text written in bulk must be exactly what the word-by-word writer
// writes: the same bytes, the same line state, the same position, on text
// lines and macro lines, in tables and out, filled and literal.  Double
// quotes are escaped on macro lines alone, so every mix has some.

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <tuple>
#include <utility>

#include "fixture.h"
#include "teximan.h"

namespace {

struct result {
	std::string out;
	size_t pos, line, col, column;
	int pendingspace, parabreak;
	bool stopped; // a blank line on a macro line ends the run

	// Everything but the bytes written.
	auto state() const { return std::tie(pos, line, col, column, pendingspace, parabreak, stopped); }
};

// Parses `text` as filled running text starting at `column`, with the
// bulk writer or one word at a time.
result flow(const std::string &text, size_t column, bool bulk, bool macroline, int listkind, bool literal)
{
	texistate st;
	texistate *p = &st;
	std::string out;
	loadtext(st, text, out, 256);
	st.column = column;
	st.out.last = column % 3 ? 'x' : ' ';
	st.openmacros = macroline && !literal;
	st.listkind = listkind;
	st.literaldepth = literal;
	size_t pos = 0;
	bool stopped = false;
	try {
		while (pos < BUFSZ(p)) {
			skipspace(p, pos);
			if (pos >= BUFSZ(p))
				break;
			char c = BUF(p, pos);
			if (c == '@' || c == '{' || c == '}')
				break;
			if (!bulk)
				emitword(p, pos, 0);
			else if (literal)
				literalrun(p, pos);
			else
				textrun(p, pos);
		}
	} catch (const texiexit &) {
		stopped = true;
	}
	outflush(p);
	return {out, pos, st.inputs[0].line, st.inputs[0].col, st.column, st.pendingspace, st.parabreak, stopped};
}

// The rest of a line, as the line loop reads it: blanks owe a space (which
// a newline right after them settles), words are written, the newline ends
// it.  Commands and braces are left out: they stop both alike.
result restofline(const std::string &text, size_t column, bool bulk, bool macroline, int listkind)
{
	texistate st;
	texistate *p = &st;
	std::string out;
	loadtext(st, text, out, 256);
	st.column = column;
	st.out.last = ' ';
	st.openmacros = macroline;
	st.listkind = listkind;
	size_t pos = 0;
	while (pos < BUFSZ(p)) {
		char c = BUF(p, pos);
		if (c == '\n') {
			stepone(p, pos);
			break;
		}
		while (blankbyte(c)) {
			p->pendingspace = 1;
			stepone(p, pos);
			if (pos >= BUFSZ(p))
				break;
			c = BUF(p, pos);
		}
		if (pos >= BUFSZ(p) || c == '@' || c == '{' || c == '}')
			break;
		if (!bulk || c == '\n')
			emitword(p, pos, 0);
		else {
			size_t start = pos;
			textline(p, pos);
			if (pos < BUFSZ(p) && BUF(p, pos) == '\n' && pos > start && blankbyte(BUF(p, pos - 1)))
				emitword(p, pos, 0);
		}
	}
	outflush(p);
	return {out, pos, st.inputs[0].line, st.inputs[0].col, st.column, st.pendingspace, st.parabreak, false};
}

size_t count(std::string_view s, std::string_view what)
{
	size_t n = 0;
	for (size_t i = s.find(what); i != s.npos; i = s.find(what, i + what.size()))
		n++;
	return n;
}

// Every double quote consumed is written: as an escape on a macro line, as
// it stands on a text line or a table row.
void expectquotes(const std::string &text, const result &r, bool quoting)
{
	size_t in = count(std::string_view(text).substr(0, r.pos), "\"");
	EXPECT_EQ(count(r.out, "\\(dq"), quoting ? in : 0) << testing::PrintToString(text);
	EXPECT_EQ(count(r.out, "\""), quoting ? 0 : in) << testing::PrintToString(text);
}

TEST(textrun, linematcheswordbyword)
{
	const char *pieces[] = {"word", "Fl", "%A", " ", "  ", "\t", "\n", "x\\y", "``", "''", ".dot", "\"", "\"\"",
	    "$6 == \"Nov\"", "long-word-running-past-the-wrap-column-on-its-own-line-of-text", "a b c d e f g h i j k l m n o p",
	    "ifeq-\"a-long-quoted-argument\"-\"and-another-one-after-it\""};
	std::mt19937 rng(7);
	for (int i = 0; i < 3000; i++) {
		std::string text;
		int n = static_cast<int>(rng() % 30) + 1;
		for (int k = 0; k < n; k++)
			text += pieces[rng() % std::size(pieces)];
		size_t column = rng() % 90 + 1;
		bool macroline = rng() % 2;
		int listkind = rng() % 4 == 0 ? LIST_TABLE : LIST_NONE;
		result a = restofline(text, column, true, macroline, listkind);
		result b = restofline(text, column, false, macroline, listkind);
		ASSERT_EQ(a.out, b.out) << testing::PrintToString(text) << " at column " << column
					<< (macroline ? " on a macro line" : "") << (listkind ? " in a table" : "");
		ASSERT_EQ(a.state(), b.state()) << testing::PrintToString(text);
		expectquotes(text, a, macroline && listkind != LIST_TABLE);
	}
}

TEST(textrun, matcheswordbyword)
{
	const char *pieces[] = {"word", "Fl", "It", "%A", "Ar,", "Xo", "Sh", "No'", "a", ".dot", "'q", "''", "``", "`", "'", "\\", "x\\y", " ", "  ",
	    "\t", "\n", "\n\n", "\n \n", " \n", ",", ".", "it's", "\"", "\"\"", "\"Nov\"", "a\"b", "\r", std::string_view("\0", 1).data(),
	    "caf\xc3\xa9", "a-very-long-word-that-runs-on-and-on-and-on-past-the-wrap-column-alone",
	    "ifeq-\"a-long-quoted-argument\"-\"and-another-one-after-it\"",
	    "ab cd ef gh ij kl mn op qr st uv wx yz ab cd ef gh ij kl mn op qr st uv wx yz",
	    "one two\nthree four\nfive six seven eight nine ten eleven twelve thirteen fourteen", "@", "}",
	    "a sentence ends.  Then\nthe next ``quoted'' one, don't\\stop .dot .dot .dot .dot .dot .dot\n.dot",
	    "x  \ny \t z\n \nw"};
	std::mt19937 rng(20261210);
	for (int i = 0; i < 4000; i++) {
		std::string text;
		int n = static_cast<int>(rng() % 60) + 1;
		for (int k = 0; k < n; k++) {
			const char *piece = pieces[rng() % std::size(pieces)];
			text += *piece ? std::string(piece) : std::string(1, '\0');
		}
		size_t column = rng() % 90;
		bool macroline = rng() % 2;
		bool literal = rng() % 4 == 0;
		int listkind = rng() % 4 == 0 ? LIST_TABLE : LIST_NONE;
		if (macroline && column == 0)
			column = 4;
		result a = flow(text, column, true, macroline, listkind, literal);
		result b = flow(text, column, false, macroline, listkind, literal);
		ASSERT_EQ(a.out, b.out) << testing::PrintToString(text) << " at column " << column
					<< (macroline ? " on a macro line" : "") << (listkind ? " in a table" : "")
					<< (literal ? " in literal text" : "");
		ASSERT_EQ(a.state(), b.state()) << testing::PrintToString(text);
		expectquotes(text, a, macroline && !literal && listkind != LIST_TABLE);
	}
}

} // namespace

namespace {

// One word written by the word writer on a state set up for the context,
// with `after` behind it in the input: what it writes, and the line state
// it leaves.
std::tuple<std::string, size_t, char, size_t> oneword(const std::string &word, const std::string &after, size_t column,
    char last, bool macroline, bool code, char delim)
{
	texistate st;
	std::string out;
	loadtext(st, word + after, out, 256);
	st.column = column;
	st.out.last = last;
	st.openmacros = macroline;
	st.codedepth = code;
	size_t pos = 0;
	emitword(&st, pos, delim);
	char written = st.out.last;
	outflush(&st);
	return {out, st.column, written, pos};
}

} // namespace

// A word with sixteen bytes after it is measured in one block, and one with
// nothing to escape written in one piece; at the end of the input it goes
// byte by byte.  Both must write the same, guards and all.
TEST(textrun, wordinonepiecematchesbytebybyte)
{
	const char *pieces[] = {"Fl", "It", "Bsx", "%A", ".", ",", "|", "(", "a", "word", "x.y", "--long-option", "\\", "`", "'",
	    "\"", "a-word-longer-than-sixteen-bytes"};
	std::mt19937 rng(2026);
	for (int i = 0; i < 3000; i++) {
		std::string word;
		for (int k = static_cast<int>(rng() % 3) + 1; k > 0; k--)
			word += pieces[rng() % std::size(pieces)];
		size_t column = rng() % 3 == 0 ? 0 : rng() % 80 + 1;
		char last = rng() % 2 ? ' ' : 'x';
		bool macroline = rng() % 2, code = rng() % 2;
		char delim = rng() % 2 ? ',' : 0;
		if (delim && word.find(',') != std::string::npos)
			continue;
		auto alone = oneword(word, "", column, last, macroline, code, delim);
		auto ahead = oneword(word, " " + std::string(20, 'z'), column, last, macroline, code, delim);
		ASSERT_EQ(ahead, alone) << testing::PrintToString(word) << " at column " << column
					<< (macroline ? " on a macro line" : "") << (code ? " in code" : "");
	}
}

namespace {

// A braced group on an open macro line, written by the group loop or, where
// it is simple enough, in one piece: what is written, the line state and
// the position after it.
std::tuple<std::string, size_t, char, size_t, size_t, bool> group(const std::string &text, size_t column, char last, bool code,
    bool onepiece)
{
	texistate st;
	std::string out;
	loadtext(st, text, out, 256);
	st.column = column;
	st.out.last = last;
	st.openmacros = 1;
	st.codedepth = code;
	size_t pos = 0;
	bool simple = false;
	if (onepiece)
		simple = simplewrite(&st, pos, simplegroup(&st, pos));
	try {
		if (!simple)
			parsegroup(&st, pos);
	} catch (const texiexit &) {
		// A command in the group may end the run: then both ways must.
		pos = SIZE_MAX;
	}
	char written = st.out.last;
	outflush(&st);
	return {out, st.column, written, pos, st.inputs[0].col, simple};
}

} // namespace

// The arguments of font commands and references are mostly a few plain
// words: those are written in one piece, and must come out as the group
// loop writes them, guards included, whether the bytes after the group
// fill a block or not.
TEST(textrun, simplegroupmatchesgrouploop)
{
	const char *pieces[] = {"Fl", "It", "Bsx", "Ns", "%A", ".", ",", "|", "(", ")", "a", "word", "x.y", "--opt", " ", "  ", "\t",
	    "\n", "\\", "\"", "`", "'", "@", "{", "a-word-longer-than-sixteen-bytes"};
	std::mt19937 rng(20261211);
	int simple = 0;
	for (int i = 0; i < 4000; i++) {
		std::string body;
		for (int k = static_cast<int>(rng() % 6) + 1; k > 0; k--)
			body += pieces[rng() % std::size(pieces)];
		const std::string text = "{" + body + "}" + (rng() % 2 ? std::string(" after it, and more") : std::string());
		size_t column = rng() % 80 + 4;
		char last = rng() % 2 ? ' ' : 'x';
		bool code = rng() % 2;
		auto fast = group(text, column, last, code, true);
		auto loop = group(text, column, last, code, false);
		simple += std::get<5>(fast);
		std::get<5>(fast) = std::get<5>(loop) = false;
		ASSERT_EQ(fast, loop) << testing::PrintToString(text) << " at column " << column << (code ? " in code" : "")
				      << " after " << testing::PrintToString(last);
	}
	// Both ways were taken, and often.
	EXPECT_GT(simple, 500);
	EXPECT_LT(simple, 3500);
}
