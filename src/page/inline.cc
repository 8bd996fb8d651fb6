// Inline commands and table tags inside a program's page.
//
// The page names things with mdoc's own macros: an option is "Fl", its
// argument "Ar", a command "Nm", "Xr" or "Ic".  Options are read with the
// grammar of SYNOPSIS forms.  Words the source writes without white space
// between them stay joined: a macro after a word ends the text line with
// "\c", a word or macro after a macro's group continues its line after
// "Ns".

#include <algorithm>
#include <cassert>
#include <cstring>
#include <iterator>

#include "page.h"

namespace {

// How each font command writes in a page.  The commands that take one word
// starting with "-" write it as an option; @option and @command decide by
// their text.
enum pagefontkind : uint8_t { FONT_PLAIN, FONT_MACRO, FONT_OPTION, FONT_COMMAND };

struct pagefontrow {
	cmdid cmd;
	pagefontkind kind;
	const char *macro;
	bool code;   // its quotes and punctuation are written as typed
	bool dashes; // one word starting with "-" is an option
};

constexpr pagefontrow pagefonts[] = {
	{CMD_asis, FONT_PLAIN, nullptr, false, false},
	{CMD_b, FONT_MACRO, "Sy", false, true},
	{CMD_cite, FONT_MACRO, "Em", false, false},
	{CMD_code, FONT_MACRO, "Li", true, true},
	{CMD_command, FONT_COMMAND, nullptr, true, false},
	{CMD_dfn, FONT_MACRO, "Em", false, false},
	{CMD_emph, FONT_MACRO, "Em", false, false},
	{CMD_env, FONT_MACRO, "Ev", true, false},
	{CMD_file, FONT_MACRO, "Pa", true, false},
	{CMD_i, FONT_MACRO, "Em", false, false},
	{CMD_kbd, FONT_MACRO, "Li", true, true},
	{CMD_option, FONT_OPTION, nullptr, true, false},
	{CMD_r, FONT_PLAIN, nullptr, false, false},
	{CMD_samp, FONT_MACRO, "Ql", true, true},
	{CMD_sansserif, FONT_PLAIN, nullptr, false, false},
	{CMD_slanted, FONT_MACRO, "Em", false, false},
	{CMD_strong, FONT_MACRO, "Sy", false, true},
	{CMD_t, FONT_MACRO, "Li", true, true},
	{CMD_var, FONT_MACRO, "Ar", false, false},
	{CMD_gcctabopt, FONT_MACRO, "Li", true, true},
};

constexpr auto pagefontindex = rowindex(pagefonts);

static_assert(std::size(pagefonts) == 20);
static_assert(pagefonts[pagefontindex[CMD_var]].macro == std::string_view("Ar"));
static_assert(pagefonts[pagefontindex[CMD_gcctabopt]].code && pagefonts[pagefontindex[CMD_samp]].dashes);

// The macro of a table's other tags, by the table's format: the tag is
// written as if wrapped in it.
struct tagformatrow {
	cmdid cmd;
	const char *macro; // null: the tag's own markup
	bool code;
};

constexpr tagformatrow tagformats[] = {
	{CMD_code, "Cm", true}, {CMD_samp, "Cm", true}, {CMD_kbd, "Cm", true}, {CMD_t, "Cm", true},
	{CMD_option, "Cm", true}, {CMD_gcctabopt, "Cm", true}, {CMD_env, "Ev", true}, {CMD_var, "Ar", false},
	{CMD_file, "Pa", true}, {CMD_emph, "Em", false}, {CMD_i, "Em", false}, {CMD_dfn, "Em", false},
	{CMD_cite, "Em", false}, {CMD_strong, "Sy", false}, {CMD_b, "Sy", false},
};

constexpr auto tagformatindex = rowindex(tagformats);

// The commands whose group a tag may begin with and still be an option.
constexpr std::string_view optionwrappers[] = {"option", "samp", "code", "kbd", "t", "b", "strong", "gcctabopt", "r"};

// The group of a code command: its quotes and lone punctuation are written
// as typed.
struct codegroup {
	texistate *p;
	int on;
	codegroup(texistate *st, bool code) : p(st), on(code) { p->codedepth += on; }
	~codegroup() { end(); }
	void end()
	{
		p->codedepth -= on;
		on = 0;
	}
	codegroup(const codegroup &) = delete;
	codegroup &operator=(const codegroup &) = delete;
};

// The name of the command whose "@" is at pos, as the lookup reads it.
std::string_view namebytes(texistate *p, size_t pos)
{
	size_t size = BUFSZ(p);
	if (pos + 1 >= size)
		return {};
	const char *s = BUFAT(p, pos + 1);
	size_t avail = size - pos - 1;
	if (!letterbyte(static_cast<unsigned char>(s[0])))
		return {s, 1};
	size_t n = 1;
	while (n < avail && !whitebyte(s[n]) && s[n] != '@' && s[n] != '{' && s[n] != '}')
		n++;
	return {s, n};
}

cmdid commandat(texistate *p, size_t pos)
{
	cmdtarget t;
	cmdid cmd = texilookup(p, namebytes(p, pos), t);
	return t.macro != nullptr || t.enclose != nullptr ? CMD_NONE : cmd;
}

// Whether a command writes a line macro of its own in the page's text.
bool macrocommand(cmdid cmd)
{
	if (cmd == CMD_NONE)
		return false;
	if (pagefontindex[cmd] != NOROW)
		return pagefonts[pagefontindex[cmd]].kind != FONT_PLAIN;
	return cmd == CMD_email || cmd == CMD_url || cmd == CMD_uref || cmd == CMD_indicateurl;
}

// Whether a command writes a few characters of text where it stands: a
// glyph, an accent, a footnote's mark.
bool charcommand(cmdid cmd)
{
	return cmd != CMD_NONE && (cmdtable[cmd].fn == doglyph || cmdtable[cmd].fn == dodiacritic ||
	                           cmdtable[cmd].fn == dounicode || cmd == CMD_footnote);
}

// The "{" of the braced group after pos (after white space), or the end of
// the text where none follows.
size_t groupopen(texistate *p, size_t pos)
{
	size_t size = BUFSZ(p);
	while (pos < size && whitebyte(BUF(p, pos)))
		pos++;
	return pos < size && BUF(p, pos) == '{' ? pos : size;
}

// The groups whose text is read whole (an option, a command's name, a
// reference's arguments) are short.  One that does not end within this many
// bytes is parsed as its command's whole-manual form is: however many such
// commands are nested in an unbalanced stretch, none reads it all.
constexpr size_t MAXRAWGROUP = size_t{64} << 10;

// The braced group after pos (after white space): the offsets of its "{"
// and of the "}" that ends it as the parse loops end it (or the end of the
// text); false without a group, for one longer than MAXRAWGROUP, or once
// the page has read ahead all it may (rawahead).  Only the braces of
// commands nest: a stray "{" is dropped when the group is parsed, and the
// first "}" outside a command's group ends it.
bool groupat(texistate *p, size_t pos, size_t &open, size_t &close)
{
	size_t size = BUFSZ(p);
	open = groupopen(p, pos);
	if (open >= size)
		return false;
	const char *s = BUFAT(p, open);
	const size_t limit = std::min(size - open, MAXRAWGROUP + 1);
	const size_t avail = std::min(limit, p->rawahead);
	size_t depth = 0, i = 1;
	for (; i < avail; i++) {
		if (s[i] == '@') {
			size_t name = i + 1;
			if (name < avail && letterbyte(static_cast<unsigned char>(s[name])))
				while (name < avail && !whitebyte(s[name]) && s[name] != '@' && s[name] != '{' && s[name] != '}')
					name++;
			if (name == i + 1)
				i++; // "@{", "@}", "@@" and the like
			else if (name < avail && s[name] == '{') {
				depth++;
				i = name;
			} else
				i = name - 1;
		} else if (s[i] == '}' && depth-- == 0)
			break;
	}
	const bool ended = i < avail;
	p->rawahead -= std::min(i, p->rawahead);
	close = open + std::min(i, size - open);
	if (!ended && avail < limit)
		return false; // read ahead as far as the page may
	return i <= MAXRAWGROUP;
}

// Past a group found by groupat.
void pastgroup(texistate *p, size_t &pos, size_t close)
{
	advanceto(p, pos, close);
	if (pos < BUFSZ(p))
		stepone(p, pos);
}

// A group that begins with a command writing a line macro: the command
// around it writes none, so that the formatter does not show an empty
// macro or let the inner one cancel it.
bool beginswithmacro(texistate *p, size_t pos)
{
	size_t open = groupopen(p, pos);
	if (open + 2 >= BUFSZ(p) || BUF(p, open + 1) != '@')
		return false;
	return macrocommand(commandat(p, open + 1));
}

// Where no white space stands before a macro in the source: after a word
// of a text line, the line ends in "\c"; on a macro line, "Ns" joins it.
void joinbefore(texistate *p)
{
	if (p->pendingspace || p->ignoredepth)
		return;
	char last = p->out.last;
	if (p->openmacros > 0) {
		if (last != ' ')
			outstr(p, " Ns");
	} else if (p->column > 0 && last != ' ' && last != '\n')
		outstr(p, "\\c");
}

// A word that mdoc would read as a delimiter and move out of its place.
bool delimiterword(std::string_view w)
{
	return !w.empty() && std::all_of(w.begin(), w.end(), [](char c) { return std::strchr(".,:;()[]?!|", c) != nullptr; });
}

// The word at pos, up to white space, a command or a brace.
std::string_view wordat(texistate *p, size_t pos)
{
	size_t size = BUFSZ(p), n = 0;
	const char *s = BUFAT(p, pos);
	while (pos + n < size && !whitebyte(s[n]) && s[n] != '@' && s[n] != '{' && s[n] != '}')
		n++;
	return {s, n};
}

// What follows a macro's group with no white space goes on its line after
// "Ns": a word (a lone delimiter guarded), or characters.  The word itself
// is left for the writer.
void nsword(texistate *p, size_t pos)
{
	// An inner macro may have joined it already.
	const outsink &o = p->out;
	if (o.len < 3 || std::memcmp(o.data() + o.len - 3, " Ns", 3) != 0)
		outstr(p, " Ns");
	p->pendingspace = 1;
	// The writer guards a delimiter of code itself.
	if (BUF(p, pos) != '@' && !p->codedepth && delimiterword(wordat(p, pos))) {
		outstr(p, " \\&");
		p->pendingspace = 0;
	}
}

// The punctuation that goes onto a macro line after its group.
bool closingpunct(char c)
{
	return std::strchr("!\"),.:?;", c) != nullptr && c != '\0';
}

// After a macro's group: closing punctuation before white space (or the end
// of the group around) goes onto the line, each character an argument of
// its own; a word or macro right after continues the line after "Ns", out
// of the group's code.  The outermost macro of a line keeps it open for as
// long as the source does without white space; an inner one only marks the
// join, its line going on anyway.  Then the macro is closed.
void aftergroup(texistate *p, size_t &pos, codegroup &code)
{
	code.end();
	const bool outermost = p->openmacros == 1;
	while (pos < BUFSZ(p) && !p->ignoredepth && p->openmacros > 0) {
		size_t size = BUFSZ(p), end = pos;
		while (end < size && closingpunct(BUF(p, end)))
			end++;
		if (end > pos && (end == size || whitebyte(BUF(p, end)) || BUF(p, end) == '}')) {
			for (; pos < end; stepone(p, pos)) {
				outchar(p, ' ');
				outchar(p, BUF(p, pos));
			}
			break;
		}
		char c = BUF(p, pos);
		if (whitebyte(c) || c == '}' || c == '{' || c == ',')
			break;
		if (c == '@') {
			cmdid cmd = commandat(p, pos);
			if (macrocommand(cmd)) {
				// It joins itself.
				if (!outermost)
					break;
				texidispatch(p, pos);
				continue;
			}
			if (cmd == CMD_value && outermost) {
				texidispatch(p, pos);
				continue;
			}
			if (!charcommand(cmd))
				break;
			nsword(p, pos);
			if (!outermost)
				break;
			texidispatch(p, pos);
			continue;
		}
		nsword(p, pos);
		if (!outermost)
			break;
		emitword(p, pos, 0);
	}
	outmacroclose(p);
}

// The text of a group, with the values it names put in.
std::string grouptext(texistate *p, size_t open, size_t close)
{
	return pagevalues(p, std::string_view(BUFAT(p, open + 1), close - open - 1));
}

// An option: its words by the grammar of forms, every bare word read as a
// flag's (the first "-x" as "Fl x", "<x>" as "Ar", others as "Cm").  A
// group the grammar does not read is written as text in "Fl" (or "Cm"),
// without its first "-".
void option(texistate *p, size_t &pos, codegroup &code)
{
	size_t open, close;
	const bool whole = groupat(p, pos, open, close);
	if (open >= BUFSZ(p))
		return;
	std::vector<formtoken> toks;
	size_t refused;
	std::string cmd;
	std::string text;
	if (whole) {
		text = grouptext(p, open, close);
		if (trimblanks(text).empty()) {
			pastgroup(p, pos, close);
			return;
		}
	}
	joinbefore(p);
	if (whole && formtokens(text, FORMFLAGS, toks, refused, cmd) && !toks.empty()) {
		std::vector<size_t> unmatched;
		formbrackets(toks, unmatched);
		outmacroargs(p, formline(toks));
		pastgroup(p, pos, close);
		aftergroup(p, pos, code);
		return;
	}
	const bool dash = open + 1 < BUFSZ(p) && BUF(p, open + 1) == '-';
	advanceto(p, pos, open + 1 + dash);
	outmacroopen(p, dash ? "Fl" : "Cm");
	p->pendingspace = 0;
	parsegroupbody(p, pos);
	aftergroup(p, pos, code);
}

// @command: the program itself is "Nm" (bare in running text, named where
// a macro line is open, and "Ic" in the SYNOPSIS, where "Nm" would start a
// form); a program of the SEE ALSO section "Xr" with its section; another
// "Ic"; several words literal text, as in the whole-manual page.
void command(texistate *p, size_t &pos, codegroup &code)
{
	size_t open, close;
	const bool whole = groupat(p, pos, open, close);
	if (open >= BUFSZ(p))
		return;
	const texiprogram &pg = *p->policy.page;
	std::string text = whole ? grouptext(p, open, close) : std::string(); // too long: several words
	std::string_view word = trimblanks(text);
	const bool oneword = !word.empty() && word.find_first_of(" \t\n") == std::string_view::npos;
	const bool plain = oneword && word.find('@') == std::string_view::npos;
	const bool self = plain && (word == pg.name || word == pg.key) && !pg.synopsis;
	auto manual = plain && !self ? pg.manuals.find(word) : pg.manuals.end();
	joinbefore(p);
	std::string line;
	if (self) {
		// On a line already open "Nm" names the program itself.
		line = "Nm";
		if (p->openmacros > 0) {
			line += ' ';
			formargument(line, pg.name);
		}
	} else if (manual != pg.manuals.end()) {
		line = "Xr ";
		formargument(line, word);
		line += ' ';
		line += manual->second;
	}
	if (!line.empty()) {
		// The macro says it all: the group is read, not written.
		outmacroargs(p, line);
		p->ignoredepth++;
		parsegroup(p, pos);
		p->ignoredepth--;
	} else {
		outmacroopen(p, !oneword ? "Li" : "Ic");
		p->pendingspace = 0;
		parsegroup(p, pos);
	}
	aftergroup(p, pos, code);
}

// Whether the group after pos is one word that starts with "-".
bool dashword(texistate *p, size_t pos)
{
	size_t open = groupopen(p, pos);
	return open + 1 < BUFSZ(p) && BUF(p, open + 1) == '-' && !groupholdswhite(p, pos);
}

// ---------------------------------------------------------------------------
// Tags

// Whether a tag's text reads as an option: after blanks and the commands
// that may wrap one, it starts with "-" or "@@".
bool optiontag(std::string_view t)
{
	for (;;) {
		t = trimblanks(t);
		if (t.empty())
			return false;
		if (t[0] == '-' || t.substr(0, 2) == "@@")
			return true;
		if (t[0] != '@')
			return false;
		size_t brace = t.find('{');
		if (brace == std::string_view::npos)
			return false;
		std::string_view name = t.substr(1, brace - 1);
		if (std::find(std::begin(optionwrappers), std::end(optionwrappers), name) == std::end(optionwrappers))
			return false;
		t.remove_prefix(brace + 1);
	}
}

// One tag, the rest of an @item or @itemx line, written on the open "It"
// line after a space.  An option is written by the grammar of forms (or,
// where the grammar does not read it, as text); a tag that begins with a
// command keeps that command's macro; another is written as if in the
// table's format.
void tag(texistate *p, size_t &pos)
{
	skipblanks(p, pos);
	size_t size = BUFSZ(p), end = pos;
	while (end < size && BUF(p, end) != '\n')
		end++;
	std::string_view line(pos < size ? BUFAT(p, pos) : "", end - pos);
	if (trimblanks(line).empty()) {
		skiptoeol(p, pos, 1);
		return;
	}
	const bool option = optiontag(line);
	if (option) {
		std::vector<formtoken> toks;
		size_t refused;
		std::string cmd, text = pagevalues(p, line);
		if (formtokens(text, FORMFLAGS, toks, refused, cmd) && !toks.empty()) {
			std::vector<size_t> unmatched;
			formbrackets(toks, unmatched);
			outmacroargs(p, formline(toks));
			outmacroclose(p);
			skiptoeol(p, pos, 1);
			return;
		}
	}
	const tagformatrow *f = nullptr;
	if (p->tagformat != CMD_NONE && tagformatindex[p->tagformat] != NOROW)
		f = &tagformats[tagformatindex[p->tagformat]];
	// An option the grammar does not read is text, as the source marks it.
	const bool own = option || (line[0] == '@' && macrocommand(commandat(p, pos)));
	if (f == nullptr || f->macro == nullptr || own) {
		p->pendingspace = 1;
		parserestofline(p, pos);
		return;
	}
	codegroup code(p, f->code);
	outmacroopen(p, f->macro);
	p->pendingspace = 0;
	parserestofline(p, pos);
	outmacroclose(p);
}

// ---------------------------------------------------------------------------
// References

// The arguments of a braced list, read from its raw bytes: each one's
// offsets, blanks around it left out.  Commas inside nested braces, and
// "@,", separate nothing.
std::vector<std::pair<size_t, size_t>> rawargs(std::string_view t)
{
	std::vector<std::pair<size_t, size_t>> args;
	size_t depth = 0, start = 0;
	for (size_t i = 0; i <= t.size(); i++) {
		char c = i < t.size() ? t[i] : ',';
		if (c == '@' && i + 1 < t.size())
			i++;
		else if (c == '{')
			depth++;
		else if (c == '}' && depth > 0)
			depth--;
		else if (c == ',' && (depth == 0 || i == t.size())) {
			size_t a = start, b = i;
			while (a < b && whitebyte(t[a]))
				a++;
			while (b > a && whitebyte(t[b - 1]))
				b--;
			args.emplace_back(a, b);
			start = i + 1;
		}
	}
	return args;
}

// Parses text, which stands at `at` in the innermost input, onto the line
// being written: diagnostics name the file and line it comes from.
void parseat(texistate *p, std::string_view text, size_t pos, size_t at)
{
	const texiinput &in = TOP(p);
	size_t line = in.line, col = in.col;
	for (size_t i = pos; i < at; i++)
		if (BUF(p, i) == '\n') {
			line++;
			col = 0;
		} else
			col++;
	std::string_view file = in.name;
	if (in.origins != nullptr && !in.origins->empty()) {
		auto run = std::upper_bound(in.origins->begin(), in.origins->end(), line,
		    [](size_t l, const texiorigin &o) { return l < o.line; });
		if (run != in.origins->begin())
			--run;
		line = run->fileline + (line - run->line);
		file = run->file;
	}
	std::vector<texiorigin> origins{{0, line, file}};
	std::string copy(text); // the input it stands in may move
	pageparse(p, copy, origins, col);
}

// A word of a reference, after the owed space (or none, as the source has
// it: "(see").
void refword(texistate *p, std::string_view w)
{
	if (p->pendingspace)
		outword(p, w);
	else
		outtext(p, w.data(), w.size());
}

} // namespace

