// Footnotes.  A page has no foot: each note gets a number where its
// command stands, and the notes are written as a list at the end of their
// section (before the next heading, or at the end of the document).

#include <string>

#include "../teximan.h"

// A note's mark, "[N]".  (Put together piece by piece: gcc 12 at -O3 takes
// "[" + std::to_string(n) for an overlapping copy.)
static std::string notemark(size_t number)
{
	std::string mark(1, '[');
	mark += std::to_string(number);
	mark += ']';
	return mark;
}

// The marker "[N]" is written where the footnote stands; its body is then
// parsed there (its macros, values and diagnostics come in input order) but
// into a text of its own, in a fresh flow.  A footnote inside another takes
// its number when it starts and becomes a note of its own.  While output is
// off, and without braces, a footnote is parsed and thrown away.
void dofootnote(texistate *p, cmdid cmd, size_t &pos)
{
	size_t at = pos, size = BUFSZ(p);
	while (at < size && whitebyte(BUF(p, at)))
		at++;
	if (p->ignoredepth || at >= size || BUF(p, at) != '{') {
		doskipgroup(p, cmd, pos);
		return;
	}
	notestore &n = p->notes;
	const size_t number = ++n.count;
	outowedspace(p);
	outstr(p, notemark(number).c_str());

	outsink text;
	n.open++;
	struct closer {
		notestore &n;
		~closer() { n.open--; }
	} close{n};
	{
		sinkscope scope(p, text, true);
		parsegroup(p, pos);
	}
	const size_t slot = number - n.first;
	if (n.texts.size() <= slot)
		n.texts.resize(slot + 1);
	n.texts[slot].assign(text.data(), text.len);
}

// The notes numbered so far, as a tag list with "[N]" tags.  Nothing is
// written while output is off, inside a line macro or literal text (where
// the list cannot stand, and nothing new may be refused), or while a
// note's own text is being collected.
void flushnotes(texistate *p)
{
	notestore &n = p->notes;
	if (n.texts.empty() || n.open > 0 || p->ignoredepth || p->openmacros || p->literaldepth)
		return;
	outblockmacro(p, "Bl -tag -width Ds");
	for (size_t i = 0; i < n.texts.size(); i++) {
		outmacroopen(p, "It");
		outstr(p, notemark(n.first + i).c_str());
		outmacroclose(p);
		const std::string &t = n.texts[i];
		outheld(p, t.data(), t.size());
		if (p->column != 0)
			outchar(p, '\n');
	}
	outblockmacro(p, "El");
	n.first += n.texts.size();
	n.texts.clear();
}

// The end of the document: @bye, or the end of the input.  The list is
// written after the quotations still open are closed, as a heading closes
// them, so that it never stands inside one.
void endnotes(texistate *p)
{
	notestore &n = p->notes;
	if (n.texts.empty() || n.open > 0 || p->ignoredepth || p->openmacros || p->literaldepth)
		return;
	closequotations(p);
	flushnotes(p);
}
