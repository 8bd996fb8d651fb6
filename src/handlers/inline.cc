// Inline markup and references: font and phrase commands, links and cross
// references, @acronym, @verb and @math.
//
// Font commands and references put their braced argument on one mdoc line
// macro, parsed as ordinary text; @verb and @math copy their bodies as they
// stand.  Which macro a command gets is data, in the tables below.

#include <algorithm>
#include <array>
#include <cassert>
#include <cstdint>
#include <cstdio>
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
	bool code;         // its quotes and punctuation are written as typed
};

constexpr fontrow fonts[] = {
	{CMD_asis, nullptr, false},
	{CMD_b, "Sy", false},
	{CMD_cite, "Em", false},
	{CMD_code, "Li", true},
	{CMD_command, "Xr", true},
	{CMD_dfn, "Em", false},
	{CMD_emph, "Em", false},
	{CMD_env, "Ev", true},
	{CMD_file, "Pa", true},
	{CMD_i, "Em", false},
	{CMD_kbd, "Li", true},
	{CMD_option, "Li", true},
	{CMD_r, nullptr, false},
	{CMD_samp, "Ql", true},
	{CMD_sansserif, nullptr, false},
	{CMD_slanted, "Em", false},
	{CMD_strong, "Sy", false},
	{CMD_t, "Li", true},
	{CMD_var, "Va", false},
};

// One row per reference command: the words written before the macro (the
// cross references say what they point at), the macro that holds the first
// argument, and what the later arguments may add.
enum refmore {
	REF_NONE, // nothing: the later arguments are dropped
	REF_BOOK, // the printed manual of the fifth argument
	REF_TEXT, // the link text of the third or the second argument
};

struct refrow {
	cmdid cmd;
	const char *text; // null: no words before the macro
	const char *macro;
	refmore more;
	const char *book; // the words before the title of a whole manual
};

constexpr refrow refs[] = {
	{CMD_email, nullptr, "Mt", REF_NONE, nullptr},
	{CMD_indicateurl, nullptr, "Lk", REF_NONE, nullptr},
	{CMD_inforef, "See Info file node", "Dq", REF_NONE, nullptr},
	{CMD_pxref, "see Section", "Dq", REF_BOOK, "see"},
	{CMD_ref, nullptr, "Dq", REF_BOOK, nullptr},
	{CMD_uref, nullptr, "Lk", REF_TEXT, nullptr},
	{CMD_url, nullptr, "Lk", REF_TEXT, nullptr},
	{CMD_xref, "See Section", "Dq", REF_BOOK, "See"},
};

constexpr auto fontindex = rowindex(fonts);
constexpr auto refindex = rowindex(refs);

constexpr std::string_view fontmacro(cmdid cmd)
{
	const char *m = fonts[fontindex[cmd]].macro;
	return m ? m : "";
}

static_assert(std::size(fonts) == 19 && std::size(refs) == 8);
static_assert(fontmacro(CMD_asis).empty() && fontmacro(CMD_r).empty() && fontmacro(CMD_sansserif).empty());
static_assert(fontmacro(CMD_command) == "Xr" && fontmacro(CMD_option) == "Li" && fontmacro(CMD_var) == "Va");
static_assert(fontmacro(CMD_samp) == "Ql" && fonts[fontindex[CMD_samp]].code && !fonts[fontindex[CMD_var]].code);
static_assert(std::string_view(refs[refindex[CMD_pxref]].text) == "see Section");
static_assert(std::string_view(refs[refindex[CMD_email]].macro) == "Mt" && refs[refindex[CMD_url]].text == nullptr);

// The arguments that have no place on the page (display text, titles, file
// names) are parsed, so that their commands still run and their braces are
// matched, and thrown away.
struct dropping {
	texistate *p;
	int ignore;
	explicit dropping(texistate *st) : p(st), ignore(st->ignoredepth) { p->ignoredepth++; }
	~dropping() { p->ignoredepth = ignore; }
	dropping(const dropping &) = delete;
	dropping &operator=(const dropping &) = delete;
};

void droprestargs(texistate *p, size_t &pos)
{
	dropping off(p);
	while (parsenextarg(p, pos, 1) > 0)
		;
}

