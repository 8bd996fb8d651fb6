// A program's page: the values of its options, and the option grammar of
// SYNOPSIS forms, read and written as macro lines.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fixture.h"
#include "page/page.h"
#include "teximan.h"

namespace {

// ---------------------------------------------------------------------------
// Option values: each bad one is reported with the display name, the run
// writes nothing and exits 1; a good one lets the page be written.

struct optioncase {
	const char *name;
	const char *page;
	std::vector<const char *> defines;
	const char *prog, *release, *section;
	const char *sourcedate;
	const char *expect; // standard error; null: the page is written
};

// A name of the most bytes allowed, and of one more.
const std::string name255(255, 'n'), name256(256, 'n');
const std::string name256msg = "teximan: invalid name \"" + name256 + "\"\n";

const optioncase optioncases[] = {
	{"good values", "prog", {"man", "V=1=2"}, "c++filt", "r 1.0", "3ssl", nullptr, nullptr},
	{"the longest name and section", "prog", {"X="}, name255.c_str(), "", "1abcdefg", nullptr, nullptr},
	{"name too long", "prog", {}, name256.c_str(), nullptr, nullptr, nullptr, name256msg.c_str()},
	{"empty section", "prog", {}, nullptr, nullptr, "", nullptr, "teximan: invalid section \"\"\n"},
	{"section with a blank", "prog", {}, nullptr, nullptr, "1 x", nullptr, "teximan: invalid section \"1 x\"\n"},
	{"-D name with a blank", "prog", {"a b=1"}, nullptr, nullptr, nullptr, nullptr,
	    "teximan: invalid -D name \"a b\"\n"},
	{"page key with other bytes", "c++filt", {}, nullptr, nullptr, nullptr, nullptr,
	    "teximan: invalid page \"c++filt\"\n"},
	{"empty page key", "", {}, nullptr, nullptr, nullptr, nullptr, "teximan: invalid page \"\"\n"},
	{"-D name with a dot", "prog", {"a.b=1"}, nullptr, nullptr, nullptr, nullptr,
	    "teximan: invalid -D name \"a.b\"\n"},
	{"-D without a name", "prog", {"=1"}, nullptr, nullptr, nullptr, nullptr, "teximan: invalid -D name \"\"\n"},
	{"-D value with a newline", "prog", {"ok", "X=a\nb"}, nullptr, nullptr, nullptr, nullptr,
	    "teximan: invalid -D value \"a\nb\"\n"},
	{"empty name", "prog", {}, "", nullptr, nullptr, nullptr, "teximan: invalid name \"\"\n"},
	{"name with a blank", "prog", {}, "a b", nullptr, nullptr, nullptr, "teximan: invalid name \"a b\"\n"},
	{"name with a control byte", "prog", {}, "a\x1f", nullptr, nullptr, nullptr,
	    "teximan: invalid name \"a\x1f\"\n"},
	{"release with a newline", "prog", {}, nullptr, "1\n2", nullptr, nullptr, "teximan: invalid release\n"},
	{"section 0", "prog", {}, nullptr, nullptr, "0", nullptr, "teximan: invalid section \"0\"\n"},
	{"section in capitals", "prog", {}, nullptr, nullptr, "3X", nullptr, "teximan: invalid section \"3X\"\n"},
	{"section of nine bytes", "prog", {}, nullptr, nullptr, "1abcdefgh", nullptr,
	    "teximan: invalid section \"1abcdefgh\"\n"},
	{"the first bad value in the options' order", "a.b", {"c.d"}, "", "\n", "0", nullptr,
	    "teximan: invalid page \"a.b\"\n"},
	{"values before the date", "prog", {}, nullptr, nullptr, "0", "x", "teximan: invalid section \"0\"\n"},
	{"the date after the values", "prog", {}, nullptr, nullptr, "1", "x", "SOURCE_DATE_EPOCH: invalid value\n"},
};

class optionvalues : public testing::TestWithParam<optioncase> {};

TEST_P(optionvalues, checked)
{
	const optioncase &c = GetParam();
	const std::string_view doc = "@c man title prog a program\n@c man begin DESCRIPTION\nText.\n@c man end\n";
	std::string out;
	char *err = nullptr;
	size_t errsize = 0;
	std::FILE *errf = open_memstream(&err, &errsize);
	ASSERT_NE(errf, nullptr);
	texioptions opt;
	opt.indata = &doc;
	opt.outcapture = &out;
	opt.errf = errf;
	opt.page = c.page;
	opt.defines = c.defines;
	opt.name = c.prog;
	opt.release = c.release;
	opt.section = c.section;
	opt.sourcedate = c.sourcedate;
	int status = texiconvert(opt);
	std::fclose(errf);
	std::string msg(err, errsize);
	std::free(err);
	if (c.expect == nullptr) {
		EXPECT_EQ(status, 0);
		EXPECT_EQ(msg, "");
		EXPECT_NE(out.find(std::string(".Nm ") + (c.prog ? c.prog : c.page) + "\n"), std::string::npos) << out;
	} else {
		EXPECT_EQ(status, 1);
		EXPECT_EQ(msg, c.expect);
		EXPECT_EQ(out, "");
	}
}

INSTANTIATE_TEST_SUITE_P(page, optionvalues, testing::ValuesIn(optioncases),
    [](const testing::TestParamInfo<optioncase> &i) { return casename(i.param.name); });

// ---------------------------------------------------------------------------
// Forms: the source of a form and the macro lines it gives.  The first eight
// are real synopses.

struct formcase {
	const char *name;
	formcontext ctx;
	const char *text;
	const char *expect; // the lines, each ending in a newline; or "refused @CMD at N"
	const char *unmatched = ""; // offsets of unmatched "]", each followed by a space
	bool unclosed = false;
};

// Groups nested one level deeper than the grammar reads.
std::string nested(size_t depth)
{
	std::string t;
	for (size_t i = 0; i < depth; i++)
		t += "@b{";
	return t + "x" + std::string(depth, '}');
}
const std::string nested64 = nested(64), nested65 = nested(65);

const formcase formcases[] = {
	{"ar", FORMNAMED,
	    "ar [@option{-X32_64}] [@option{-}]@var{p}[@var{mod}] [@option{--plugin} @var{name}] @var{archive} "
	    "[@var{member}@dots{}]",
	    "Nm\nOp Fl X32_64\nOo Fl Oc Ns Ar p Ns Oo Ar mod Oc\nOp Fl -plugin Ar name\nAr archive\nOp Ar member ...\n"},
	{"nm", FORMNAMED,
	    "nm [@option{-C}|@option{--demangle}[=@var{style}]] [@option{-f}@var{format}|@option{--format=}@var{format}]\n"
	    "   [@option{--no-recurse-limit}|@option{--recurse-limit}]]",
	    "Nm\nOp Fl C | Fl -demangle Ns Oo No = Ns Ar style Oc\nOp Fl f Ns Ar format | Fl -format= Ns Ar format\n"
	    "Oo Fl -no-recurse-limit | Fl -recurse-limit Oc Ns No \\&]\n",
	    "165 "},
	{"objcopy", FORMNAMED,
	    "objcopy [@option{-i} [@var{breadth}]|@option{--interleave}[=@var{breadth}]]\n"
	    "        [@option{--add-symbol} @var{name}=[@var{section}:]@var{value}[,@var{flags}]]",
	    "Nm\nOp Fl i Oo Ar breadth Oc | Fl -interleave Ns Oo No = Ns Ar breadth Oc\n"
	    "Op Fl -add-symbol Ar name Ns No = Ns Oo Ar section Ns No \\&: Oc Ns Ar value Ns Oo No \\&, Ns Ar flags Oc\n"},
	{"gcov", FORMNAMED, "gcov [@option{-o}|@option{--object-directory} @var{directory|file}] @var{files}",
	    "Nm\nOp Fl o | Fl -object-directory Ar directory|file\nAr files\n"},
	{"gdb", FORMNAMED, "gdb [OPTIONS] [@var{prog}|@var{prog} @var{procID}|@var{prog} @var{core}]",
	    "Nm\nOp Ar OPTIONS\nOp Ar prog | Ar prog Ar procID | Ar prog Ar core\n"},
	{"gcc", FORMNAMED, "gcc [@option{-D}@var{macro}[=@var{defn}]@dots{}] [@@@var{file}] @var{infile}@dots{}",
	    "Nm\nOp Fl D Ns Ar macro Ns Oo No = Ns Ar defn Oc ...\nOp No @ Ns Ar file\nAr infile ...\n"},
	{"gcov-tool", FORMNAMED, "gcov-tool merge [merge-options] @var{directory1}",
	    "Nm\nCm merge\nOp Ar merge-options\nAr directory1\n"},
	{"as TARGET", FORMUNNAMED, "   [@b{-EB}|@b{-EL}]", "Op Fl EB | Fl EL\n"},

	{"words after a flag are modifiers", FORMUNNAMED, "[@option{-O binary}] @option{-x <n>}",
	    "Op Fl O Cm binary\nFl x\nAr <n>\n"},
	{"brackets and bars inside a flag's group", FORMUNNAMED, "@option{-I[dir]|-J}",
	    "Fl I Ns Oo Cm dir Oc | Fl J\n"},
	{"a word ends at a command", FORMUNNAMED, "-o@var{file} x@@y@{z@}", "Fl o Ns Ar file\nAr x@y{z}\n"},
	{"an argument keeps its brackets and blanks", FORMUNNAMED, "@var{a[b]|c d}", "Ar a[b]|c d\n"},
	{"remarks are text", FORMUNNAMED, "[@r{any} @var{x} | @w{-y}]", "Op No any Ar x | No -y\n"},
	{"a subcommand only right after the name", FORMNAMED, "p run File sub", "Nm\nCm run\nAr File\nAr sub\n"},
	{"an unnamed form has no name", FORMUNNAMED, "p run", "Ar p\nAr run\n"},
	{"classes of bare words", FORMUNNAMED, "+x _y ~z /f .d 9 =", "No +x\nAr _y\nAr ~z\nAr /f\nAr .d\nAr 9\nNo =\n"},
	{"an ellipsis is a whole word", FORMUNNAMED, "@var{f}... x... ...", "Ar f ...\nAr x . . .\nNo ...\n"},
	{"closing punctuation before a blank", FORMUNNAMED, "@var{file}, @option{-a}; b.c @var{d}: @var{e}:x",
	    "Ar file ,\nFl a ;\nAr b.c\nAr d :\nAr e Ns No :x\n"},
	{"words read as macros or delimiters are guarded", FORMUNNAMED, "@var{Op} ( @option{-} @option{--} @var{a\\\"}",
	    "Ar \\&Op\nNo \\&(\nFl\nFl -\nAr a\\e\\(dq\n"},
	{"bars and ellipses start no macro", FORMUNNAMED, "| @dots{}", "No |\nNo ...\n"},
	{"an empty argument", FORMUNNAMED, "@var{} @var{ }", "Ar \\&\nAr \\&\n"},
	{"line commands of option lists are ignored", FORMUNNAMED, "@option{-c} @gol\n@option{-S}@gol{}",
	    "Fl c\nFl S\n"},
	{"a bracket left open is closed at the end", FORMNAMED, "p [@option{-a} [@var{b}", "Nm\nOp Fl a Oo Ar b Oc\n", "",
	    true},
	{"an unmatched bracket is text", FORMUNNAMED, "a] [b]]", "Ar a Ns No \\&]\nOo Ar b Oc Ns No \\&]\n", "1 6 "},
	{"tags are in flag context", FORMFLAGS, "-o @var{file}", "Fl o\nAr file\n"},
	{"a bare word in flag context", FORMFLAGS, "-X 32_64", "Fl X\nCm 32_64\n"},
	{"another command is refused", FORMNAMED, "p [@emph{x}]", "refused @emph at 3"},
	{"a font command without its braces", FORMUNNAMED, "@samp -x", "refused @samp at 0"},
	{"a command inside an argument", FORMUNNAMED, "@var{a@code{b}}", "refused @code at 6"},
	{"a symbol command", FORMUNNAMED, "a@*", "refused @* at 1"},
	{"groups nested as deep as read", FORMUNNAMED, nested64.c_str(), "Cm x\n"},
	{"groups nested deeper", FORMUNNAMED, nested65.c_str(), "refused @b at 192"},
};

class forms : public testing::TestWithParam<formcase> {};

TEST_P(forms, lines)
{
	const formcase &c = GetParam();
	std::vector<formtoken> toks;
	size_t refused = 0;
	std::string cmd;
	if (!formtokens(c.text, c.ctx, toks, refused, cmd)) {
		EXPECT_EQ("refused @" + cmd + " at " + std::to_string(refused), c.expect);
		return;
	}
	std::vector<size_t> unmatched;
	EXPECT_EQ(formbrackets(toks, unmatched), c.unclosed);
	std::string offsets;
	for (size_t at : unmatched)
		offsets += std::to_string(at) + " ";
	EXPECT_EQ(offsets, c.unmatched);
	std::string out;
	for (const std::string &l : formlines(toks))
		out += l + "\n";
	EXPECT_EQ(out, c.expect);
}

INSTANTIATE_TEST_SUITE_P(page, forms, testing::ValuesIn(formcases),
    [](const testing::TestParamInfo<formcase> &i) { return casename(i.param.name); });

// An option tag or an inline option is written on one line: its runs side
// by side, brackets as "Oo" and "Oc", never "Op"; a line that would begin
// with a bar or an ellipsis begins with "No".
TEST(pageforms, ononeline)
{
	std::vector<formtoken> toks;
	size_t refused = 0;
	std::string cmd;
	ASSERT_TRUE(formtokens("-i [@var{b}] --x=@var{c}", FORMFLAGS, toks, refused, cmd));
	EXPECT_EQ(formline(toks), "Fl i Oo Ar b Oc Fl -x= Ns Ar c");
	toks.clear();
	ASSERT_TRUE(formtokens("| -a", FORMFLAGS, toks, refused, cmd));
	EXPECT_EQ(formline(toks), "No | Fl a");
}

// ---------------------------------------------------------------------------
// Nodes whose heading becomes one of the page's subsections are noted, for
// references to them.

TEST(pagecollect, nodes)
{
	texistate st;
	std::string out;
	loadtext(st,
	    "@c man begin OPTIONS prog\n"
	    "@node Output, Next, Prev, Top\n"
	    "@c a comment\n"
	    "@cindex output\n"
	    "@section Output   Options\n"
	    "@node Deeper\n"
	    "@subsection Deeper\n"
	    "@node Last\n"
	    "@c man end\n"
	    "@c man begin DESCRIPTION\n"
	    "@chapter Not the heading of Last, which stands in another range\n"
	    "@node Other\n"
	    "@c man end\n"
	    "@c man begin OPTIONS prog\n"
	    "@chapter Nor of Other\n"
	    "@c man end\n",
	    out);
	pagecollection c;
	pagecollect(&st, c, "prog");
	ASSERT_EQ(c.nodes.size(), 1u);
	const pagenode &n = c.nodes.at("Output");
	EXPECT_EQ(n.heading, "Output   Options");
	EXPECT_EQ(n.at.line, 4u);
	EXPECT_EQ(n.at.col, 9u);
	EXPECT_EQ(c.buffers.size(), 2u);
}

} // namespace
