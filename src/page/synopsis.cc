// The SYNOPSIS of a program's page: forms of the command line written with
// mdoc's option macros.
//
// The section's lines are read as lines first.  A line that starts with the
// program's name starts a form; a line that starts with an option, a
// bracket or an argument continues it (or starts a form without a name);
// other lines are text, parsed as Texinfo.  A form is read as tokens
// (brackets, bars, ellipses, words and the few commands that mark them),
// each word classified as the program's name, a flag, a modifier, an
// argument or plain text.  Tokens without white space between them form a
// run, written as one macro line; inside brackets white space does not end
// a run.  A form holding any other command is written as text, with a
// warning.

#include <algorithm>
#include <cstring>

#include "page.h"

namespace {

// The names of the mdoc macros: an argument spelled as one is read as a call
// of the macro.
constexpr std::string_view mdocmacros[] = {
	"%A", "%B", "%C", "%D", "%I", "%J", "%N", "%O", "%P", "%Q", "%R", "%T", "%U", "%V",
	"Ac", "Ad", "An", "Ao", "Ap", "Aq", "Ar", "At", "Bc", "Bd", "Bf", "Bk", "Bl", "Bo",
	"Bq", "Brc", "Bro", "Brq", "Bsx", "Bt", "Bx", "Cd", "Cm", "D1", "Db", "Dc", "Dd",
	"Dl", "Do", "Dq", "Dt", "Dv", "Dx", "Ec", "Ed", "Ef", "Ek", "El", "Em", "En", "Eo",
	"Er", "Es", "Ev", "Ex", "Fa", "Fc", "Fd", "Fl", "Fn", "Fo", "Fr", "Ft", "Fx", "Hf",
	"Ic", "In", "It", "Lb", "Li", "Lk", "Lp", "Ms", "Mt", "Nd", "Nm", "No", "Ns", "Nx",
	"Oc", "Oo", "Op", "Os", "Ot", "Ox", "Pa", "Pc", "Pf", "Po", "Pp", "Pq", "Qc", "Ql",
	"Qo", "Qq", "Re", "Rs", "Rv", "Sc", "Sh", "Sm", "So", "Sq", "Ss", "St", "Sx", "Sy",
	"Ta", "Tg", "Tn", "Ud", "Ux", "Va", "Vt", "Xc", "Xo", "Xr",
};
static_assert(std::size(mdocmacros) == 121);

bool mdocmacro(std::string_view w)
{
	return w.size() >= 2 && w.size() <= 3 && std::find(std::begin(mdocmacros), std::end(mdocmacros), w) != std::end(mdocmacros);
}

// The punctuation that closes a phrase.  Such a character after a token and
// before a blank goes onto the macro line as a delimiter of its own.
bool closingbyte(char c)
{
	return std::strchr(".,:;)?!", c) != nullptr && c != '\0';
}

// An argument that mdoc would read as a delimiter.
bool delimiterword(std::string_view w)
{
	return w.size() == 1 && std::strchr(".,:;()[]?!", w[0]) != nullptr;
}

// ---------------------------------------------------------------------------
// Tokens

// How the words of a group are read: as the form's own words, as flags (the
// groups of @option and its kin), or as remarks (@r, @w, @asis: text).
enum wordcontext { WORDPLAIN, WORDFLAG, WORDREMARK };

constexpr std::string_view flagcommands[] = {"option", "b", "samp", "code", "kbd", "strong", "t"};
constexpr std::string_view remarkcommands[] = {"r", "w", "asis"};

template <size_t N>
bool among(std::string_view w, const std::string_view (&set)[N])
{
	return std::find(std::begin(set), std::end(set), w) != std::end(set);
}

// "@@", "@{" and "@}" stand for their character inside a word.
bool charcommand(std::string_view s, size_t i)
{
	return i + 1 < s.size() && s[i] == '@' && (s[i + 1] == '@' || s[i + 1] == '{' || s[i + 1] == '}');
}

// The name of the command whose "@" is at i, as the command lookup reads it.
std::string_view commandname(std::string_view s, size_t i)
{
	size_t start = i + 1, end = start;
	if (end >= s.size())
		return {};
	if (!letterbyte(static_cast<unsigned char>(s[end])))
		return s.substr(start, 1);
	while (end < s.size() && !whitebyte(s[end]) && s[end] != '@' && s[end] != '{' && s[end] != '}')
		end++;
	return s.substr(start, end - start);
}

bool subcommandword(std::string_view w)
{
	if (w.empty() || w[0] < 'a' || w[0] > 'z')
		return false;
	for (char c : w)
		if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'))
			return false;
	return true;
}

// Real forms nest a group or two: deeper ones are not read, so that the
// scan's own nesting stays bounded.
constexpr size_t MAXFORMDEPTH = 64;

struct scanner {
	scanner(std::string_view text, formcontext c, std::vector<formtoken> &out) : s(text), ctx(c), toks(out) {}
	std::string_view s;
	formcontext ctx;
	std::vector<formtoken> &toks;
	size_t i = 0;
	size_t depth = 0; // groups open
	bool white = true; // the form's start counts as white space
	bool named = false; // the program's name has been read
	size_t refused = 0;
	std::string cmd;

