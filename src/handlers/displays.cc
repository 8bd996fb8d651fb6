// Displays, examples, quotations and verbatim text.
//
// Each block parses its body inside one handler call, so blocks nest through
// the call stack; what a block changes is put back when its body ends.

#include <cassert>
#include <cstring>
#include <string>

#include "../teximan.h"

namespace {

// Where a display starts decides what it writes.  On a page of its own it
// writes its block lines.  Inside literal text it has none: its body goes
// on with that text.  In a table cell it has none either: its body becomes
// lines of the cell.  (With a line macro open, the block lines stand and
// the writer refuses them.)
enum placement { PLACE_OWN, PLACE_LITERAL, PLACE_CELL };

placement displayplace(texistate *p)
{
	if (p->listkind == LIST_TABLE)
		return p->openmacros == 1 && p->row != nullptr ? PLACE_CELL : PLACE_OWN;
	return p->openmacros == 0 && p->literaldepth != 0 ? PLACE_LITERAL : PLACE_OWN;
}

// A display's body in a cell starts on a line of its own unless the cell's
// current line is still empty, and so does the text after it.
void cellline(texistate *p)
{
	tablerow &r = *p->row;
	if (r.active && p->out.len > r.linestart)
		outchar(p, '\n');
}

// The body of a display that writes no block lines, parsed literally up to
// its @end line, whose newline is consumed unwritten.
void displaybody(texistate *p, cmdid cmd, size_t &pos, placement place)
{
	if (place == PLACE_CELL)
		cellline(p);
	p->literaldepth++;
	parseto(p, pos, cmdtable[cmd].name);
	p->literaldepth--;
	skipendline(p, pos);
	if (place == PLACE_CELL)
		cellline(p);
}

} // namespace

// Filled displays.  Only the format variants stay at the left margin.
void dofilled(texistate *p, cmdid cmd, size_t &pos)
{
	if (placement place = displayplace(p); place != PLACE_OWN) {
		skiptoeol(p, pos, 1);
		displaybody(p, cmd, pos, place);
		return;
	}
	bool flush = cmd == CMD_format || cmd == CMD_smallformat;
	outblockmacro(p, flush ? "Bd -filled" : "Bd -filled -offset indent");
	p->parabreak = 1;
	skiptoeol(p, pos, 1);
	parseto(p, pos, cmdtable[cmd].name);
	outblockmacro(p, "Ed");
}

// Examples keep their line structure and indentation: the body is parsed in
// literal context, where white space is copied rather than filled.
void doexampleblock(texistate *p, cmdid cmd, size_t &pos)
{
	if (placement place = displayplace(p); place != PLACE_OWN) {
		skiptoeol(p, pos, 1);
		displaybody(p, cmd, pos, place);
		return;
	}
	outblockmacro(p, "Bd -literal -offset indent");
	skiptoeol(p, pos, 1);
	p->literaldepth++;
	parseto(p, pos, cmdtable[cmd].name);
	p->literaldepth--;
	outblockmacro(p, "Ed");
}

// A quotation's own line is its first text (@quotation Note).  A list or
// heading inside it may close it early (closequotations); then its end
// writes nothing.  Only a quotation opened on the page is counted: one
// opened while output was off keeps its "Qc" as it was.  Inside literal
// text or a cell the text of its line, if any, is the first line of its
// body, and no quotation is counted.
void doquoteblock(texistate *p, cmdid cmd, size_t &pos)
{
	if (placement place = displayplace(p); place != PLACE_OWN) {
		skipblockline(p, pos);
		skipblanks(p, pos);
		displaybody(p, cmd, pos, place);
		return;
	}
	outblockmacro(p, "Qo");
	const bool counted = !p->ignoredepth;
	const int outer = p->openquotes;
	if (counted)
		p->openquotes++;
	parseto(p, pos, cmdtable[cmd].name);
	if (!counted || p->openquotes > outer) {
		outblockmacro(p, "Qc");
		p->openquotes = outer;
	}
}

// A list's items or a heading cannot stand inside the "Qo" enclosure, which
// is a line macro: formatters drop or break what follows.  So the open
// quotations end first, innermost first, and their text before stays in
// quotes.  On an open macro line or in literal text nothing is closed: the
// list or heading is refused there anyway.
void closequotations(texistate *p)
{
	if (p->ignoredepth || p->openmacros || p->literaldepth)
		return;
	for (; p->openquotes > 0; p->openquotes--)
		outblockmacro(p, "Qc");
}

// A verbatim body is copied as it stands, commands and braces included, up
// to the first line that is exactly "@end verbatim" (or "@end displaymath"
// for a displayed formula).  Without that line the rest of the input is the
// body.
void doverbatim(texistate *p, cmdid cmd, size_t &pos)
{
	const std::string endline = std::string("\n@end ") + cmdtable[cmd].name + "\n";
	const size_t endlinesz = endline.size();

	skiptoeol(p, pos, 0);
	size_t size = BUFSZ(p);
	if (pos >= size) {
		texiwarning(p, "unexpected end of file");
		return;
	}

	const char *s = BUFAT(p, pos);
	const char *m = texifind(s, size - pos, endline);
	size_t endpos = size;
	if (m != nullptr)
		endpos = pos + static_cast<size_t>(m - s);
	else
		texiwarning(p, "unterminated verbatim block");
	assert(endpos <= size);
	assert(BUF(p, pos) == '\n');

	stepone(p, pos);
	const placement place = displayplace(p);
	if (place == PLACE_OWN)
		outblockmacro(p, "Bd -literal -offset indent");
	else if (place == PLACE_CELL)
		cellline(p);
	// When the terminator begins with the command line's own newline, the
	// body is empty and its end lies before its start.
	if (pos < endpos) {
		p->literaldepth++;
		outrange(p, pos, endpos);
		p->literaldepth--;
		advanceto(p, pos, endpos);
	}
	// The newline before the end line is not part of the body.
	if (place == PLACE_OWN)
		outblockmacro(p, "Ed");
	else if (place == PLACE_CELL)
		cellline(p);
	else if (p->column != 0)
		outchar(p, '\n');
	if (m != nullptr)
		advanceto(p, pos, endpos + endlinesz);
}

// @sp and @vskip: one break whatever the amount, or one empty line in
// literal text.
void dovertspace(texistate *p, cmdid, size_t &pos)
{
	if (p->literaldepth)
		outchar(p, '\n');
	else
		outparagraph(p);
	skiptoeol(p, pos, 1);
}

// A float's line (its type and label) has no place in the page; its body is
// ordinary text, with no break of its own.
void dofloat(texistate *p, cmdid cmd, size_t &pos)
{
	skiptoeol(p, pos, 1);
	parseblock(p, pos, cmdtable[cmd].name, false);
}