// A node of the page is referred to by its heading, as "Sx".  Another is
// named in quotes, and so is the manual it is in: the fifth argument, as the
// whole-manual page names it, or else the Info manual of the fourth
// argument or of this manual.
bool pagereference(texistate *p, cmdid cmd, size_t &pos)
{
	size_t open, close;
	if ((cmd != CMD_xref && cmd != CMD_pxref && cmd != CMD_ref && cmd != CMD_inforef) || p->ignoredepth ||
	    !groupat(p, pos, open, close))
		return false;
	const texiprogram &pg = *p->policy.page;
	const size_t first = open + 1;
	const std::string raw(BUFAT(p, first), close - first);
	const auto args = rawargs(raw);
	auto arg = [&](size_t i) {
		return i < args.size() ? std::string_view(raw).substr(args[i].first, args[i].second - args[i].first)
		                       : std::string_view();
	};
	auto argat = [&](size_t i) { return first + args[i].first; };

	const char *word = cmd == CMD_pxref ? "see" : cmd == CMD_ref ? nullptr : "See";
	const std::string_view node = arg(0);
	const pagenode *own = nullptr;
	if (cmd != CMD_inforef)
		if (auto n = pg.pages->nodes.find(node); n != pg.pages->nodes.end())
			own = &n->second;
	if (word != nullptr)
		refword(p, word);

	if (own != nullptr) {
		outmacroopen(p, "Sx");
		p->pendingspace = 0;
		std::vector<texiorigin> origins{{0, own->at.line, own->at.file}};
		pageparse(p, own->heading, origins, own->at.col);
		pastgroup(p, pos, close);
		outtrailpunct(p, pos);
		outmacroclose(p);
		return true;
	}

	const size_t t = cmd != CMD_inforef && !arg(2).empty() ? 2 : 0;
	const bool book = cmd != CMD_inforef && !arg(4).empty();
	if (!arg(t).empty()) {
		outmacroopen(p, "Dq");
		p->pendingspace = 0;
		parseat(p, arg(t), pos, argat(t));
	}
	if (book) {
		if (!arg(t).empty()) {
			outmacroclose(p);
			refword(p, "in");
		}
		outmacroopen(p, "Em");
		p->pendingspace = 0;
		parseat(p, arg(4), pos, argat(4));
		pastgroup(p, pos, close);
		outtrailpunct(p, pos);
		outmacroclose(p);
		return true;
	}
	if (!arg(t).empty())
		outmacroclose(p);
	std::string manual(cmd == CMD_inforef ? arg(2) : arg(3).substr(0, arg(3).find('.')));
	if (manual.empty())
		manual = pg.infoname;
	for (std::string_view w : {std::string_view("in"), std::string_view("the"), std::string_view(manual),
	         std::string_view("Info"), std::string_view("manual")})
		outword(p, w);
	// What follows goes on as text after "manual".
	p->pendingspace = 0;
	pastgroup(p, pos, close);
	return true;
}