	void push(formkind kind, size_t at, std::string word = {})
	{
		toks.push_back({kind, white, at, std::move(word)});
		white = false;
	}

	bool refuse(size_t at, std::string_view name)
	{
		refused = at;
		cmd = name;
		return false;
	}

	formkind classify(wordcontext wc, std::string_view w)
	{
		if (wc == WORDREMARK)
			return FORM_NO;
		if (wc == WORDFLAG || ctx == FORMFLAGS) {
			if (w[0] == '-')
				return FORM_FL;
			return w[0] == '<' ? FORM_AR : FORM_CM;
		}
		if (ctx == FORMNAMED && !named) {
			named = true;
			return FORM_NM;
		}
		if (w[0] == '-')
			return FORM_FL;
		if (!toks.empty() && toks.back().kind == FORM_NM && subcommandword(w))
			return FORM_CM;
		unsigned char c = static_cast<unsigned char>(w[0]);
		if (letterbyte(c) || (c >= '0' && c <= '9') || std::strchr("_<~/.", c) != nullptr)
			return FORM_AR;
		return FORM_NO;
	}

	void pushword(wordcontext wc, size_t at, std::string w)
	{
		if (w == "...")
			push(FORM_ELLIPSIS, at);
		else {
			formkind k = classify(wc, w);
			push(k, at, std::move(w));
		}
	}

	// A bare word: up to white space, a bracket, a bar, the group's "}" or
	// a command other than the three characters.  Closing punctuation at
	// its end, before a blank, is a delimiter of its own.
	void word(wordcontext wc, bool group)
	{
		size_t at = i;
		std::string w;
		while (i < s.size()) {
			char c = s[i];
			if (whitebyte(c) || c == '[' || c == ']' || c == '|' || (c == '}' && group))
				break;
			if (c == '@') {
				if (!charcommand(s, i))
					break;
				w += s[i + 1];
				i += 2;
				continue;
			}
			w += c;
			i++;
		}
		size_t keep = w.size();
		if ((i == s.size() || whitebyte(s[i])) && w != "...")
			while (keep > 0 && closingbyte(w[keep - 1]))
				keep--;
		if (keep == w.size() || (keep == 0 && (white || toks.empty()))) {
			pushword(wc, at, std::move(w));
			return;
		}
		std::string punct = w.substr(keep);
		if (keep > 0) {
			w.resize(keep);
			pushword(wc, at, std::move(w));
		}
		push(FORM_PUNCT, at + keep, std::move(punct));
	}

