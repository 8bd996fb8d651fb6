// Definition blocks: functions, variables, options, methods and types
// documented with @deffn and its relatives.  The definition line becomes a
// category line and the mdoc macros for the type, name and arguments, set
// off as a paragraph of its own; a block form then translates its body.

#include <array>
#include <cassert>
#include <cstdint>
#include <iterator>

#include "../teximan.h"

namespace {

// How the category line is made from the definition line.
enum defcategory : uint8_t {
	CAT_FIXED, // the category as it stands
	CAT_TOKEN, // the first token
	CAT_ON,    // the first token, "on", the second (an operation of a class)
	CAT_OF,    // the first token, "of", the second (a variable of a class)
	CAT_CLASS, // the category, then the first token (the class)
};

struct defkind {
	cmdid block; // the block form; its "x" form is the next row
	defcategory how;
	const char *category; // CAT_FIXED and CAT_CLASS
	bool typed;           // a type ("Ft") comes before the function name
	const char *macro;    // for all the remaining tokens; null: a function
};

constexpr defkind defkinds[] = {
	{CMD_deffn, CAT_TOKEN, nullptr, false, nullptr},
	{CMD_defmac, CAT_FIXED, "Macro", false, "Dv"},
	{CMD_deftp, CAT_TOKEN, nullptr, false, "Vt"},
	{CMD_deftypefn, CAT_TOKEN, nullptr, true, nullptr},
	{CMD_deftypefun, CAT_FIXED, "Function", true, nullptr},
	{CMD_deftypemethod, CAT_FIXED, "Method", true, nullptr},
	{CMD_deftypevar, CAT_FIXED, "Variable", false, "Vt"},
	{CMD_deftypevr, CAT_TOKEN, nullptr, false, "Vt"},
	{CMD_defun, CAT_FIXED, "Function", false, nullptr},
	{CMD_defvar, CAT_FIXED, "Variable", false, "Va"},
	{CMD_defvr, CAT_TOKEN, nullptr, false, "Va"},
	{CMD_defopt, CAT_FIXED, "User Option", false, "Va"},
	{CMD_defspec, CAT_FIXED, "Special Form", false, nullptr},
	{CMD_defop, CAT_ON, nullptr, false, nullptr},
	{CMD_deftypeop, CAT_ON, nullptr, true, nullptr},
	{CMD_defmethod, CAT_CLASS, "Method on", false, nullptr},
	{CMD_defcv, CAT_OF, nullptr, false, "Va"},
	{CMD_deftypecv, CAT_OF, nullptr, false, "Vt"},
	{CMD_defivar, CAT_CLASS, "Instance Variable of", false, "Va"},
	{CMD_deftypeivar, CAT_CLASS, "Instance Variable of", false, "Vt"},
};

// Each command's kind: both forms of each pair, and the lines of a
// @defblock, which are "x" forms of the generic kinds.
constexpr std::array<uint8_t, CMD_NONE> buildkindindex()
{
	std::array<uint8_t, CMD_NONE> index{};
	index.fill(NOROW);
	for (size_t k = 0; k < std::size(defkinds); k++) {
		index[defkinds[k].block] = static_cast<uint8_t>(k);
		index[defkinds[k].block + 1] = static_cast<uint8_t>(k);
	}
	index[CMD_defline] = index[CMD_deffn];
	index[CMD_deftypeline] = index[CMD_deftypefn];
	return index;
}
constexpr auto kindindex = buildkindindex();

static_assert(std::size(defkinds) == 20);
static_assert(defkinds[kindindex[CMD_defline]].block == CMD_deffn);
static_assert(defkinds[kindindex[CMD_deftypeopx]].how == CAT_ON && defkinds[kindindex[CMD_deftypeopx]].typed);

// One line macro holding the next token of the line, or all that remain.
void tokenline(texistate *p, size_t &pos, const char *macro, bool all)
{
	outmacroopen(p, macro);
	if (all)
		while (parselinetoken(p, pos))
			;
	else
		parselinetoken(p, pos);
	outmacroclose(p);
}

// The category line's words, up to its colon.
void category(texistate *p, const defkind &kind, size_t &pos)
{
	switch (kind.how) {
	case CAT_FIXED:
		outstr(p, kind.category);
		break;
	case CAT_TOKEN:
		parselinetoken(p, pos);
		break;
	case CAT_ON:
	case CAT_OF:
		parselinetoken(p, pos);
		outword(p, kind.how == CAT_ON ? "on" : "of");
		parselinetoken(p, pos);
		break;
	case CAT_CLASS:
		outstr(p, kind.category);
		parselinetoken(p, pos);
		break;
	}
}

} // namespace

void dodefinition(texistate *p, cmdid cmd, size_t &pos)
{
	assert(kindindex[cmd] != NOROW);
	const defkind &kind = defkinds[kindindex[cmd]];
	bool block = cmd == kind.block;

	if (p->ignoredepth) {
		if (block)
			parseto(p, pos, cmdtable[cmd].name);
		else
			parserestofline(p, pos);
		return;
	}

	if (block)
		outparagraph(p);
	category(p, kind, pos);
	outchar(p, ':');
	outchar(p, '\n');

	if (kind.macro != nullptr)
		tokenline(p, pos, kind.macro, true);
	else {
		if (kind.typed)
			tokenline(p, pos, "Ft", false);
		tokenline(p, pos, "Fo", false);
		tokenline(p, pos, "Fa", true);
		outblockmacro(p, "Fc");
	}
	outparagraph(p);

	if (block)
		parseto(p, pos, cmdtable[cmd].name);
}

// @defblock holds definition lines (@defline, @deftypeline) and their
// description.  Its own line has no place in the page.
void dodefblock(texistate *p, cmdid cmd, size_t &pos)
{
	outparagraph(p);
	skiptoeol(p, pos, 1);
	parseto(p, pos, cmdtable[cmd].name);
}