// ---------------------------------------------------------------------------

void pagefont(texistate *p, cmdid cmd, size_t &pos)
{
	assert(pagefontindex[cmd] != NOROW);
	const pagefontrow &f = pagefonts[pagefontindex[cmd]];
	codegroup code(p, f.code);
	if (f.kind == FONT_PLAIN || p->literaldepth || p->listkind == LIST_TABLE || p->ignoredepth) {
		parsegroup(p, pos);
		return;
	}
	if (beginswithmacro(p, pos)) {
		// The inner macro's line ends with the group; what the source
		// joins to the group goes on it.
		parsegroup(p, pos);
		if (pos < BUFSZ(p) && !whitebyte(BUF(p, pos)) && BUF(p, pos) != '}' && outreopen(p))
			aftergroup(p, pos, code);
		return;
	}
	if (f.kind == FONT_OPTION || (f.dashes && dashword(p, pos))) {
		option(p, pos, code);
		return;
	}
	if (f.kind == FONT_COMMAND) {
		command(p, pos, code);
		return;
	}
	joinbefore(p);
	outmacroopen(p, f.macro);
	p->pendingspace = 0;
	const size_t start = p->column;
	parsegroup(p, pos);
	// An empty sample is an empty pair of quotes: "Ql" with no argument
	// is not one.
	if (cmd == CMD_samp && p->column == start)
		outstr(p, "\\&");
	aftergroup(p, pos, code);
}