	// The group of @var: one argument, white space and brackets included.
	bool argument()
	{
		size_t at = i - 1;
		std::string w;
		bool blank = false;
		while (i < s.size() && s[i] != '}') {
			if (s[i] == '@') {
				if (!charcommand(s, i))
					return refuse(i, commandname(s, i));
				w += s[i + 1];
				i += 2;
				continue;
			}
			if (whitebyte(s[i])) {
				blank = true;
				i++;
				continue;
			}
			if (blank && !w.empty())
				w += ' ';
			blank = false;
			w += s[i++];
		}
		if (i < s.size())
			i++;
		push(FORM_AR, at, std::move(w));
		return true;
	}

	bool scan(wordcontext wc, bool group)
	{
		while (i < s.size()) {
			char c = s[i];
			if (whitebyte(c)) {
				white = true;
				i++;
				continue;
			}
			if (c == '}' && group) {
				i++;
				return true;
			}
			if (c == '[' || c == ']' || c == '|') {
				push(c == '[' ? FORM_OPEN : c == ']' ? FORM_CLOSE : FORM_BAR, i);
				i++;
				continue;
			}
			if (c != '@' || charcommand(s, i)) {
				word(wc, group);
				continue;
			}
			size_t at = i;
			std::string_view name = commandname(s, at);
			i = at + 1 + name.size();
			bool braced = i < s.size() && s[i] == '{';
			if (name == "gol") {
				if (i + 1 < s.size() && s[i] == '{' && s[i + 1] == '}')
					i += 2;
				continue;
			}
			if (name == "dots" && braced && i + 1 < s.size() && s[i + 1] == '}') {
				i += 2;
				push(FORM_ELLIPSIS, at);
				continue;
			}
			if (!braced || name.empty() || depth == MAXFORMDEPTH)
				return refuse(at, name);
			i++;
			if (name == "var") {
				if (!argument())
					return false;
			} else if (among(name, flagcommands) || among(name, remarkcommands)) {
				depth++;
				if (!scan(among(name, flagcommands) ? WORDFLAG : WORDREMARK, true))
					return false;
				depth--;
			} else
				return refuse(at, name);
		}
		return true;
	}
};

// Whether "Ns" joins two tokens that had no white space between them: not
// next to an ellipsis or a bar, not after "Oo" or before "Oc", and not
// before punctuation, which mdoc sets against what it follows.
bool joins(const formtoken &a, const formtoken &b)
{
	if (a.kind == FORM_ELLIPSIS || b.kind == FORM_ELLIPSIS || a.kind == FORM_BAR || b.kind == FORM_BAR)
		return false;
	return a.kind != FORM_OPEN && b.kind != FORM_CLOSE && b.kind != FORM_PUNCT;
}

} // namespace

// A word as an argument of a macro line: escaped, and guarded where mdoc
// would read it as a delimiter or a macro.  The blanks of an @var group
// separate arguments; an empty group is an empty argument, not none
// (mdoc writes "file ..." for an "Ar" without one).
void formargument(std::string &line, std::string_view w)
{
	if (w.empty()) {
		line += "\\&";
		return;
	}
	size_t start = 0;
	for (;;) {
		size_t sp = w.find(' ', start);
		std::string_view piece = w.substr(start, sp == std::string_view::npos ? std::string_view::npos : sp - start);
		if (start > 0)
			line += ' ';
		if (delimiterword(piece) || mdocmacro(piece))
			line += "\\&";
		for (char c : piece) {
			if (c == '\\')
				line += "\\e";
			else if (c == '"')
				line += "\\(dq";
			else
				line += c;
		}
		if (sp == std::string_view::npos)
			break;
		start = sp + 1;
	}
}

bool formtokens(std::string_view text, formcontext ctx, std::vector<formtoken> &toks, size_t &refused,
    std::string &cmd)
{
	scanner sc(text, ctx, toks);
	if (sc.scan(WORDPLAIN, false))
		return true;
	refused = sc.refused;
	cmd = sc.cmd;
	return false;
}

