// The page's frame: the prologue written at @top, and section headings.

#include <cassert>
#include <cctype>
#include <ctime>

#include "../teximan.h"

namespace {

// Heading macros by output level.
constexpr const char *sectmacros[] = {"Sh", "Ss", "Em", "No"};

// The output level of a heading of the given base level, after the shifts of
// @raisesections and @lowersections, clamped to the levels a page has (and
// to those under a program page's own sections).
const char *headingmacro(texistate *p, int64_t base)
{
	int64_t level = base - p->sectionshift;
	if (level < 0) {
		texiwarning(p, "section below minimum, clamping");
		level = 0;
	} else if (level > 3) {
		texiwarning(p, "section above maximum, clamping");
		level = 3;
	}
	if (level < p->policy.minlevel)
		level = p->policy.minlevel;
	return sectmacros[level];
}

// Headings cannot stand inside a line macro or a literal block.
void scopecheck(texistate *p, const char *macro)
{
	if (p->openmacros)
		texierror(p, "\"%s\" in open line scope!?", macro);
	if (p->literaldepth)
		texierror(p, "\"%s\" in a literal scope!?", macro);
}

// The heading text is the rest of the line, on the macro line.
void headingline(texistate *p, const char *macro, size_t &pos)
{
	outmacroopen(p, macro);
	parserestofline(p, pos);
	outmacroclose(p);
}

} // namespace

// Chapter- and section-level commands, and the heading of @top.
void dochapter(texistate *p, cmdid cmd, size_t &pos)
{
	int64_t base;
	switch (cmd) {
	case CMD_appendix:
	case CMD_chapter:
	case CMD_unnumbered:
	case CMD_top:
	case CMD_centerchap:
		base = 0;
		break;
	case CMD_appendixsec:
	case CMD_heading:
	case CMD_section:
	case CMD_unnumberedsec:
	case CMD_appendixsection:
	case CMD_chapheading:
	case CMD_majorheading:
		base = 1;
		break;
	default:
		assert(!"a chapter or section command");
		std::abort();
	}
	const char *macro = headingmacro(p, base);
	scopecheck(p, macro);
	closequotations(p);
	flushnotes(p);
	headingline(p, macro, pos);
	p->parabreak = 1;
}

// Subsection-level commands: below the section level they are emphasised
// lines set off as paragraphs of their own.
void dosubsect(texistate *p, cmdid, size_t &pos)
{
	const char *macro = headingmacro(p, 2);
	scopecheck(p, macro);
	closequotations(p);
	flushnotes(p);
	if (macro == sectmacros[0] || macro == sectmacros[1]) {
		headingline(p, macro, pos);
		return;
	}
	outparagraph(p);
	headingline(p, macro, pos);
	outparagraph(p);
}

void dosubsubsect(texistate *p, cmdid, size_t &pos)
{
	const char *macro = headingmacro(p, 3);
	closequotations(p);
	flushnotes(p);
	outparagraph(p);
	headingline(p, macro, pos);
	outparagraph(p);
}

void doshiftsections(texistate *p, cmdid cmd, size_t &)
{
	p->sectionshift += cmd == CMD_raisesections ? 1 : -1;
}

// The title is kept as written, commands and trailing blanks included: it
// becomes the page's one-line description.
void dodoctitle(texistate *p, cmdid, size_t &pos)
{
	skipblanks(p, pos);
	size_t start = pos;
	skiptoeol(p, pos, 0);
	size_t end = pos;
	p->doctitle.emplace(BUFAT(p, start), end - start);
	skiptoeol(p, pos, 1);
}

// @top switches the output on and writes the prologue, then its own line
// becomes the first heading.  It does so once: a second @top inside a group
// whose output is off would otherwise write a second prologue and leave the
// rest of the page unwritten.  On a program's page, whose prologue comes
// before its sections, @top is one more heading.
void dotopnode(texistate *p, cmdid cmd, size_t &pos)
{
	if (p->policy.topheading) {
		dochapter(p, cmd, pos);
		return;
	}
	if (p->topseen || --p->ignoredepth != 0)
		texierror(p, "@top command while ignoring");
	p->topseen = true;

	char date[32];
	std::tm tm{};
	if (!texitime(p, tm) || std::strftime(date, sizeof(date), "%F", &tm) == 0)
		date[0] = '\0';
	outmacroopen(p, "Dd");
	outstr(p, date);
	outmacroclose(p);

	outmacroopen(p, "Dt");
	for (char c : p->docname)
		outchar(p, c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
	outstr(p, " 7");
	outmacroclose(p);

	outblockmacro(p, "Os");
	outblockmacro(p, "Sh NAME");

	outmacroopen(p, "Nm");
	for (char c : p->docname)
		outchar(p, c);
	outmacroclose(p);

	outmacroopen(p, "Nd");
	if (p->doctitle)
		for (char c : *p->doctitle)
			outchar(p, c);
	else
		outstr(p, "Unknown description");
	outmacroclose(p);

	p->parabreak = 1;
	dochapter(p, cmd, pos);
}