cmdid pagetagformat(texistate *p, size_t pos)
{
	skipblanks(p, pos);
	if (pos >= BUFSZ(p) || BUF(p, pos) != '@')
		return CMD_NONE;
	return commandat(p, pos);
}

void pageitem(texistate *p, size_t &pos)
{
	outmacroargs(p, "It");
	tag(p, pos);
	// The tags of @itemx lines that follow before any text join it;
	// comments and index entries between them are dropped.
	for (;;) {
		size_t at = pos, size = BUFSZ(p);
		while (at < size && whitebyte(BUF(p, at)))
			at++;
		if (at >= size || BUF(p, at) != '@')
			break;
		std::string_view name = namebytes(p, at);
		if (name == "itemx") {
			advanceto(p, pos, at + 1 + name.size());
			outstr(p, " ,");
			tag(p, pos);
			continue;
		}
		size_t nl = at;
		while (nl < size && BUF(p, nl) != '\n')
			nl++;
		if (name != "c" && name != "comment" && !pageindexline(std::string_view(BUFAT(p, at), nl - at)))
			break;
		advanceto(p, pos, at);
		skiptoeol(p, pos, 1);
	}
	outmacroclose(p);
	p->parabreak = 1;
}

// @gol: a line break in the source of an option list, which the page's
// filling makes needless.
void dogol(texistate *p, cmdid, size_t &pos)
{
	if (pos + 1 < BUFSZ(p) && BUF(p, pos) == '{' && BUF(p, pos + 1) == '}')
		advanceto(p, pos, pos + 2);
}