// One argument parsed and thrown away, with parsenextarg's result.
int dropnextarg(texistate *p, size_t &pos, int started)
{
	dropping off(p);
	return parsenextarg(p, pos, started);
}

// The offset of the "}" that closes a group whose "{" has just been read,
// braces nesting; or the end of the text.
size_t rawgroupend(texistate *p, size_t pos)
{
	size_t size = BUFSZ(p);
	const char *s = pos < size ? BUFAT(p, pos) : nullptr;
	size_t depth = 1, end = pos;
	for (; end < size; end++) {
		char c = s[end - pos];
		if (c == '{')
			depth++;
		else if (c == '}' && --depth == 0)
			break;
	}
	return end;
}

// The body of a group whose "{" has been read, up to the "}" that balances
// it, copied as it stands (or only consumed), no command interpreted; the
// position is left past that "}".  A body whose "}" never comes is consumed
// and not written.
void rawbody(texistate *p, size_t &pos, bool write)
{
	size_t start = pos;
	advanceto(p, pos, rawgroupend(p, pos));
	if (pos >= BUFSZ(p))
		return;
	if (write)
		outrange(p, start, pos);
	assert(BUF(p, pos) == '}');
	stepone(p, pos);
}

} // namespace

// ---------------------------------------------------------------------------
// The group of @command, measured.  Braces are counted as in @math, and the
// verdict comes from the bytes up to the first white byte after the "{":
// it holds white space when the balancing "}" has not come by then.  A
// group is usually a word or two long, but a long stretch without white
// space may hold many commands whose groups all run to its end; the marks
// of cmdgroups keep those from scanning the stretch once each.

namespace {

constexpr size_t DIRECTSCAN = 256; // a longer scan marks its stretch

// Brings the marks up to date for the bytes from a up to b, going back
// from b, where c "}" are unclosed up to the stretch's end.
void markback(texistate *p, groupmarks &g, size_t a, size_t b, size_t c)
{
	const size_t n = BUFSZ(p);
	const char *t = BUFAT(p, a);
	for (size_t i = b - a; i-- > 0;) {
		if (t[i] == '}')
			c++;
		else if (t[i] == '{' && c > 0)
			c--;
		size_t d = n - (a + i);
		if (d % GROUPMARK == 0) {
			size_t k = (d - g.first) / GROUPMARK;
			if (k >= g.unclosed.size())
				g.unclosed.resize(k + 1);
			g.unclosed[k] = c;
		}
	}
	g.top = n - a;
	g.size = n;
}

} // namespace

bool groupholdswhite(texistate *p, size_t pos)
{
	const size_t n = BUFSZ(p);
	if (pos >= n)
		return false;
	const char *t = BUFAT(p, pos);
	size_t avail = n - pos;
	while (avail > 0 && whitebyte(*t)) {
		t++;
		avail--;
	}
	if (avail == 0 || *t != '{')
		return false;
	pos = n - avail;

	// Most groups are a word: their end is near, and no mark is needed.
	size_t depth = 0, i = 0;
	for (const size_t direct = std::min(avail, DIRECTSCAN); i < direct; i++) {
		char c = t[i];
		if (whitebyte(c))
			return true;
		if (c == '{')
			depth++;
		else if (c == '}' && --depth == 0)
			return false;
	}
	if (i == avail)
		return false;

	groupmarks &g = p->cmdgroups;
	// Bytes inserted ahead of the position since the marks were last
	// brought up to date come first; past them the text is as it was then.
	const bool marked = g.filepos == p->filepos;
	assert(!marked || n >= g.size);
	const size_t fresh = marked ? std::min(TOP(p).splicerem, n - g.size) : 0;

	bool closed = false;
	for (;;) {
		char c = t[i];
		if (whitebyte(c))
			break;
		if (c == '{')
			depth++;
		else if (c == '}' && !closed && --depth == 0)
			closed = true;
		if (++i == avail)
			break;
		size_t d = avail - i;
		if (marked && i >= fresh && d % GROUPMARK == 0 && d >= g.first && d <= g.top) {
			size_t unclosed = g.unclosed[(d - g.first) / GROUPMARK];
			markback(p, g, pos, pos + i, unclosed);
			return !closed && unclosed < depth && g.tail > 0;
		}
	}
	// The stretch ends at pos + i.  A long scan marks the stretch, back to
	// the group's start.
	if (i > DIRECTSCAN) {
		g.filepos = p->filepos;
		g.tail = avail - i;
		g.first = (g.tail + GROUPMARK - 1) / GROUPMARK * GROUPMARK;
		g.unclosed.clear();
		if (g.first == g.tail)
			g.unclosed.push_back(0);
		markback(p, g, pos, pos + i, 0);
	}
	return !closed && i < avail;
}

