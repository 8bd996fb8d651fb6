// Lists and multi-column tables.
//
// Each list or table parses its whole body inside one handler call, so lists
// nest through the call stack: the enclosing list kind is kept in a local
// and put back when the body ends.

#include "../teximan.h"

namespace {

// A list block: its opening line, the body up to its @end line, "El".  What
// follows the command on its line (a start value, a bullet or a formatting
// command for the tags) has no place in the page.
void listblock(texistate *p, int kind, const char *open, const char *endtok, size_t &pos)
{
	closequotations(p);
	int outer = p->listkind;
	p->listkind = kind;
	outblockmacro(p, open);
	p->parabreak = 1;
	skiptoeol(p, pos, 1);
	parseto(p, pos, endtok);
	outblockmacro(p, "El");
	p->listkind = outer;
}

// The number of columns of a table, from the rest of its command line:
// the fractions of @columnfractions, or one prototype per token.  The
// position is left on the line's newline.
size_t countcolumns(texistate *p, size_t &pos)
{
	size_t size = BUFSZ(p);
	if (pos >= size)
		return 0;
	if (BUF(p, pos) != '@') {
		size_t n = 0;
		while (parselinetoken(p, pos))
			n++;
		return n;
	}

	size_t end;
	cmdid cmd = texicmd(p, pos, end, nullptr);
	advanceto(p, pos, end);
	if (cmd != CMD_columnfractions)
		texierror(p, "unknown multitable command");

	// Only the number of fractions matters, not their values.
	if (pos >= size)
		return 0;
	const char *s = BUFAT(p, pos);
	size_t i = 0, avail = size - pos, n = 0;
	while (i < avail && s[i] != '\n') {
		if (blankbyte(s[i])) {
			i++;
			continue;
		}
		n++;
		while (i < avail && !whitebyte(s[i]))
			i++;
	}
	advanceto(p, pos, pos + i);
	return n;
}

} // namespace

void doenumlist(texistate *p, cmdid, size_t &pos)
{
	listblock(p, LIST_ITEM, "Bl -enum", "enumerate", pos);
}

void dobulletlist(texistate *p, cmdid, size_t &pos)
{
	listblock(p, LIST_ITEM, "Bl -bullet", "itemize", pos);
}

// @table, @ftable and @vtable are all plain tag lists: the index entries of
// the last two have no place in a page.  A program's page writes the tags
// in the format the table names.
void dotaglist(texistate *p, cmdid cmd, size_t &pos)
{
	const cmdid outer = p->tagformat;
	if (p->policy.page != nullptr)
		p->tagformat = pagetagformat(p, pos);
	listblock(p, LIST_TAG, "Bl -tag -width Ds", cmdtable[cmd].name, pos);
	p->tagformat = outer;
}

// @item, @itemx and @headitem.  In a table an item only starts a new row:
// the cells on its line are left to the body's loop.  Elsewhere the rest of
// the line is the item's first text, or in a tag list its tag on the "It"
// line.  Outside any list an item is just a new paragraph.
void dolistitem(texistate *p, cmdid, size_t &pos)
{
	if (p->listkind == LIST_TABLE) {
		rownext(p);
		return;
	}
	if (p->openmacros)
		texierror(p, "item in open line scope!?");
	if (p->literaldepth)
		texierror(p, "item in a literal scope!?");

	switch (p->listkind) {
	case LIST_ITEM:
		outblockmacro(p, "It");
		break;
	case LIST_TAG:
		if (p->policy.page != nullptr) {
			pageitem(p, pos);
			return;
		}
		outmacroopen(p, "It");
		break;
	default:
		outparagraph(p);
		break;
	}
	p->parabreak = 1;
	parserestofline(p, pos);
	if (p->listkind == LIST_TAG)
		outmacroclose(p);
	else if (p->column != 0)
		outchar(p, '\n');
}

// @multitable: a tbl table whose every column is left-aligned.  The body is
// filled text even inside an example, and it is written as if a line macro
// were open, so that no row is wrapped or broken and no block can start
// inside it.  Each row (the text before the first @item is one too) is held
// until it ends, since a display in a later cell may give it several lines.
void docolumntable(texistate *p, cmdid cmd, size_t &pos)
{
	int outerkind = p->listkind, outerliteral = p->literaldepth;
	p->listkind = LIST_TABLE;
	p->literaldepth = 0;
	outblockmacro(p, "TS");
	skipblanks(p, pos);

	p->ignoredepth++;
	size_t columns = countcolumns(p, pos);
	p->ignoredepth--;

	for (size_t i = 0; i < columns; i++) {
		if (i > 0)
			outchar(p, ' ');
		outchar(p, 'l');
	}
	outstr(p, ".\n");

	tablerow row;
	struct rowplace {
		texistate *p;
		tablerow *outer;
		~rowplace() { p->row = outer; }
	} place{p, p->row};
	p->row = &row;
	p->openmacros++;
	rowbegin(p, row);
	try {
		parseto(p, pos, cmdtable[cmd].name);
	} catch (const texiexit &) {
		// A run that ends inside the table still writes the row it was
		// collecting, as far as it goes.
		rowend(p, row);
		throw;
	}
	rowend(p, row);
	p->openmacros--;
	outblockmacro(p, "TE");
	p->literaldepth = outerliteral;
	p->listkind = outerkind;
}

// @tab separates the cells of a table row; elsewhere it means nothing.
void docolumntab(texistate *p, cmdid, size_t &)
{
	if (p->listkind == LIST_TABLE)
		outcellsep(p);
}