// @gccoptlist{X}: a list of options, written as a form without a name, one
// macro line for each run of words.  A list the grammar does not read is
// written as text, with a warning.
void dogccoptlist(texistate *p, cmdid, size_t &pos)
{
	size_t open, close;
	if (p->ignoredepth || p->literaldepth || p->openmacros || !groupat(p, pos, open, close)) {
		parsegroup(p, pos);
		return;
	}
	std::string text = grouptext(p, open, close);
	std::vector<formtoken> toks;
	size_t refused = 0;
	std::string cmd;
	if (!formtokens(text, FORMUNNAMED, toks, refused, cmd)) {
		// The place of the command refused, counted in the group's text.
		advanceto(p, pos, open + 1);
		texipos start = texihere(p), at{};
		std::string_view before(text.data(), std::min(refused, text.size()));
		size_t nl = before.rfind('\n');
		at.line = start.line + static_cast<size_t>(std::count(before.begin(), before.end(), '\n'));
		at.col = nl == std::string_view::npos ? start.col + refused : refused - nl - 1;
		texiwarningat(p, at, "SYNOPSIS form not understood (@%s): written as text", cmd.c_str());
		parsegroupbody(p, pos);
		return;
	}
	std::vector<size_t> unmatched;
	formbrackets(toks, unmatched);
	for (const std::string &line : formlines(toks))
		outblockmacro(p, line.c_str());
	pastgroup(p, pos, close);
}