namespace {

// The group of a code command, with or without its macro: its quotes and
// lone punctuation are written as typed.
struct codegroup {
	texistate *p;
	int on;
	codegroup(texistate *st, bool code) : p(st), on(code) { p->codedepth += on; }
	~codegroup() { p->codedepth -= on; }
	codegroup(const codegroup &) = delete;
	codegroup &operator=(const codegroup &) = delete;
};

} // namespace

// ---------------------------------------------------------------------------
// Which arguments of a braced list are blank, read from its raw bytes before
// it is parsed.  A list's arguments are usually a few words, but one whose
// braces never balance runs to the end of its input, and so would the lists
// that begin inside it: the marks of listargs keep those from reading the
// rest of the input once each.

namespace {

constexpr int64_t NODEPTH = INT64_MAX / 4; // the rest reaches no such depth

// Marks for the rest of the input from `from`, the first byte inside a list
// whose braces never balance.
void markargs(texistate *p, size_t from)
{
	argmarks &g = p->listargs;
	const size_t n = BUFSZ(p), avail = n - from;
	g.filepos = p->filepos;
	g.size = n;
	g.at.assign(avail / ARGMARK, argmark{});
	const char *t = BUFAT(p, from);
	int64_t depth = 1;
	bool paired = false;
	argmark *cur = nullptr;
	size_t k = g.at.size(), next = avail % ARGMARK;
	for (size_t i = 0; i < avail; i++) {
		if (i == next && k > 0) {
			cur = &g.at[--k];
			*cur = {depth, NODEPTH, NODEPTH, paired};
			next += ARGMARK;
		}
		if (paired) {
			paired = false;
			continue;
		}
		switch (t[i]) {
		case '@':
			paired = true;
			break;
		case '{':
			depth++;
			break;
		case '}':
			depth--;
			if (cur != nullptr)
				cur->low = std::min(cur->low, depth);
			break;
		case ',':
			if (cur != nullptr)
				cur->lowcomma = std::min(cur->lowcomma, depth);
			break;
		default:
			break;
		}
	}
	// From each mark to the end, not just to the next mark.
	for (k = 1; k < g.at.size(); k++) {
		g.at[k].low = std::min(g.at[k].low, g.at[k - 1].low);
		g.at[k].lowcomma = std::min(g.at[k].lowcomma, g.at[k - 1].lowcomma);
	}
}

// Which of the first `upto` arguments of the braced list that follows pos
// (after white space) hold more than spaces, tabs and newlines: bit i for
// argument i + 1.  Arguments are separated by the commas outside nested
// braces, and "@" goes with the byte after it ("@," and "@}" are text).
// No "{": no arguments.
unsigned filledargs(texistate *p, size_t pos, unsigned upto)
{
	assert(upto > 0 && upto < 32);
	const size_t n = BUFSZ(p);
	if (pos >= n)
		return 0;
	const char *t = BUFAT(p, pos);
	const size_t avail = n - pos;
	size_t i = 0;
	while (i < avail && whitebyte(t[i]))
		i++;
	if (i == avail || t[i] != '{')
		return 0;
	const size_t first = ++i;
	const unsigned last = 1u << (upto - 1);
	unsigned filled = 0, arg = 0;
	int64_t depth = 1;

	// Bytes inserted ahead of the position since the marks were made come
	// first; past them the text is as it was then.
	const argmarks &g = p->listargs;
	const bool marked = g.filepos == p->filepos && n >= g.size && !g.at.empty();
	const size_t fresh = marked ? std::min(TOP(p).splicerem, n - g.size) : 0;
	bool consulted = false;

	// Read straight on up to the next place where a mark may stand.
	for (size_t next = std::min(avail, first + DIRECTSCAN);; next = std::min(avail, next)) {
		for (; i < next; i++) {
			char c = t[i];
			if (c == ',' && depth == 1) {
				if (++arg == upto)
					return filled;
				continue;
			}
			if (whitebyte(c))
				continue;
			if (c == '}' && --depth == 0)
				return filled;
			if (c == '{')
				depth++;
			filled |= 1u << arg;
			if (filled & last)
				return filled;
			if (c == '@')
				i++;
		}
		if (i >= avail)
			break;
		size_t d = avail - i;
		if (marked && i == next && i >= fresh && d % ARGMARK == 0 && d / ARGMARK <= g.at.size() &&
		    (filled >> arg & 1)) {
			// Every argument up to this one is known; the rest of the
			// input may hold no later one.
			consulted = true;
			const argmark &m = g.at[d / ARGMARK - 1];
			if (!m.paired && depth + m.low - m.depth >= 1 && depth + m.lowcomma - m.depth >= 2)
				return filled;
		}
		next = i + (d % ARGMARK ? d % ARGMARK : ARGMARK);
	}
	// The list never closes.
	if (!consulted && avail - first > DIRECTSCAN)
		markargs(p, pos + first);
	return filled;
}

} // namespace