bool formbrackets(std::vector<formtoken> &toks, std::vector<size_t> &unmatched)
{
	size_t depth = 0;
	for (formtoken &t : toks) {
		if (t.kind == FORM_OPEN)
			depth++;
		else if (t.kind == FORM_CLOSE && depth > 0)
			depth--;
		else if (t.kind == FORM_CLOSE) {
			t.kind = FORM_NO;
			t.word.assign(1, ']'); // not = "]": gcc 12 at -O3 warns of an overlap
			unmatched.push_back(t.at);
		}
	}
	if (depth == 0)
		return false;
	size_t end = toks.back().at;
	for (; depth > 0; depth--)
		toks.push_back({FORM_CLOSE, false, end, {}});
	return true;
}

void formargs(std::string &line, const std::vector<formtoken> &toks, size_t b, size_t e)
{
	for (size_t i = b; i < e; i++) {
		const formtoken &t = toks[i];
		if (i > b && !t.white && joins(toks[i - 1], t))
			line += " Ns";
		if (!line.empty())
			line += ' ';
		switch (t.kind) {
		case FORM_OPEN:
			line += "Oo";
			break;
		case FORM_CLOSE:
			line += "Oc";
			break;
		case FORM_BAR:
			line += '|';
			break;
		case FORM_ELLIPSIS:
			line += "...";
			break;
		case FORM_PUNCT:
			for (size_t k = 0; k < t.word.size(); k++) {
				if (k > 0)
					line += ' ';
				line += t.word[k];
			}
			break;
		case FORM_NM:
			line += "Nm";
			break;
		case FORM_FL:
			line += "Fl";
			if (t.word.size() > 1) {
				line += ' ';
				formargument(line, std::string_view(t.word).substr(1));
			}
			break;
		case FORM_CM:
		case FORM_AR:
		case FORM_NO:
			line += t.kind == FORM_CM ? "Cm " : t.kind == FORM_AR ? "Ar " : "No ";
			formargument(line, t.word);
			break;
		}
	}
}

std::string formline(const std::vector<formtoken> &toks)
{
	std::string line;
	formkind k = toks.empty() ? FORM_NO : toks[0].kind;
	if (k == FORM_BAR || k == FORM_ELLIPSIS || k == FORM_PUNCT)
		line = "No";
	formargs(line, toks, 0, toks.size());
	return line;
}

std::vector<std::string> formlines(const std::vector<formtoken> &toks)
{
	std::vector<std::string> lines;
	for (size_t i = 0, n = toks.size(); i < n;) {
		size_t start = i, depth = 0, match = SIZE_MAX;
		do {
			if (toks[i].kind == FORM_OPEN)
				depth++;
			else if (toks[i].kind == FORM_CLOSE && depth > 0 && --depth == 0 && match == SIZE_MAX)
				match = i;
			i++;
		} while (i < n && (depth > 0 || !toks[i].white));
		std::string line;
		if (toks[start].kind == FORM_OPEN && match == i - 1) {
			line = "Op";
			formargs(line, toks, start + 1, i - 1);
		} else {
			formkind k = toks[start].kind;
			if (k == FORM_BAR || k == FORM_ELLIPSIS || k == FORM_PUNCT)
				line = "No";
			formargs(line, toks, start, i);
		}
		lines.push_back(std::move(line));
	}
	return lines;
}

// ---------------------------------------------------------------------------
// The section

namespace {

struct synline {
	std::string text;
	std::string_view file;
	size_t line;
};

constexpr std::string_view droppedblocks[] = {"example", "smallexample", "display", "format", "smallformat", "group"};

std::string_view firstword(std::string_view l, size_t &i)
{
	i = 0;
	while (i < l.size() && blankbyte(l[i]))
		i++;
	size_t start = i;
	while (i < l.size() && !blankbyte(l[i]))
		i++;
	std::string_view w = l.substr(start, i - start);
	while (i < l.size() && blankbyte(l[i]))
		i++;
	return w;
}

} // namespace

