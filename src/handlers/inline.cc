// Inline markup and references: font and phrase commands, links and cross
// references, @acronym, @verb and @math.
//
// Font commands and references put their braced argument on one mdoc line
// macro, parsed as ordinary text; @verb and @math copy their bodies as they
// stand.  Which macro a command gets is data, in the tables below.

#include <array>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string_view>

#include "../teximan.h"

namespace {

// One row per font or phrase command: the line macro around its text, or
// none for the commands that only choose a face a page cannot show.
struct fontrow {
	cmdid cmd;
	const char *macro; // null: the text goes out bare
};

constexpr fontrow fonts[] = {
	{CMD_asis, nullptr},
	{CMD_b, "Sy"},
	{CMD_cite, "Em"},
	{CMD_code, "Li"},
	{CMD_command, "Xr"},
	{CMD_dfn, "Em"},
	{CMD_emph, "Em"},
	{CMD_env, "Ev"},
	{CMD_file, "Pa"},
	{CMD_i, "Em"},
	{CMD_kbd, "Li"},
	{CMD_option, "Op"},
	{CMD_r, nullptr},
	{CMD_samp, "Li"},
	{CMD_sansserif, nullptr},
	{CMD_slanted, "Em"},
	{CMD_strong, "Sy"},
	{CMD_t, "Li"},
	{CMD_var, "Va"},
};

// One row per reference command: the words written before the macro (the
// cross references say what they point at), and the macro that holds the
// first argument.
struct refrow {
	cmdid cmd;
	const char *text; // null: no words before the macro
	const char *macro;
};

constexpr refrow refs[] = {
	{CMD_email, nullptr, "Mt"},
	{CMD_indicateurl, nullptr, "Lk"},
	{CMD_inforef, "See Info file node", "Dq"},
	{CMD_pxref, "see Section", "Dq"},
	{CMD_uref, nullptr, "Lk"},
	{CMD_url, nullptr, "Lk"},
	{CMD_xref, "See Section", "Dq"},
};

constexpr auto fontindex = rowindex(fonts);
constexpr auto refindex = rowindex(refs);

constexpr std::string_view fontmacro(cmdid cmd)
{
	const char *m = fonts[fontindex[cmd]].macro;
	return m ? m : "";
}

static_assert(std::size(fonts) == 19 && std::size(refs) == 7);
static_assert(fontmacro(CMD_asis).empty() && fontmacro(CMD_r).empty() && fontmacro(CMD_sansserif).empty());
static_assert(fontmacro(CMD_command) == "Xr" && fontmacro(CMD_option) == "Op" && fontmacro(CMD_var) == "Va");
static_assert(std::string_view(refs[refindex[CMD_pxref]].text) == "see Section");
static_assert(std::string_view(refs[refindex[CMD_email]].macro) == "Mt" && refs[refindex[CMD_url]].text == nullptr);

// The arguments after the first (display text, titles, file and manual
// names) have no place on the page: they are parsed, so that their commands
// still run and their braces are matched, and thrown away.
void droprestargs(texistate *p, size_t &pos)
{
	int saved = p->ignoredepth;
	p->ignoredepth++;
	while (parsenextarg(p, pos, 1) > 0)
		;
	p->ignoredepth = saved;
}

} // namespace

// A font command puts its group on a line macro.  Literal blocks and table
// rows are not macro lines, so there the text goes out without the font.
void dofont(texistate *p, cmdid cmd, size_t &pos)
{
	assert(fontindex[cmd] != NOROW);
	const char *macro = fonts[fontindex[cmd]].macro;
	if (macro == nullptr || p->literaldepth || p->listkind == LIST_TABLE) {
		parsegroup(p, pos);
		return;
	}
	outmacroopen(p, macro);
	p->pendingspace = 0;
	parsegroup(p, pos);
	outtrailpunct(p, pos);
	outmacroclose(p);
}

// A link or cross reference: its fixed words, then its first argument on a
// line macro.  References are made in every context, literal or not.
void doreference(texistate *p, cmdid cmd, size_t &pos)
{
	assert(refindex[cmd] != NOROW);
	const refrow &r = refs[refindex[cmd]];
	if (r.text != nullptr) {
		outowedspace(p);
		outstr(p, r.text);
	}
	outmacroopen(p, r.macro);
	if (parsenextarg(p, pos, 0) > 0)
		droprestargs(p, pos);
	outtrailpunct(p, pos);
	outmacroclose(p);
}

// The acronym itself is plain text; its expansion is dropped.
void doacronym(texistate *p, cmdid, size_t &pos)
{
	if (parsenextarg(p, pos, 0) > 0)
		droprestargs(p, pos);
}

// @verb{<d>text<d>}: the byte after the brace delimits a body that is copied
// unparsed, braces, "@" and newlines included.  An unterminated body writes
// nothing and leaves parsing on the input's last byte.
void doverb(texistate *p, cmdid, size_t &pos)
{
	skipblanks(p, pos);
	size_t size = BUFSZ(p);
	if (pos >= size || BUF(p, pos) != '{')
		return;
	stepone(p, pos);
	if (pos >= size)
		return;
	char delim = BUF(p, pos);
	stepone(p, pos);
	outowedspace(p);

	// The body ends where the delimiter stands right before a "}".
	size_t start = pos, end = pos;
	const char *s = pos < size ? BUFAT(p, pos) : nullptr;
	bool found = false;
	while (end + 1 < size) {
		const void *d = std::memchr(s + (end - start), delim, size - 1 - end);
		if (d == nullptr) {
			end = size - 1;
			break;
		}
		end = start + static_cast<size_t>(static_cast<const char *>(d) - s);
		if (s[end - start + 1] == '}') {
			found = true;
			break;
		}
		end++;
	}
	advanceto(p, pos, end);
	if (!found)
		return;
	outrange(p, start, pos);
	assert(BUF(p, pos) == delim);
	stepone(p, pos);
	assert(BUF(p, pos) == '}');
	stepone(p, pos);
}

// @math{...}: the body up to the brace that balances the opening one is
// copied unparsed; inner braces and commands are written as they stand.
void domath(texistate *p, cmdid, size_t &pos)
{
	skipblanks(p, pos);
	size_t size = BUFSZ(p);
	if (pos >= size || BUF(p, pos) != '{')
		return;
	stepone(p, pos);
	outowedspace(p);

	size_t start = pos, end = pos;
	const char *s = pos < size ? BUFAT(p, pos) : nullptr;
	size_t depth = 1;
	for (; end < size; end++) {
		char c = s[end - start];
		if (c == '{')
			depth++;
		else if (c == '}' && --depth == 0)
			break;
	}
	advanceto(p, pos, end);
	if (pos >= size)
		return;
	outrange(p, start, pos);
	assert(BUF(p, pos) == '}');
	stepone(p, pos);
}