// A font command puts its group on a line macro.  Literal blocks and table
// rows are not macro lines, so there the text goes out without the font.
void dofont(texistate *p, cmdid cmd, size_t &pos)
{
	if (p->policy.page != nullptr) {
		pagefont(p, cmd, pos);
		return;
	}
	assert(fontindex[cmd] != NOROW);
	const fontrow &f = fonts[fontindex[cmd]];
	const char *macro = f.macro;
	codegroup code(p, f.code);
	if (macro == nullptr || p->literaldepth || p->listkind == LIST_TABLE) {
		parsegroup(p, pos);
		return;
	}
	// A command's name is a cross reference to its manual only when it
	// begins the line and is one word: "Xr" reads the word after the name
	// as the manual's section, inside a heading or tag as much as in a
	// group of several words.  Otherwise it is literal text, as @code.
	if (cmd == CMD_command && !p->ignoredepth && (p->openmacros || groupholdswhite(p, pos)))
		macro = fonts[fontindex[CMD_code]].macro;
	outmacroopen(p, macro);
	p->pendingspace = 0;
	const size_t start = p->column;
	if (!simplewrite(p, pos, simplegroup(p, pos)))
		parsegroup(p, pos);
	// An empty sample is an empty pair of quotes: "Ql" with no argument
	// is not one.
	if (cmd == CMD_samp && p->column == start)
		outstr(p, "\\&");
	outtrailpunct(p, pos);
	outmacroclose(p);
}

// @sc: small capitals, which a page writes as capitals.
void dosmallcaps(texistate *p, cmdid, size_t &pos)
{
	p->scdepth++;
	parsegroup(p, pos);
	p->scdepth--;
}