std::string pagevalues(texistate *p, std::string_view l)
{
	std::string out;
	for (size_t i = 0; i < l.size();) {
		if (charcommand(l, i)) {
			out.append(l.substr(i, 2));
			i += 2;
			continue;
		}
		if (l.substr(i, 7) == "@value{") {
			size_t close = l.find('}', i + 7);
			if (close != std::string_view::npos) {
				auto v = p->vars.find(l.substr(i + 7, close - i - 7));
				if (v != p->vars.end() && v->second) {
					out += *v->second;
					i = close + 1;
					continue;
				}
			}
		}
		out += l[i++];
	}
	return out;
}

namespace {

// The lines of a buffer, as the grammar reads them: comments, index
// entries, @ignore blocks and the lines of displays that frame a synopsis
// dropped, @ifset and @ifclear decided, values put in.
void filter(texistate *p, const pagebuffer &b, std::vector<synline> &out)
{
	std::vector<std::string_view> open; // the conditionals taken, by name
	size_t skipping = 0;                // depth of a block being dropped
	std::string_view skipname;
	size_t run = 0, pos = 0;
	for (size_t l = 0; l < b.lines; l++) {
		size_t nl = b.text.find('\n', pos);
		std::string_view line(b.text.data() + pos, nl - pos);
		pos = nl + 1;
		while (run + 1 < b.origins.size() && b.origins[run + 1].line <= l)
			run++;
		size_t i;
		std::string_view w = firstword(line, i);
		if (skipping > 0) {
			if (w.size() == skipname.size() + 1 && w[0] == '@' && w.substr(1) == skipname)
				skipping++;
			else if (w == "@end" && trimblanks(line.substr(i)) == skipname)
				skipping--;
			continue;
		}
		if (w == "@c" || w == "@comment" || pageindexline(line))
			continue;
		if (w == "@ignore") {
			skipping = 1;
			skipname = "ignore";
			continue;
		}
		if (w.size() > 1 && w[0] == '@' && among(w.substr(1), droppedblocks))
			continue;
		if (w == "@end" && among(trimblanks(line.substr(i)), droppedblocks))
			continue;
		if (w == "@ifset" || w == "@ifclear") {
			auto v = p->vars.find(line.substr(i));
			bool set = i < line.size() && v != p->vars.end() && v->second;
			if (set == (w == "@ifset"))
				open.push_back(w.substr(1));
			else {
				skipping = 1;
				skipname = w.substr(1);
			}
			continue;
		}
		if (w == "@end" && !open.empty() && trimblanks(line.substr(i)) == open.back()) {
			open.pop_back();
			continue;
		}
		const texiorigin &o = b.origins[run];
		out.push_back({pagevalues(p, line), o.file, o.fileline + (l - o.line)});
	}
}

enum linekind { LINEBLANK, LINENAME, LINEOPTION, LINETEXT };

constexpr std::string_view optionstarts[] = {
	"[", "-", "@@", "...", "@option{", "@b{", "@samp{", "@code{", "@kbd{", "@strong{", "@t{", "@var{", "@dots{", "@r{",
};

// The word a line starts with (after blanks), as a bare word of a form
// reads; end is left past it.
std::string leadword(std::string_view l, size_t &end)
{
	size_t i = 0;
	while (i < l.size() && blankbyte(l[i]))
		i++;
	std::string w;
	while (i < l.size()) {
		char c = l[i];
		if (whitebyte(c) || c == '[' || c == ']' || c == '|' || (c == '@' && !charcommand(l, i)))
			break;
		if (c == '@') {
			w += l[i + 1];
			i += 2;
		} else {
			w += c;
			i++;
		}
	}
	end = i;
	return w;
}

linekind kindof(std::string_view l, std::string_view name, std::string_view key)
{
	std::string_view t = trimblanks(l);
	if (t.empty())
		return LINEBLANK;
	size_t end;
	std::string w = leadword(t, end);
	if (!w.empty() && (w == name || w == key))
		return LINENAME;
	for (std::string_view s : optionstarts)
		if (t.substr(0, s.size()) == s)
			return LINEOPTION;
	return LINETEXT;
}

// Lines of the section put together as one text, with where each begins
// and the places they come from.
struct chunk {
	std::string text;
	std::vector<size_t> starts;
	std::vector<texiorigin> origins;
	std::vector<const synline *> lines;

