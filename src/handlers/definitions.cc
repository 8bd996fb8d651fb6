// Definition blocks: functions, variables, macros and types documented with
// @deffn and its relatives.  The definition line becomes a category line
// and the mdoc macros for the type, name and arguments, set off as a
// paragraph of its own; a block form then translates its body.

#include <cassert>

#include "../teximan.h"

namespace {

struct defkind {
	cmdid block;          // the block form; its "x" form is the next row
	const char *category; // null: the first token of the line
	bool typed;           // a type ("Ft") comes before the function name
	const char *macro;    // for all the remaining tokens; null: a function
};

constexpr defkind defkinds[] = {
	{CMD_deffn, nullptr, false, nullptr},
	{CMD_defmac, "Macro", false, "Dv"},
	{CMD_deftp, nullptr, false, "Vt"},
	{CMD_deftypefn, nullptr, true, nullptr},
	{CMD_deftypefun, "Function", true, nullptr},
	{CMD_deftypemethod, "Method", true, nullptr},
	{CMD_deftypevar, "Variable", false, "Vt"},
	{CMD_deftypevr, nullptr, false, "Vt"},
	{CMD_defun, "Function", false, nullptr},
	{CMD_defvar, "Variable", false, "Va"},
	{CMD_defvr, nullptr, false, "Va"},
};

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

} // namespace

void dodefinition(texistate *p, cmdid cmd, size_t &pos)
{
	const defkind *kind = nullptr;
	for (const defkind &k : defkinds)
		if (cmd == k.block || cmd == k.block + 1)
			kind = &k;
	assert(kind != nullptr);
	bool block = cmd == kind->block;

	if (p->ignoredepth) {
		if (block)
			parseto(p, pos, cmdtable[cmd].name);
		else
			parserestofline(p, pos);
		return;
	}

	if (block)
		outparagraph(p);
	if (kind->category)
		outstr(p, kind->category);
	else
		parselinetoken(p, pos);
	outchar(p, ':');
	outchar(p, '\n');

	if (kind->macro != nullptr)
		tokenline(p, pos, kind->macro, true);
	else {
		if (kind->typed)
			tokenline(p, pos, "Ft", false);
		tokenline(p, pos, "Fo", false);
		tokenline(p, pos, "Fa", true);
		outblockmacro(p, "Fc");
	}
	outparagraph(p);

	if (block)
		parseto(p, pos, cmdtable[cmd].name);
}