// A link or cross reference: its fixed words, then its first argument on a
// line macro.  References are made in every context, literal or not.
//
// A cross reference into another printed manual names that manual, whose
// title is the fifth argument: the node in quotes, "in" and the title in
// italics; a reference to the whole manual (no node) names only the title.
// A link shows its text (the third argument, or the second) after the
// address.  Whether an argument is there is read from the raw list first,
// since the words before the macro depend on it.
void doreference(texistate *p, cmdid cmd, size_t &pos)
{
	if (p->policy.page != nullptr && pagereference(p, cmd, pos))
		return;
	assert(refindex[cmd] != NOROW);
	const refrow &r = refs[refindex[cmd]];
	// Most references are one plain argument: its list needs no reading
	// ahead, and it is written in one piece.
	const size_t simple = simplegroup(p, pos);
	const unsigned filled = simple                ? 1u
				: r.more == REF_BOOK ? filledargs(p, pos, 5)
				: r.more == REF_TEXT ? filledargs(p, pos, 3)
						     : 0;
	const bool book = r.more == REF_BOOK && (filled & 1u << 4);
	const bool whole = book && !(filled & 1u);
	if (r.text != nullptr) {
		outowedspace(p);
		outstr(p, whole ? r.book : r.text);
	}
	int more;
	if (whole)
		more = dropnextarg(p, pos, 0);
	else {
		outmacroopen(p, r.macro);
		more = simplewrite(p, pos, simple) ? 0 : parsenextarg(p, pos, 0);
	}
	if (book) {
		if (!whole)
			outmacroclose(p);
		for (int i = 2; i <= 4 && more > 0; i++)
			more = dropnextarg(p, pos, 1);
		// The list as parsed may end sooner than its raw bytes said (a
		// stray brace, a value holding commas): then no title follows.
		if (more <= 0)
			return;
		if (!whole) {
			if (p->column != 0)
				outchar(p, ' ');
			outstr(p, "in");
		}
		outmacroopen(p, "Em");
		more = parsenextarg(p, pos, 1);
	} else if (r.more == REF_TEXT && more > 0 && (filled & 6u)) {
		if (filled & 4u)
			more = dropnextarg(p, pos, 1);
		if (more > 0) {
			outchar(p, ' ');
			p->pendingspace = 0;
			more = parsenextarg(p, pos, 1);
		}
	}
	if (more > 0)
		droprestargs(p, pos);
	outtrailpunct(p, pos);
	outmacroclose(p);
}

// The acronym itself is plain text.  Its expansion, when there is one,
// follows in parentheses: on a line macro of its own in running text, and
// as plain text where a line is a heading or a tag, literal or a table row.
// @link keeps only its node.
void doacronym(texistate *p, cmdid cmd, size_t &pos)
{
	const bool expand = cmd != CMD_link && (filledargs(p, pos, 2) & 2u);
	int more = parsenextarg(p, pos, 0);
	if (expand && more > 0) {
		if (p->openmacros == 0 && p->literaldepth == 0 && p->listkind != LIST_TABLE) {
			outmacroopen(p, "Pq");
			if (parsenextarg(p, pos, 1) > 0)
				droprestargs(p, pos);
			outtrailpunct(p, pos);
			outmacroclose(p);
			return;
		}
		outchar(p, ' ');
		outchar(p, '(');
		p->pendingspace = 0;
		more = parsenextarg(p, pos, 1);
		outchar(p, ')');
		p->pendingspace = 0;
	}
	if (more > 0)
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
	rawbody(p, pos, true);
}

// ---------------------------------------------------------------------------
// Commands whose group is read raw, or parsed only in some conditions.

namespace {

// A raw group from its "{", which may follow blanks: the bytes inside it,
// and whether it was there at all.  The position is left past its "}" (or at
// the end of the text).
bool rawgroup(texistate *p, size_t &pos, std::string &text)
{
	skipblanks(p, pos);
	if (pos >= BUFSZ(p) || BUF(p, pos) != '{')
		return false;
	stepone(p, pos);
	size_t start = pos, end = rawgroupend(p, pos);
	text.assign(BUFAT(p, start), end - start);
	advanceto(p, pos, end);
	if (pos < BUFSZ(p))
		stepone(p, pos);
	return true;
}

int msglen(std::string_view s)
{
	return s.size() > INT32_MAX ? INT32_MAX : static_cast<int>(s.size());
}

// The value of a hexadecimal code point of one to six digits, at most
// 10FFFF and not a surrogate; -1 for anything else.
long codepoint(std::string_view hex)
{
	if (hex.empty() || hex.size() > 6)
		return -1;
	long v = 0;
	for (char c : hex) {
		int d = c >= '0' && c <= '9' ? c - '0' : (c | 0x20) >= 'a' && (c | 0x20) <= 'f' ? (c | 0x20) - 'a' + 10 : -1;
		if (d < 0)
			return -1;
		v = v * 16 + d;
	}
	if (v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF))
		return -1;
	return v;
}

} // namespace