	void add(const synline &l)
	{
		if (!text.empty())
			text += '\n';
		size_t n = lines.size();
		if (origins.empty() || origins.back().file.data() != l.file.data() ||
		    origins.back().fileline + (n - origins.back().line) != l.line)
			origins.push_back({n, l.line, l.file});
		starts.push_back(text.size());
		text += l.text;
		lines.push_back(&l);
	}

	// The place of the byte at offset `at` of the text.
	texipos place(size_t at, std::string_view &file) const
	{
		size_t k = static_cast<size_t>(std::upper_bound(starts.begin(), starts.end(), at) - starts.begin()) - 1;
		file = lines[k]->file;
		return {lines[k]->line, at - starts[k], 0};
	}
};

void writeform(texistate *p, const chunk &c, bool named)
{
	std::string_view file;
	std::vector<formtoken> toks;
	size_t refused = 0;
	std::string cmd;
	if (!formtokens(c.text, named ? FORMNAMED : FORMUNNAMED, toks, refused, cmd)) {
		texipos at = c.place(refused, file);
		texiwarningin(p, file, at, "SYNOPSIS form not understood (@%s): written as text", cmd.c_str());
		if (!named) {
			pageparse(p, c.text, c.origins, 0);
			return;
		}
		outblockmacro(p, "Nm");
		// The text after the name, from its place on the name's line.
		size_t end;
		leadword(c.text, end);
		pageparse(p, std::string_view(c.text).substr(end), c.origins, end);
		return;
	}
	std::vector<size_t> unmatched;
	bool unclosed = formbrackets(toks, unmatched);
	for (size_t at : unmatched) {
		texipos pos = c.place(at, file);
		texiwarningin(p, file, pos, "unmatched \"]\" in SYNOPSIS");
	}
	if (unclosed) {
		size_t first = 0;
		while (first < c.text.size() && blankbyte(c.text[first]))
			first++;
		texipos pos = c.place(first, file);
		texiwarningin(p, file, pos, "unclosed \"[\" in SYNOPSIS");
	}
	for (const std::string &line : formlines(toks))
		outblockmacro(p, line.c_str());
	p->parabreak = 0;
}

} // namespace

void pagesynopsis(texistate *p, const pagebuffer *synopsis, const pagebuffer *target, std::string_view name,
    std::string_view key)
{
	std::vector<synline> lines;
	if (synopsis != nullptr)
		filter(p, *synopsis, lines);
	if (target != nullptr && target->lines > 0) {
		lines.push_back({{}, {}, 0});
		filter(p, *target, lines);
	}

	bool aftertext = false; // the line before was a text line
	for (size_t i = 0; i < lines.size();) {
		linekind k = kindof(lines[i].text, name, key);
		if (k == LINEBLANK) {
			aftertext = false;
			i++;
			continue;
		}
		chunk c;
		c.add(lines[i++]);
		if (k == LINETEXT) {
			while (i < lines.size() && kindof(lines[i].text, name, key) == LINETEXT)
				c.add(lines[i++]);
			outparagraph(p);
			pageparse(p, c.text, c.origins, 0);
			aftertext = true;
			continue;
		}
		while (i < lines.size() && kindof(lines[i].text, name, key) == LINEOPTION)
			c.add(lines[i++]);
		// A form without a name continues the text just before it; named
		// forms start lines of their own.
		if (k == LINEOPTION && !aftertext)
			outparagraph(p);
		writeform(p, c, k == LINENAME);
		aftertext = false;
	}
}