// @U{HEX}: a character by its code point, ASCII as itself and the rest as the
// formatter's escape for it.
void dounicode(texistate *p, cmdid, size_t &pos)
{
	texipos at = p->cmdat;
	std::string group;
	rawgroup(p, pos, group);
	std::string_view hex = trimblanks(group);
	long v = codepoint(hex);
	if (v < 0) {
		texiwarningat(p, at, "bad argument to @U: %.*s", msglen(hex), hex.data());
		return;
	}
	outowedspace(p);
	if (v < 0x80) {
		outchar(p, static_cast<char>(v));
		return;
	}
	char esc[16];
	std::snprintf(esc, sizeof(esc), "\\[u%04lX]", v);
	outstr(p, esc);
}

// @sup{X} and @sub{X} in the notation of plain text: x^{2}, a_{i}.
void dosupsub(texistate *p, cmdid cmd, size_t &pos)
{
	outowedspace(p);
	outstr(p, cmd == CMD_sup ? "^{" : "_{");
	parsegroup(p, pos);
	outstr(p, "}");
}

// @errormsg{X}: the raw text of X is reported where the command stands; the
// page gets nothing.
void doerrormsg(texistate *p, cmdid, size_t &pos)
{
	texipos at = p->cmdat;
	std::string msg;
	if (rawgroup(p, pos, msg))
		texiwarningat(p, at, "%.*s", msglen(msg), msg.data());
}

namespace {

// Part of a command's group parsed with the output off; the space owed
// before it is still owed after it.
template <typename Parse>
void unwritten(texistate *p, Parse parse)
{
	int owed = p->pendingspace;
	p->ignoredepth++;
	parse();
	p->ignoredepth--;
	p->pendingspace = owed;
}

// The rest of the group, to its "}", commas included: written or not.
void restofgroup(texistate *p, size_t &pos, bool write)
{
	if (write)
		parsegroupbody(p, pos);
	else
		unwritten(p, [&] { parsegroupbody(p, pos); });
}

// The formats whose conditional text this page takes: those of the blocks
// (@ifinfo, @ifplaintext) whose bodies it keeps.
bool ourformat(std::string_view fmt)
{
	return fmt == "plaintext" || fmt == "info";
}

} // namespace

// @inlinefmt, @inlinefmtifelse, @inlineraw, @inlineifset and
// @inlineifclear: the first argument (a format or a variable) is read raw
// and never written; it decides which of the rest is parsed and written.
void doinlinecond(texistate *p, cmdid cmd, size_t &pos)
{
	skipblanks(p, pos);
	size_t size = BUFSZ(p);
	if (pos >= size || BUF(p, pos) != '{')
		return;
	stepone(p, pos);
	size_t start = pos, end = pos;
	while (end < size && BUF(p, end) != ',' && BUF(p, end) != '}')
		end++;
	std::string first(trimblanks(std::string_view(BUFAT(p, start), end - start)));
	advanceto(p, pos, end);
	if (pos >= size)
		return;
	bool comma = BUF(p, pos) == ',';
	stepone(p, pos);
	if (!comma)
		return;
	skipblanks(p, pos);

	switch (cmd) {
	case CMD_inlinefmt:
		restofgroup(p, pos, ourformat(first));
		break;
	case CMD_inlineifset:
	case CMD_inlineifclear: {
		auto v = first.empty() ? p->vars.end() : p->vars.find(first);
		bool set = v != p->vars.end() && v->second.has_value();
		restofgroup(p, pos, set == (cmd == CMD_inlineifset));
		break;
	}
	case CMD_inlinefmtifelse: {
		bool then = ourformat(first);
		int more = 0;
		if (then)
			more = parsenextarg(p, pos, 1);
		else
			unwritten(p, [&] { more = parsenextarg(p, pos, 1); });
		if (more > 0) {
			skipblanks(p, pos);
			restofgroup(p, pos, !then);
		}
		break;
	}
	case CMD_inlineraw: {
		bool ours = ourformat(first);
		if (ours)
			outowedspace(p);
		rawbody(p, pos, ours);
		break;
	}
	default:
		assert(!"an inline conditional");
		break;
	}
}
