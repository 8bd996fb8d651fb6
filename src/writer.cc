// The mdoc writer and the flow of running text.
//
// Every byte of the page passes through here.  The writer keeps a few facts
// about the output line (its column, the line macros open on it, an owed
// space, whether a paragraph break was the last thing written) and from them
// decides escaping, macro lines, paragraph breaks and wrapping.  While
// ignoredepth is not zero nothing is written, but input is still consumed.

#include <unistd.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include "teximan.h"

// ---------------------------------------------------------------------------
// Sinks.  The page is one buffer, written out when full and at the end of
// the run; the first write that fails ends the run.  A held sink grows
// instead, and is passed on whole later.

static void writeout(texistate *p, const char *s, size_t n)
{
	if (p->outcapture != nullptr) {
		p->outcapture->append(s, n);
		return;
	}
	while (n > 0) {
		ssize_t w = write(p->outfd, s, n);
		if (w < 0 && errno == EINTR)
			continue;
		if (w < 0) {
			p->outerrno = errno;
			throw texiexit{1};
		}
		s += w;
		n -= static_cast<size_t>(w);
	}
}

void outflush(texistate *p)
{
	if (p->out.held || p->outerrno != 0 || p->out.len == 0)
		return;
	size_t n = p->out.len;
	p->out.len = 0;
	writeout(p, p->out.data(), n);
}

// Room for n more bytes in a held sink: it grows by a share of what it
// holds, so that filling it stays linear.
static void outgrow(texistate *p, size_t n)
{
	outsink &o = p->out;
	size_t want = o.len + n;
	if (want <= o.cap)
		return;
	size_t grown = o.cap + o.cap / 2;
	o.reserve(want > grown ? want + 256 : grown);
}

// The n bytes at s (sizeof(T) to twice that) to d as two pieces of T, the
// first and the last, which overlap where n is less than twice sizeof(T).
template <typename T>
static inline void copyends(char *d, const char *s, size_t n)
{
	T a, b;
	std::memcpy(&a, s, sizeof a);
	std::memcpy(&b, s + n - sizeof b, sizeof b);
	std::memcpy(d, &a, sizeof a);
	std::memcpy(d + n - sizeof b, &b, sizeof b);
}

// Copies n bytes as the library would, but without a call for a few: most
// copies of the writer are a name, an escape or a word, which cost less
// than the call.  Each piece is read and written whole.
static inline void shortcopy(char *d, const char *s, size_t n)
{
	struct sixteen {
		uint64_t w[2];
	};
	if (n > 32)
		std::memcpy(d, s, n);
	else if (n > 16)
		copyends<sixteen>(d, s, n);
	else if (n >= 8)
		copyends<uint64_t>(d, s, n);
	else if (n >= 4)
		copyends<uint32_t>(d, s, n);
	else if (n >= 2)
		copyends<uint16_t>(d, s, n);
	else if (n == 1)
		*d = *s;
}

static inline void outraw(texistate *p, const char *s, size_t n)
{
	if (n == 0)
		return;
	outsink &o = p->out;
	o.last = s[n - 1];
	if (o.len + n > o.cap) {
		if (o.held)
			outgrow(p, n);
		else {
			outflush(p);
			if (n > o.cap) {
				writeout(p, s, n);
				return;
			}
		}
	}
	shortcopy(o.data() + o.len, s, n);
	o.len += n;
}

// Writes the string s and returns its length.  The names and escapes given
// this way are short, and are copied as they are measured where the buffer
// has room for them.
static inline size_t outcstr(texistate *p, const char *s)
{
	outsink &o = p->out;
	constexpr size_t SHORT = 32;
	if (o.cap - o.len >= SHORT) {
		char *d = o.data() + o.len;
		for (size_t i = 0; i < SHORT; i++) {
			if (s[i] == '\0') {
				if (i != 0) {
					o.len += i;
					o.last = s[i - 1];
				}
				return i;
			}
			d[i] = s[i];
		}
	}
	size_t n = std::strlen(s);
	outraw(p, s, n);
	return n;
}

static inline void outbyte(texistate *p, char c)
{
	outsink &o = p->out;
	if (o.len == o.cap) {
		if (o.held)
			outgrow(p, 1);
		else
			outflush(p);
	}
	o.data()[o.len++] = c;
	o.last = c;
}

void outendline(texistate *p)
{
	if (p->column != 0 && p->outerrno == 0) {
		outbyte(p, '\n');
		p->column = 0;
	}
}

// ---------------------------------------------------------------------------
// Text

// A line that begins with "." or "'" would be read as a request.
static inline bool needsguard(texistate *p, char c)
{
	return p->column == 0 && (c == '.' || c == '\'');
}

// On a macro line a double quote groups or ends the macro's arguments, so
// there it is written as the formatter's escape for the character.  The
// rows of a table are not macro lines.
static inline bool quoteline(const texistate *p)
{
	return p->openmacros != 0 && p->listkind != LIST_TABLE;
}

// A tab of literal text in a table cell would start a new cell: it is
// written as the spaces up to the next multiple of eight columns, counted
// from the start of the cell's line.
static void celltab(texistate *p)
{
	assert(p->row != nullptr);
	size_t n = 8 - (p->column - p->row->linecol) % 8;
	for (size_t i = 0; i < n; i++)
		outbyte(p, ' ');
	p->column += n;
}

// A newline in a table row ends a line of the current cell.  The cell's
// first line ends where the row's next cell would have gone on, had the
// row been written straight through.
static void cellbreak(texistate *p)
{
	tablerow &r = *p->row;
	if (!r.cellbroken) {
		r.firstend = p->column;
		r.cellbroken = r.broken = true;
	}
	r.linestart = p->out.len + 1;
	r.linecol = 0;
}

// Literal text in a table cell: the body of a display there.
static inline bool celltext(const texistate *p)
{
	return p->row != nullptr && p->literaldepth != 0;
}

void outchar(texistate *p, char c)
{
	if (p->ignoredepth)
		return;
	if (c == '\t' && celltext(p)) {
		celltab(p);
		p->parabreak = 0;
		return;
	}
	if (needsguard(p, c))
		outraw(p, "\\&", 2);
	if (c == '"' && quoteline(p))
		outraw(p, "\\(dq", 4);
	else {
		if (c == '\n' && p->row != nullptr)
			cellbreak(p);
		outbyte(p, c);
	}
	if (c == '\\')
		outbyte(p, 'e');
	p->parabreak = 0;
	if (c == '\n') {
		p->column = 0;
		p->pendingspace = 0;
	} else
		p->column++;
}

// Bytes that outchar does not write as they stand, or that change the line:
// on a text line, on a macro line, and in literal text of a table cell.
struct textclass {
	bool special[256];
	constexpr explicit textclass(bool macroline, bool cell = false) : special{}
	{
		special[static_cast<unsigned char>('\\')] = true;
		special[static_cast<unsigned char>('\n')] = true;
		special[static_cast<unsigned char>('"')] = macroline;
		special[static_cast<unsigned char>('\t')] = cell;
	}
};
static constexpr textclass textbytes(false), macrotextbytes(true), celltextbytes(false, true);

void outtext(texistate *p, const char *s, size_t n)
{
	if (p->ignoredepth || n == 0)
		return;
	const bool *special = celltext(p) ? celltextbytes.special : quoteline(p) ? macrotextbytes.special : textbytes.special;
	size_t i = 0;
	while (i < n) {
		if (needsguard(p, s[i]))
			outraw(p, "\\&", 2);
		size_t j = i;
		while (j < n && !special[static_cast<unsigned char>(s[j])])
			j++;
		outraw(p, s + i, j - i);
		p->column += j - i;
		if (j == n)
			break;
		if (s[j] == '\\') {
			outraw(p, "\\e", 2);
			p->column++;
		} else if (s[j] == '"') {
			outraw(p, "\\(dq", 4);
			p->column++;
		} else if (s[j] == '\t')
			celltab(p);
		else {
			if (p->row != nullptr)
				cellbreak(p);
			outbyte(p, '\n');
			p->column = 0;
			p->pendingspace = 0;
		}
		i = j + 1;
	}
	p->parabreak = 0;
}

// The fixed strings of the writer (macro names, block macros, glyphs) are
// short: up to SHORTSTR bytes they are measured and copied by a loop that
// costs less than the library calls, and written in one piece where the
// sink has room for them.
constexpr size_t SHORTSTR = 48;

// The length of s if it is shorter than SHORTSTR, else SHORTSTR.
static inline size_t shortlen(const char *s)
{
	// Where a caller's literal reaches here, the compiler measures it.
	if (__builtin_constant_p(__builtin_strlen(s)))
		return std::min(__builtin_strlen(s), SHORTSTR);
	size_t n = 0;
	while (n < SHORTSTR && s[n] != '\0')
		n++;
	return n;
}

static inline bool outhasroom(const texistate *p, size_t n)
{
	return p->out.cap - p->out.len >= n;
}

// What does not fit the fast paths below: a long string, or a sink that
// must first be written out or grown.
[[gnu::noinline]] static void outstrslow(texistate *p, const char *s)
{
	if (needsguard(p, s[0]))
		outraw(p, "\\&", 2);
	p->column += outcstr(p, s);
	p->parabreak = 0;
}

void outstr(texistate *p, const char *s)
{
	if (p->ignoredepth)
		return;
	const size_t n = shortlen(s);
	if (n == SHORTSTR || !outhasroom(p, n + 2)) {
		outstrslow(p, s);
		return;
	}
	outsink &o = p->out;
	char *d = o.data() + o.len, *const d0 = d;
	if (needsguard(p, s[0])) {
		*d++ = '\\';
		*d++ = '&';
	}
	shortcopy(d, s, n);
	d += n;
	if (d != d0) {
		o.len += static_cast<size_t>(d - d0);
		o.last = d[-1];
	}
	p->column += n;
	p->parabreak = 0;
}

void outrange(texistate *p, size_t start, size_t end)
{
	assert(start <= end && end <= BUFSZ(p));
	outtext(p, BUFAT(p, start), end - start);
}

static bool sentencebreak(const texistate *p, char next);

// The owed space of a handler that writes inline text itself, whose first
// byte is `next` when it is known.
void outowedspace(texistate *p, char next)
{
	if (p->pendingspace && p->column != 0 && p->literaldepth == 0 && !p->ignoredepth) {
		if (p->policy.textlines && sentencebreak(p, next))
			outchar(p, '\n');
		else {
			// A space as outchar writes it, which needs no guard or escape.
			outbyte(p, ' ');
			p->parabreak = 0;
			p->column++;
		}
	}
	p->pendingspace = 0;
}

// ---------------------------------------------------------------------------
// Macro lines

// A paragraph break just written, taken back before a macro that sets off
// what follows anyway (a list, an item, a display, a heading): formatters
// skip the break there, and their checks report it.  Only a held place
// keeps the bytes to take back, and a program page's sections are held.
static void takebackpara(texistate *p, std::string_view macro)
{
	static constexpr std::string_view setoff[] = {"It", "Bl", "Bd", "El", "Ss", "Sh"};
	std::string_view m = macro.substr(0, macro.find(' '));
	if (std::find(std::begin(setoff), std::end(setoff), m) == std::end(setoff))
		return;
	outsink &o = p->out;
	if (!o.held || p->column != 0 || o.len < 4 || std::memcmp(o.data() + o.len - 4, ".Pp\n", 4) != 0 ||
	    (o.len > 4 && o.data()[o.len - 5] != '\n'))
		return;
	o.len -= 4;
	o.last = o.len > 0 ? o.data()[o.len - 1] : '\n';
}

[[gnu::noinline]] static void macroopenslow(texistate *p, const char *name)
{
	if (p->column != 0 && p->openmacros == 0) {
		outbyte(p, '\n');
		p->column = 0;
	}
	outbyte(p, p->openmacros == 0 ? '.' : ' ');
	size_t n = outcstr(p, name);
	outbyte(p, ' ');
	p->column += n + 1;
	p->openmacros++;
	p->pendingspace = 0;
}

// A line macro whose arguments are ready in mdoc form (a form of a command
// line): opened as outmacroopen opens one, with nothing after them.
void outmacroargs(texistate *p, std::string_view args)
{
	if (p->ignoredepth)
		return;
	if (p->policy.textlines && p->openmacros == 0)
		takebackpara(p, args);
	if (p->column != 0 && p->openmacros == 0) {
		outbyte(p, '\n');
		p->column = 0;
	}
	outbyte(p, p->openmacros == 0 ? '.' : ' ');
	outraw(p, args.data(), args.size());
	p->column += args.size() + 1;
	p->openmacros++;
	p->pendingspace = 0;
}

void outmacroopen(texistate *p, const char *name)
{
	if (p->ignoredepth)
		return;
	if (p->policy.textlines && p->openmacros == 0)
		takebackpara(p, name);
	const size_t n = shortlen(name);
	if (n == SHORTSTR || !outhasroom(p, n + 3)) {
		macroopenslow(p, name);
		return;
	}
	outsink &o = p->out;
	char *d = o.data() + o.len, *const d0 = d;
	const bool first = p->openmacros == 0;
	size_t column = p->column;
	if (first && column != 0) {
		*d++ = '\n';
		column = 0;
	}
	*d++ = first ? '.' : ' ';
	shortcopy(d, name, n);
	d += n;
	*d++ = ' ';
	o.len += static_cast<size_t>(d - d0);
	o.last = ' ';
	p->column = column + n + 1;
	p->openmacros++;
	p->pendingspace = 0;
}

// Only the lines of inline macros are opened again: a block's line is never
// continued.
bool outreopen(texistate *p)
{
	static constexpr std::string_view inline_[] = {"Ar", "Cm", "Em", "Ev", "Fl", "Ic", "Li", "Lk", "Mt", "Nm",
	    "No", "Pa", "Ql", "Sy", "Xr"};
	outsink &o = p->out;
	if (p->ignoredepth || p->openmacros != 0 || p->column != 0 || !o.held || o.len < 4 ||
	    o.data()[o.len - 1] != '\n')
		return false;
	std::string_view held(o.data(), o.len - 1);
	size_t start = held.rfind('\n') + 1; // npos + 1: the first line
	std::string_view line = held.substr(start);
	if (line.size() < 3 || line[0] != '.' ||
	    std::find(std::begin(inline_), std::end(inline_), line.substr(1, 2)) == std::end(inline_) ||
	    (line.size() > 3 && line[3] != ' '))
		return false;
	o.len--;
	o.last = o.data()[o.len - 1];
	p->column = line.size();
	p->openmacros = 1;
	return true;
}

// A line macro opened while output was off, on a line whose @top switched
// it on, has no line to close.
void outmacroclose(texistate *p)
{
	if (p->ignoredepth || p->openmacros == 0)
		return;
	if (--p->openmacros == 0) {
		outsink &o = p->out;
		if (o.len < o.cap) {
			o.data()[o.len++] = '\n';
			o.last = '\n';
		} else
			outbyte(p, '\n');
		p->pendingspace = 0;
		p->column = 0;
	}
}

[[gnu::noinline]] static void blockmacroslow(texistate *p, const char *text)
{
	if (p->column != 0)
		outbyte(p, '\n');
	outbyte(p, '.');
	outcstr(p, text);
	outbyte(p, '\n');
	p->pendingspace = 0;
	p->column = 0;
}

void outblockmacro(texistate *p, const char *text)
{
	if (p->ignoredepth)
		return;
	if (p->openmacros)
		texierror(p, "\"%s\" in open line scope!?", text);
	if (p->literaldepth)
		texierror(p, "\"%s\" in a literal scope!?", text);
	if (p->policy.textlines)
		takebackpara(p, text);
	const size_t n = shortlen(text);
	if (n == SHORTSTR || !outhasroom(p, n + 3)) {
		blockmacroslow(p, text);
		return;
	}
	outsink &o = p->out;
	char *d = o.data() + o.len, *const d0 = d;
	if (p->column != 0)
		*d++ = '\n';
	*d++ = '.';
	shortcopy(d, text, n);
	d += n;
	*d++ = '\n';
	o.len += static_cast<size_t>(d - d0);
	o.last = '\n';
	p->pendingspace = 0;
	p->column = 0;
}

void outparagraph(texistate *p)
{
	if (p->parabreak || p->listkind == LIST_TABLE)
		return;
	outblockmacro(p, "Pp");
	p->parabreak = 1;
}

// The punctuation that closes a phrase; not ";", "]" or "'".
static constexpr struct punctclass {
	bool is[256];
	constexpr punctclass() : is{}
	{
		for (unsigned char c : {'!', '"', ')', ',', '.', ':', '?'})
			is[c] = true;
	}
} closingpunct;

// Closing punctuation right after an inline macro's content goes onto the
// macro line, each character an argument of its own, rather than beginning
// the next text line.  A program's page moves ";" too.
[[gnu::noinline]] static void trailpunct(texistate *p, size_t &pos)
{
	size_t size = BUFSZ(p);
	size_t end = pos;
	while (end < size && (closingpunct.is[static_cast<unsigned char>(BUF(p, end))] ||
	                         (p->policy.textlines && BUF(p, end) == ';')))
		end++;
	if (end == pos)
		return;
	if (end < size && BUF(p, end) != ' ' && BUF(p, end) != '\n')
		return;
	while (pos < end) {
		if (!p->ignoredepth) {
			outbyte(p, ' ');
			p->parabreak = 0;
			p->column++;
		}
		outchar(p, BUF(p, pos));
		stepone(p, pos);
	}
}

// While output is off no line macro opened is counted, so the one open is
// some other command's, live around the text that is thrown away (the
// arguments a reference drops, the branch an inline conditional leaves
// out): its punctuation, a comma between arguments included, is not this
// group's to take.
void outtrailpunct(texistate *p, size_t &pos)
{
	if (p->openmacros != 1 || p->ignoredepth)
		return;
	// Most phrases are followed by none.
	const texiinput &in = TOP(p);
	if (pos >= in.text.size())
		return;
	const unsigned char c = static_cast<unsigned char>(*in.text.at(pos));
	if (closingpunct.is[c] || (p->policy.textlines && c == ';'))
		trailpunct(p, pos);
}

// ---------------------------------------------------------------------------
// Text flow

// White space at pos (skipspace has looked): copied in literal text, else
// owed as a space, and a blank line as a paragraph break.
size_t skipwhitespace(texistate *p, size_t &pos)
{
	texiinput &in = TOP(p);
	size_t size = in.text.size();
	if (p->literaldepth) {
		// Literal text keeps its white space as it stands.
		size_t end = pos;
		while (end < size && whitebyte(*in.text.at(end)))
			end++;
		outtext(p, in.text.at(pos), end - pos);
		advanceto(p, pos, end);
		return pos;
	}
	const char *s = in.text.at(pos);
	const size_t start = pos, n = size - pos;
	const bool breaks = p->listkind != LIST_TABLE;
	int pending = p->pendingspace;
	size_t i = 0, lines = 0, lastnl = 0;
	for (; i < n && whitebyte(s[i]); i++) {
		pending = 1;
		if (s[i] != '\n')
			continue;
		// A blank line is two adjacent newlines, whoever consumed the first.
		if (breaks && !p->parabreak && start + i != 0 && (i ? s[i - 1] : in.text.byte(start - 1)) == '\n') {
			p->pendingspace = 1;
			advanceto(p, pos, start + i);
			outblockmacro(p, "Pp");
			p->parabreak = 1;
			pending = p->pendingspace;
			lines = 0;
		}
		lines++;
		lastnl = i;
	}
	p->pendingspace = pending;
	// The white space from pos on (past any break written) moves only the
	// line and column.
	if (in.splicerem == 0) {
		in.line += lines;
		in.col = lines ? i - lastnl - 1 : in.col + (start + i - pos);
		pos = start + i;
	} else
		advanceto(p, pos, start + i);
	return pos;
}

namespace {

// Bytes that end a word, without and with "," as the extra delimiter.
struct wordclass {
	bool stop[256];
	constexpr explicit wordclass(bool comma) : stop{}
	{
		for (unsigned char c : {' ', '\t', '\n', '@', '{', '}'})
			stop[c] = true;
		stop[static_cast<unsigned char>(',')] = comma;
	}
};
constexpr wordclass wordstop(false), argstop(true);

// Bytes after which a word stands as a whole argument of a macro line.
constexpr struct argendclass {
	bool end[256];
	constexpr argendclass() : end{}
	{
		for (unsigned char c : {' ', '\t', '\n', '}', ','})
			end[c] = true;
	}
} argend;

// Bytes inside a word that are not written as they stand, on a text line
// and on a macro line.
// Quotes are special where pairs of them become typographic quotes: not in
// code or literal text, where they are written as typed.
struct wordspecialclass {
	bool special[256];
	constexpr explicit wordspecialclass(bool macroline, bool typed) : special{}
	{
		special[static_cast<unsigned char>('\\')] = true;
		special[static_cast<unsigned char>('`')] = !typed;
		special[static_cast<unsigned char>('\'')] = !typed;
		special[static_cast<unsigned char>('"')] = macroline;
	}
};
constexpr wordspecialclass wordspecial[2][2] = {
	{wordspecialclass(false, false), wordspecialclass(false, true)},
	{wordspecialclass(true, false), wordspecialclass(true, true)},
};

// The characters that mdoc takes for delimiters when one stands alone as
// an argument, and moves out of the macro.
constexpr struct delimclass {
	bool is[256];
	constexpr delimclass() : is{}
	{
		for (unsigned char c : {'.', ',', ':', ';', '(', ')', '[', ']', '?', '!', '|'})
			is[c] = true;
	}
} delimiters;

bool onlydelimiters(const char *s, size_t n)
{
	for (size_t i = 0; i < n; i++)
		if (!delimiters.is[static_cast<unsigned char>(s[i])])
			return false;
	return true;
}

// The names of the mdoc macros.  A formatter reads such a word as a call of
// the macro when it stands as an argument on a macro line.
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
static_assert(sizeof(mdocmacros) / sizeof(mdocmacros[0]) == 121);


// The two-byte names as a bit map indexed by their bytes, and the four of
// three bytes: one lookup for each word that could be a name.
constexpr struct macronames {
	uint64_t two[1024] = {};
	std::string_view three[4] = {};
	constexpr macronames()
	{
		size_t k = 0;
		for (std::string_view m : mdocmacros) {
			if (m.size() == 2) {
				unsigned i = static_cast<unsigned char>(m[0]) << 8 | static_cast<unsigned char>(m[1]);
				two[i >> 6] |= uint64_t{1} << (i & 63);
			} else
				three[k++] = m;
		}
	}
} macronames;
static_assert(macronames.three[3] == "Bsx");

bool ismdocmacro(const char *s, size_t n)
{
	if (n == 2) {
		unsigned i = static_cast<unsigned char>(s[0]) << 8 | static_cast<unsigned char>(s[1]);
		return (macronames.two[i >> 6] >> (i & 63)) & 1;
	}
	if (n != 3)
		return false;
	std::string_view w(s, 3);
	for (std::string_view m : macronames.three)
		if (m == w)
			return true;
	return false;
}

} // namespace

// The length of the word at s, of the avail bytes there: up to white space,
// a command, a brace or the delimiter.  Sixteen bytes at a time where
// they can be read.
static inline size_t wordlength(const char *s, size_t avail, char delim)
{
	const bool *stop = delim ? argstop.stop : wordstop.stop;
	size_t n = 0;
#ifdef __SSE2__
	while (avail - n >= 16) {
		const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + n));
		auto eq = [&](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
		__m128i m = _mm_or_si128(_mm_or_si128(eq(' '), eq('\t')), _mm_or_si128(eq('\n'), eq('@')));
		m = _mm_or_si128(m, _mm_or_si128(eq('{'), eq('}')));
		if (delim)
			m = _mm_or_si128(m, eq(delim));
		if (const unsigned stops = static_cast<unsigned>(_mm_movemask_epi8(m)))
			return n + static_cast<size_t>(__builtin_ctz(stops));
		n += 16;
	}
#endif
	while (n < avail && !stop[static_cast<unsigned char>(s[n])])
		n++;
	return n;
}

// Writes the word at pos: the owed space (or a line break once the line is
// long), then the word's bytes up to white space, a command, a brace or the
// delimiter.  Paired quotes become typographic quotes; a backslash its
// printed escape.
// The owed space before a word, or a line break once the line is long.
static inline void wordspace(texistate *p)
{
	if (p->pendingspace && !p->ignoredepth && !p->literaldepth) {
		if (p->openmacros == 0 && p->column >= WRAPCOLUMN) {
			outbyte(p, '\n');
			p->parabreak = 0;
			p->column = 0;
		} else if (p->column != 0) {
			outbyte(p, ' ');
			p->parabreak = 0;
			p->column++;
		}
	}
	p->pendingspace = 0;
}

// ---------------------------------------------------------------------------
// Text lines that a formatter's checks pass (a program's page).  The checks
// want a new sentence on a new line, and no text line over 80 bytes; they
// read a sentence's end as a period after two letters or digits (but for
// "nc" and "vs": "inc.", "vs.") before a capital.

constexpr size_t MAXTEXTLINE = 80;

static bool alnumbyte(char c)
{
	return letterbyte(static_cast<unsigned char>(c)) || (c >= '0' && c <= '9');
}

// Whether a text line's owed space before a word that begins with `next`
// is better a line break: the line ends a sentence and the word begins
// another.  What the line holds is read back from the sink, which holds the
// whole section.
static bool sentencebreak(const texistate *p, char next)
{
	const outsink &o = p->out;
	if (next < 'A' || next > 'Z' || p->openmacros != 0 || p->column < 3 || o.len < 3)
		return false;
	const char *e = o.data() + o.len;
	return e[-1] == '.' && alnumbyte(e[-2]) && alnumbyte(e[-3]) && !(e[-3] == 'n' && e[-2] == 'c') &&
	       !(e[-3] == 'v' && e[-2] == 's');
}

// The bytes a word of n input bytes takes on a text line, at most: escapes
// are longer than what they stand for.
static size_t wordbytes(const char *s, size_t n)
{
	size_t extra = 0;
	for (size_t i = 0; i < n; i++)
		extra += s[i] == '\\' || s[i] == '`' || s[i] == '\'' || s[i] == '"' ? 3 : 0;
	return n + extra;
}

// The owed space before the word at s, or a line break: before a word that
// would carry the line past its length, and before a new sentence.
static void pagespace(texistate *p, const char *s, size_t n)
{
	if (p->pendingspace && !p->ignoredepth && !p->literaldepth) {
		// Small capitals are written as capitals.
		char first = n > 0 && p->scdepth && s[0] >= 'a' && s[0] <= 'z' ? static_cast<char>(s[0] - 'a' + 'A') : n > 0 ? s[0] : 0;
		if (p->openmacros == 0 && p->column != 0 &&
		    (p->column >= WRAPCOLUMN ||
		     (n > 0 && (p->column + 1 + wordbytes(s, n) > MAXTEXTLINE || sentencebreak(p, first))))) {
			outbyte(p, '\n');
			p->parabreak = 0;
			p->column = 0;
		} else if (p->column != 0) {
			outbyte(p, ' ');
			p->parabreak = 0;
			p->column++;
		}
	}
	p->pendingspace = 0;
}

// A fixed word written as the word writer writes a word of the input after
// white space.
void outword(texistate *p, std::string_view w)
{
	p->pendingspace = 1;
	if (p->policy.textlines)
		pagespace(p, w.data(), w.size());
	else
		wordspace(p);
	outtext(p, w.data(), w.size());
}

// The bytes of a word at s, n long: paired quotes become typographic
// quotes, a backslash its printed escape.  wholearg: the word ends where an
// argument of a macro line would.
static void wordout(texistate *p, const char *s, size_t n, bool wholearg)
{
	const bool macroline = quoteline(p);
	// Code and literal text keep their quotes as typed.
	const bool typed = p->codedepth || p->literaldepth;
	const bool *special = wordspecial[macroline][typed].special;
	// Small capitals are written as capitals; what is checked below is
	// the word as it is written.
	std::string caps;
	if (p->scdepth) {
		caps.assign(s, n);
		for (char &c : caps)
			if (c >= 'a' && c <= 'z')
				c = static_cast<char>(c - 'a' + 'A');
		s = caps.data();
	}
	// A word that is a whole argument of a macro line and names an mdoc
	// macro would be called as that macro; a word of code made of
	// delimiters alone would be moved out of its macro.
	if (macroline && p->out.last == ' ' && wholearg && ismdocmacro(s, n))
		outraw(p, "\\&", 2);
	else if (macroline && p->codedepth && onlydelimiters(s, n))
		outraw(p, "\\&", 2);
	if (needsguard(p, s[0]) && !(s[0] == '\'' && n > 1 && s[1] == '\'' && !typed))
		outraw(p, "\\&", 2);
	size_t i = 0, col = 0;
	while (i < n) {
		size_t j = i;
		while (j < n && !special[static_cast<unsigned char>(s[j])])
			j++;
		outraw(p, s + i, j - i);
		col += j - i;
		if (j == n)
			break;
		if (s[j] == '\\') {
			outraw(p, "\\e", 2);
			col++;
			i = j + 1;
		} else if (s[j] == '"') {
			outraw(p, "\\(dq", 4);
			col++;
			i = j + 1;
		} else if (j + 1 < n && s[j + 1] == s[j]) {
			outraw(p, s[j] == '`' ? "\\(lq" : "\\(rq", 4);
			col += 4;
			i = j + 2;
		} else {
			outbyte(p, s[j]);
			col++;
			i = j + 1;
		}
	}
	p->column += col;
	p->parabreak = 0;
}


// The closing punctuation that a program page's macro lines set apart.
static bool closingbyte(char c)
{
	return c == '.' || c == ',' || c == ':' || c == ';' || c == ')' || c == '?' || c == '!';
}

// A reference to another manual in the running text of a page's SEE ALSO:
// NAME(N), for a manual the section names, and closing punctuation after
// it.  The length of NAME, and of the reference before the punctuation; 0
// for another word.
static size_t manualref(const texiprogram &pg, const char *s, size_t n, size_t &len)
{
	const void *open = std::memchr(s, '(', n);
	if (open == nullptr || open == s)
		return 0;
	size_t name = static_cast<size_t>(static_cast<const char *>(open) - s);
	auto m = pg.manuals.find(std::string_view(s, name));
	if (m == pg.manuals.end())
		return 0;
	const std::string &sec = m->second;
	len = name + sec.size() + 2;
	if (len > n || std::memcmp(s + name + 1, sec.data(), sec.size()) != 0 || s[len - 1] != ')')
		return 0;
	for (size_t i = len; i < n; i++)
		if (!closingbyte(s[i]))
			return 0;
	return name;
}

// A word of a program's page: the SEE ALSO references as "Xr" lines, the
// owed space as a line break where the text line asks for one, and on a
// macro line closing punctuation apart from the word it ends.
static void pageword(texistate *p, size_t &pos, char delim)
{
	texiinput &in = TOP(p);
	size_t avail = in.text.size() - pos;
	const char *s = in.text.at(pos);
	const bool *stop = delim ? argstop.stop : wordstop.stop;
	size_t n = 0;
	while (n < avail && !stop[static_cast<unsigned char>(s[n])])
		n++;
	// Where the word ends, a macro line's argument would end too.
	const bool ends = n == avail || whitebyte(s[n]) || s[n] == '}' || s[n] == ',';
	const bool live = !p->ignoredepth;

	size_t reflen = 0, name = 0;
	if (live && n > 0 && ends && p->policy.page != nullptr && p->policy.page->seealso && p->openmacros == 0 &&
	    !p->literaldepth && !p->codedepth && (name = manualref(*p->policy.page, s, n, reflen)) != 0) {
		p->pendingspace = 0;
		outmacroopen(p, "Xr");
		if (ismdocmacro(s, name))
			outstr(p, "\\&");
		outtext(p, s, name);
		outchar(p, ' ');
		outtext(p, s + name + 1, reflen - name - 2);
		for (size_t i = reflen; i < n; i++) {
			outchar(p, ' ');
			outchar(p, s[i]);
		}
		outmacroclose(p);
		pastword(in, pos, n);
		return;
	}

	pagespace(p, s, n);
	if (n == 0)
		return;
	if (live) {
		size_t keep = n;
		if (p->policy.splitpunct && quoteline(p) && ends)
			while (keep > 0 && closingbyte(s[keep - 1]))
				keep--;
		if (keep == 0 || keep == n)
			wordout(p, s, n, ends || argend.end[static_cast<unsigned char>(s[n])]);
		else {
			wordout(p, s, keep, true);
			for (size_t i = keep; i < n; i++) {
				outchar(p, ' ');
				outchar(p, s[i]);
			}
		}
	}
	pastword(in, pos, n);
}

// The word at pos as it is written in every case: its escapes, quotes,
// small capitals and guards, byte by byte where need be.
[[gnu::noinline]] static void writeword(texistate *p, size_t &pos, char delim)
{
	texiinput &in = TOP(p);
	size_t avail = in.text.size() - pos;
	const char *s = in.text.at(pos);
	const size_t n = wordlength(s, avail, delim);
	if (n == 0)
		return;
	if (!p->ignoredepth)
		wordout(p, s, n, n == avail || argend.end[static_cast<unsigned char>(s[n])]);
	pastword(in, pos, n);
}

// Most words are shorter than sixteen bytes, hold nothing to escape and
// are written where output is live and the sink has room: such a word is
// measured in one block and written in one piece, with a guard before it
// at most.  Returns false, having done nothing, for every other word.
static inline bool wordinonepiece(texistate *p, size_t &pos, char delim)
{
#ifdef __SSE2__
	texiinput &in = TOP(p);
	const size_t avail = in.text.size() - pos;
	if (avail < 16 || p->ignoredepth || p->scdepth)
		return false;
	const char *s = in.text.at(pos);
	const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s));
	auto eq = [&](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
	__m128i m = _mm_or_si128(_mm_or_si128(eq(' '), eq('\t')), _mm_or_si128(eq('\n'), eq('@')));
	m = _mm_or_si128(m, _mm_or_si128(eq('{'), eq('}')));
	if (delim)
		m = _mm_or_si128(m, eq(delim));
	const __m128i q = _mm_or_si128(_mm_or_si128(eq('\\'), eq('"')), _mm_or_si128(eq('`'), eq('\'')));
	const unsigned stops = static_cast<unsigned>(_mm_movemask_epi8(m));
	const size_t n = static_cast<size_t>(__builtin_ctz(stops | 1u << 16));
	if (n == 0 || n == 16 || (static_cast<unsigned>(_mm_movemask_epi8(q)) & ((1u << n) - 1)) != 0 || !outhasroom(p, n + 6))
		return false;
	const bool macroline = quoteline(p);
	const int guards = ((macroline && p->out.last == ' ' && (n == 2 || n == 3) &&
				argend.end[static_cast<unsigned char>(s[n])] && ismdocmacro(s, n)) ||
			       (macroline && p->codedepth && onlydelimiters(s, n))) +
			   (p->column == 0 && s[0] == '.');
	outsink &o = p->out;
	char *d = o.data() + o.len;
	for (int g = 0; g < guards; g++) {
		d[0] = '\\';
		d[1] = '&';
		d += 2;
	}
	shortcopy(d, s, n);
	o.len = static_cast<size_t>(d + n - o.data());
	o.last = s[n - 1];
	p->column += n;
	p->parabreak = 0;
	// A word holds no newline.
	pastword(in, pos, n);
	return true;
#else
	(void)p;
	(void)pos;
	(void)delim;
	return false;
#endif
}

// Bytes that a word on a macro line writes as they stand, and that end no
// argument: all but white space, commands, braces, commas, escapes and
// quotes.
constexpr struct simpleclass {
	bool is[256];
	constexpr simpleclass() : is{}
	{
		for (unsigned c = 0; c < 256; c++)
			is[c] = true;
		for (unsigned char c : {' ', '\t', '\n', '@', '{', '}', ',', '\\', '"', '`', '\''})
			is[c] = false;
	}
} simplebytes;

// The length of a simple group at pos, "{" and "}" left out: words of
// simple bytes, single spaces between them, short enough to be written in
// one piece; 0 for every other group.  Most are measured in one block of
// sixteen bytes.
size_t simplegroup(texistate *p, size_t pos)
{
	constexpr size_t MAXSIMPLE = 64;
	const texiinput &in = TOP(p);
	const size_t size = in.text.size();
	if (pos >= size || *in.text.at(pos) != '{')
		return 0;
	const char *s = in.text.at(pos + 1);
	const size_t avail = std::min(size - pos - 1, MAXSIMPLE + 1);
	size_t n = 0;
#ifdef __SSE2__
	if (avail >= 16) {
		const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s));
		auto eq = [&](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
		__m128i m = _mm_or_si128(_mm_or_si128(eq('\t'), eq('\n')), _mm_or_si128(eq('@'), eq('{')));
		m = _mm_or_si128(m, _mm_or_si128(eq('}'), eq(',')));
		m = _mm_or_si128(m, _mm_or_si128(_mm_or_si128(eq('\\'), eq('"')), _mm_or_si128(eq('`'), eq('\''))));
		const unsigned stop = static_cast<unsigned>(_mm_movemask_epi8(m));
		if (stop != 0) {
			n = static_cast<size_t>(__builtin_ctz(stop));
			const unsigned sp = static_cast<unsigned>(_mm_movemask_epi8(eq(' '))) & ((1u << n) - 1);
			if (n == 0 || s[n] != '}' || (sp & 1u) || (sp >> (n - 1) & 1u) || (sp & sp >> 1))
				return 0;
			return n;
		}
	}
#endif
	for (; n < avail; n++) {
		const unsigned char c = static_cast<unsigned char>(s[n]);
		if (simplebytes.is[c])
			continue;
		if (c != ' ' || n == 0 || s[n - 1] == ' ')
			break;
	}
	if (n == 0 || n > MAXSIMPLE || n == avail || s[n] != '}' || s[n - 1] == ' ')
		return 0;
	return n;
}

// Whether the word at s, n bytes long, is guarded on a macro line: it names
// a macro and stands after a space, or it is code made of delimiters alone.
static inline bool guardedword(const texistate *p, const char *s, size_t n, bool afterspace)
{
	return (afterspace && (n == 2 || n == 3) && ismdocmacro(s, n)) ||
	       (p->codedepth && delimiters.is[static_cast<unsigned char>(s[0])] && onlydelimiters(s, n));
}

// Writes the simple group of n bytes at pos on the open macro line, as the
// argument loop would write its words one by one (with a guard before a
// word that names a macro, or before code made of delimiters alone), and
// moves pos past its "}".  Returns false, having done nothing, where
// output is not live on a macro line or the sink lacks room.
bool simplewrite(texistate *p, size_t &pos, size_t n)
{
	if (n == 0 || p->ignoredepth || p->scdepth || p->literaldepth || p->policy.textlines || !quoteline(p) ||
	    p->pendingspace || !outhasroom(p, 3 * n + 2))
		return false;
	texiinput &in = TOP(p);
	const char *s = in.text.at(pos + 1);
	outsink &o = p->out;
	char *d = o.data() + o.len;
	// A word after the macro's name or a space is a whole argument; a
	// group whose words need no guard is copied whole.
	bool guards = false;
#ifdef __SSE2__
	if (n < 16 && in.text.size() - pos > 16) {
		// The words are read off the spaces of one block.
		const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s));
		const unsigned sp = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')))) & ((1u << n) - 1);
		for (size_t i = 0; i < n && !guards;) {
			const unsigned after = sp >> i;
			const size_t len = after ? static_cast<size_t>(__builtin_ctz(after)) : n - i;
			guards = guardedword(p, s + i, len, i != 0 || o.last == ' ');
			i += len + 1;
		}
	} else
#endif
		for (size_t i = 0, j = 0; i < n && !guards; i = ++j) {
			while (j < n && s[j] != ' ')
				j++;
			guards = guardedword(p, s + i, j - i, i != 0 || o.last == ' ');
		}
	if (!guards) {
		shortcopy(d, s, n);
		d += n;
	} else
		for (size_t i = 0, j = 0; i < n; i = ++j) {
			while (j < n && s[j] != ' ')
				j++;
			if (guardedword(p, s + i, j - i, i != 0 || o.last == ' ')) {
				d[0] = '\\';
				d[1] = '&';
				d += 2;
			}
			shortcopy(d, s + i, j - i + (j < n));
			d += j - i + (j < n);
		}
	o.len = static_cast<size_t>(d - o.data());
	o.last = s[n - 1];
	p->column += n;
	p->parabreak = 0;
	// The braces and the words hold no newline.
	pastword(in, pos, n + 2);
	return true;
}

// Writes the word at pos: the owed space (or a line break once the line is
// long), then the word's bytes up to white space, a command, a brace or the
// delimiter.
void emitword(texistate *p, size_t &pos, char delim)
{
	assert(delim == 0 || delim == ',');
	if (p->policy.textlines) {
		pageword(p, pos, delim);
		return;
	}
	wordspace(p);
	if (!wordinonepiece(p, pos, delim))
		writeword(p, pos, delim);
}

namespace {

enum : unsigned char { ORDINARY, WHITE, STOP, SPECIAL };

// How running text treats each byte, on a text line and on a macro line
// (where a double quote is written as an escape).
struct runclass {
	unsigned char cls[256];
	constexpr explicit runclass(bool macroline) : cls{}
	{
		for (unsigned char c : {' ', '\t', '\n'})
			cls[c] = WHITE;
		for (unsigned char c : {'@', '{', '}'})
			cls[c] = STOP;
		for (unsigned char c : {'\\', '`', '\''})
			cls[c] = SPECIAL;
		if (macroline)
			cls[static_cast<unsigned char>('"')] = SPECIAL;
	}
};
constexpr runclass runbytes(false), macrorunbytes(true);

// A plain span is most of running text: ordinary bytes, and single spaces or
// newlines each followed by an ordinary byte.  It goes out as it stands but
// for its newlines (spaces in the page) and the line breaks of wrapping.
// Returns the end of the span that begins at s (an ordinary byte), at most
// lim; e is the end of the text.  (Byte by byte: the blocks below take
// all but the last sixteen bytes of a text, where SSE2 is there.)
// On a line of its own (a heading, a tag) a newline ends the text instead.
template <bool line>
inline bool plainbreak(const char *s, const char *e)
{
	unsigned char c = static_cast<unsigned char>(*s);
	if (c == ' ' || (c == '\n' && !line))
		return s + 1 == e || runbytes.cls[static_cast<unsigned char>(s[1])] != ORDINARY;
	return runbytes.cls[c] != ORDINARY;
}

#ifdef __SSE2__
// The bytes of a block of sixteen that are not ordinary (white, stops and
// specials), as a mask, and those of them that are not white either.  On a
// line of its own a newline is never white; on a macro line a double quote
// is special.
template <bool line, bool dq = false>
inline void classify(const char *s, unsigned &white, unsigned &other)
{
	const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s));
	auto eq = [&](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
	__m128i w = eq(' '), o = _mm_or_si128(eq('\t'), eq('@'));
	if (line)
		o = _mm_or_si128(o, eq('\n'));
	else
		w = _mm_or_si128(w, eq('\n'));
	o = _mm_or_si128(o, _mm_or_si128(eq('{'), eq('}')));
	o = _mm_or_si128(o, _mm_or_si128(eq('\\'), eq('`')));
	o = _mm_or_si128(o, eq('\''));
	if (dq)
		o = _mm_or_si128(o, eq('"'));
	white = static_cast<unsigned>(_mm_movemask_epi8(w));
	other = static_cast<unsigned>(_mm_movemask_epi8(o));
}
#endif

template <bool line>
const char *plainspan(const char *s, const char *lim, const char *e)
{
	while (s < lim && !plainbreak<line>(s, e))
		s++;
	return s;
}

// Copies the run of ordinary bytes from s to o, at most up to lim, and
// returns its end; dq on a macro line.  Blocks of sixteen are stored as
// they are classified, so o must have room for the run and sixteen bytes
// more.
template <bool line, bool dq>
const char *ordinarycopy(char *&o, const char *s, const char *lim)
{
	constexpr const runclass &rc = dq ? macrorunbytes : runbytes;
#ifdef __SSE2__
	while (lim - s >= 16) {
		unsigned white, other;
		const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s));
		_mm_storeu_si128(reinterpret_cast<__m128i *>(o), v);
		classify<line, dq>(s, white, other);
		if ((white | other) != 0) {
			const unsigned n = static_cast<unsigned>(__builtin_ctz(white | other));
			o += n;
			return s + n;
		}
		o += 16;
		s += 16;
	}
#endif
	while (s < lim && rc.cls[static_cast<unsigned char>(*s)] == ORDINARY)
		*o++ = *s++;
	return s;
}

// The same for literal text, from a byte that is copied whatever it is: all
// but commands, braces, backslashes and newlines.  Quotes are written as
// typed there.
inline const char *literalcopy(char *&o, const char *s, const char *lim)
{
	*o++ = *s++;
#ifdef __SSE2__
	while (lim - s >= 16) {
		const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s));
		_mm_storeu_si128(reinterpret_cast<__m128i *>(o), v);
		auto eq = [&](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
		__m128i m = _mm_or_si128(eq('\n'), eq('@'));
		m = _mm_or_si128(m, _mm_or_si128(eq('{'), eq('}')));
		m = _mm_or_si128(m, eq('\\'));
		if (unsigned stop = static_cast<unsigned>(_mm_movemask_epi8(m))) {
			const unsigned n = static_cast<unsigned>(__builtin_ctz(stop));
			o += n;
			return s + n;
		}
		o += 16;
		s += 16;
	}
#endif
	while (s < lim && *s != '\n' && *s != '\\' && runbytes.cls[static_cast<unsigned char>(*s)] != STOP)
		*o++ = *s++;
	return s;
}

// Copies n bytes of a plain span, its newlines as spaces, and counts the
// newlines for the position's line and column.
struct newlines {
	size_t count = 0;
	const char *last = nullptr;
};

inline char *copyplain(char *o, const char *s, size_t n, newlines &nl)
{
	// Newlines are about one in seventy bytes: copy, then mend them.
	std::memcpy(o, s, n);
	for (const char *q = s; (q = static_cast<const char *>(std::memchr(q, '\n', s + n - q))) != nullptr; q++) {
		o[q - s] = ' ';
		nl.count++;
		nl.last = q;
	}
	return o + n;
}

// A special byte at s: a backslash escaped, a double quote (special only on
// a macro line) as its escape, a pair of quotes as one typographic quote, a
// lone quote as it stands.
inline char *specialbyte(char *o, const char *&s, const char *e, size_t &column)
{
	if (*s == '\\') {
		std::memcpy(o, "\\e", 2);
		s++;
		column++;
		return o + 2;
	}
	if (*s == '"') {
		std::memcpy(o, "\\(dq", 4);
		s++;
		column++;
		return o + 4;
	}
	if (s + 1 < e && s[1] == *s) {
		std::memcpy(o, *s == '`' ? "\\(lq" : "\\(rq", 4);
		s += 2;
		column += 4;
		return o + 4;
	}
	*o = *s++;
	column++;
	return o + 1;
}

// The bulk writers write straight into the sink's buffer through a local
// pointer, which no store can alias.  One step writes at most OSLACK bytes
// but for a span, and a span of n bytes at most 2n; each step first makes
// sure of twice OSLACK bytes of room.  The page makes room by writing its
// buffer out; a held sink grows, and the writer then takes up its new
// buffer (base and end).
constexpr size_t OSLACK = 16;

struct outcursor {
	char *o, *base, *end;
};

// Room for the next step of a bulk writer, at o of the sink's buffer.
[[gnu::noinline]] outcursor outmore(texistate *p, char *o, char *base)
{
	p->out.len = static_cast<size_t>(o - base);
	if (o > base)
		p->out.last = o[-1];
	if (p->out.held)
		outgrow(p, 4 * OSLACK);
	else
		outflush(p);
	base = p->out.data();
	return {base + p->out.len, base, base + p->out.cap};
}


// The buffer of the sink, with room for a first step.
inline char *outstart(texistate *p, char *&base, char *&end)
{
	if (p->out.held)
		outgrow(p, 4 * OSLACK);
	assert(p->out.cap >= 4 * OSLACK);
	base = p->out.data();
	end = base + p->out.cap;
	return base + p->out.len;
}

inline void outsettle(texistate *p, char *o)
{
	p->out.len = static_cast<size_t>(o - p->out.data());
	if (p->out.len > 0)
		p->out.last = o[-1];
}

#ifdef __SSE2__
// The masks of the bytes of a block of sixteen at s that are white (spaces,
// and newlines but on a line of its own), that end a plain span whatever
// follows them (stops, specials and tabs), and that are newlines; the block
// is stored at o with its newlines as spaces.
struct blockmasks {
	unsigned white, other, nl;
};

template <bool line>
inline blockmasks plainblock(const char *s, char *o)
{
	const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s));
	auto eq = [&](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
	const __m128i nlv = eq('\n');
	__m128i w = eq(' '), x = _mm_or_si128(eq('\t'), eq('@'));
	if (line)
		x = _mm_or_si128(x, nlv);
	else
		w = _mm_or_si128(w, nlv);
	x = _mm_or_si128(x, _mm_or_si128(eq('{'), eq('}')));
	x = _mm_or_si128(x, _mm_or_si128(eq('\\'), eq('`')));
	x = _mm_or_si128(x, eq('\''));
	const __m128i tospace = _mm_set1_epi8(' ' ^ '\n');
	_mm_storeu_si128(reinterpret_cast<__m128i *>(o), line ? v : _mm_xor_si128(v, _mm_and_si128(nlv, tospace)));
	return {static_cast<unsigned>(_mm_movemask_epi8(w)), static_cast<unsigned>(_mm_movemask_epi8(x)),
	    line ? 0 : static_cast<unsigned>(_mm_movemask_epi8(nlv))};
}

// One window of W bytes (sixteen or thirty-two) of a plain span at s, a
// byte after the window being readable: the window is stored at o and cut
// where the span ends or where its first white byte at or past the wrap
// column becomes a line break (a "." after it guarded).  Returns false when
// the span ended inside the window, at the byte s is left on.
template <bool line, unsigned W>
inline bool plainwindow(char *&o, const char *&s, size_t &column, newlines &nl)
{
	const blockmasks a = plainblock<line>(s, o);
	uint64_t white = a.white, other = a.other, nls = a.nl;
	if (W == 32) {
		const blockmasks b = plainblock<line>(s + 16, o + 16);
		white |= uint64_t{b.white} << 16;
		other |= uint64_t{b.other} << 16;
		nls |= uint64_t{b.nl} << 16;
	}
	uint64_t after = (white | other) >> 1;
	after |= uint64_t{runbytes.cls[static_cast<unsigned char>(s[W])] != ORDINARY} << (W - 1);
	unsigned n = static_cast<unsigned>(__builtin_ctzll(other | (white & after) | uint64_t{1} << W));
	// A line break replaces its white byte where it stands, so the window
	// goes on after it; only a "." after it, which needs a guard, cuts the
	// window there.  A window is shorter than a line: it holds one break
	// at most.
	size_t wrapped = SIZE_MAX;
	bool guard = false;
	if (column + n > WRAPCOLUMN) {
		const size_t free = column < WRAPCOLUMN ? WRAPCOLUMN - column : 0;
		if (const uint64_t at = white & ((uint64_t{1} << n) - 1) & (~uint64_t{0} << free)) {
			wrapped = static_cast<size_t>(__builtin_ctzll(at));
			if (s[wrapped + 1] == '.') {
				n = static_cast<unsigned>(wrapped) + 1;
				guard = true;
			}
		}
	}
	for (uint64_t m = nls & ((uint64_t{1} << n) - 1); m; m &= m - 1) {
		nl.count++;
		nl.last = s + __builtin_ctzll(m);
	}
	if (wrapped != SIZE_MAX) {
		o[wrapped] = '\n';
		column = n - wrapped - 1;
		o += n;
		s += n;
		if (guard) {
			// The window was cut before a ".".
			*o++ = '\\';
			*o++ = '&';
			return true;
		}
		return n == W;
	}
	o += n;
	s += n;
	column += n;
	return n == W;
}

// Running text in windows of thirty-two bytes, and sixteen near the end,
// from the inside of a word (s is an ordinary byte, or a special one after
// a byte of the word) on.  Between spans, special bytes and runs of white
// space before an ordinary byte are written here too, as the element loop
// would write them, so that the loop sees only what ends the run or needs
// a look of its own: a command or brace, a blank line, white space before
// one of those or a special byte, and the last sixteen bytes of the text.
// A window is read only while a byte after it remains, which tells whether
// white space at its end goes on the span, and written only while room for
// it and OSLACK bytes more remains.  Returns where it stopped; `owed` is
// set when it stopped after white space, which then owes the next word a
// space.
template <bool line>
[[gnu::always_inline]] inline const char *plainblocks(char *&o, const char *s, const char *e, const char *oend, size_t &column, newlines &nl,
    bool blankbreaks, bool &owed)
{
	for (;;) {
		if (e - s > 32 && oend - o >= static_cast<ptrdiff_t>(32 + OSLACK)) {
			if (plainwindow<line, 32>(o, s, column, nl))
				continue;
		} else if (e - s > 16 && oend - o >= static_cast<ptrdiff_t>(16 + OSLACK)) {
			if (plainwindow<line, 16>(o, s, column, nl))
				continue;
		} else
			return s;

		// The span ends at s: a special byte, white space that does not
		// go on as a span, or what ends the run.
		const unsigned char c = static_cast<unsigned char>(*s);
		if (runbytes.cls[c] == SPECIAL) {
			o = specialbyte(o, s, e, column);
			continue;
		}
		if (runbytes.cls[c] != WHITE || (line && c == '\n'))
			return s;
		// White space: owed as one space (or a line break) to an
		// ordinary byte after it; a blank line is left to the loop.
		const char *t = s;
		for (; t < e && whitebyte(*t); t++) {
			if (*t != '\n')
				continue;
			if (line || (blankbreaks && t[-1] == '\n'))
				break;
			nl.count++;
			nl.last = t;
		}
		s = t;
		if (t == e || runbytes.cls[static_cast<unsigned char>(*t)] != ORDINARY) {
			owed = true;
			return s;
		}
		if (column >= WRAPCOLUMN) {
			*o++ = '\n';
			column = 0;
			if (*s == '.') {
				*o++ = '\\';
				*o++ = '&';
			}
		} else {
			*o++ = ' ';
			column++;
		}
	}
}
#endif

// Moves pos past the n bytes of a bulk run that ended at s, whose newlines
// were counted as it went.
inline void pastrun(texistate *p, size_t &pos, size_t n, const char *s, const newlines &nl)
{
	texiinput &in = TOP(p);
	if (in.splicerem == 0) {
		in.line += nl.count;
		in.col = nl.last ? static_cast<size_t>(s - nl.last - 1) : in.col + n;
		pos += n;
	} else
		advanceto(p, pos, pos + n);
}

} // namespace

// Running text in bulk: the words and white space from pos on, up to a
// command, a brace, the end of the input, or a blank line that calls for a
// paragraph break.  It writes exactly what skipspace and emitword would,
// element by element; callers use it only in filled text with output live,
// where those come down to copying words, collapsing white space, wrapping
// long lines and, on a macro line, guarding words that name macros and
// escaping double quotes.  Plain text is most of a manual, so this is where
// the time goes.
template <bool line, bool dq, bool macroline>
static void runtext(texistate *p, size_t &pos)
{
	assert(!p->ignoredepth && !p->literaldepth && dq == quoteline(p) && macroline == (p->openmacros != 0));
	constexpr const runclass &rc = dq ? macrorunbytes : runbytes;
	texiinput &in = TOP(p);
	size_t size = in.text.size();
	if (pos >= size)
		return;
	const char *const start = in.text.at(pos), *const e = start + (size - pos);
	const char *s = start;
	size_t column = p->column;
	int pending = p->pendingspace;
	bool inword = false;
	int parabreak = p->parabreak;
	const int blankbreaks = p->listkind != LIST_TABLE;
	newlines nl;

	char *obase, *oend;
	char *o = outstart(p, obase, oend);

	while (s < e) {
		if (static_cast<size_t>(oend - o) < 2 * OSLACK) {
			outcursor c = outmore(p, o, obase);
			o = c.o;
			obase = c.base;
			oend = c.end;
		}
		unsigned char c = static_cast<unsigned char>(*s);
		unsigned char cls = rc.cls[c];
		if (line && c == '\n')
			break;
		if (cls == WHITE) {
			// A blank line is left to skipspace, which writes the break.
			if (c == '\n' && !parabreak && blankbreaks && (s > start || pos != 0) &&
			    (s > start ? s[-1] : in.text.byte(pos - 1)) == '\n')
				break;
			if (c == '\n') {
				nl.count++;
				nl.last = s;
			}
			pending = 1;
			inword = false;
			s++;
			continue;
		}
		if (cls == STOP)
			break;

		if (!inword) {
			inword = true;
			if (pending) {
				if (column >= WRAPCOLUMN && !macroline) {
					*o++ = '\n';
					column = 0;
				} else if (column != 0) {
					*o++ = ' ';
					column++;
				}
				pending = 0;
			}
			parabreak = 0;
			if (dq && (o > obase ? o[-1] : p->out.last) == ' ') {
				// Macro names are two or three bytes long; the word's
				// first byte is neither white nor a stop.
				const char *lim = e - s < 4 ? e : s + 4, *w = s + 1;
				while (w < lim && rc.cls[static_cast<unsigned char>(*w)] != WHITE &&
				       rc.cls[static_cast<unsigned char>(*w)] != STOP)
					w++;
				if (w - s < 4 && (w == e || (*w != '@' && *w != '{')) &&
				    ismdocmacro(s, static_cast<size_t>(w - s))) {
					*o++ = '\\';
					*o++ = '&';
				}
			}
			if (column == 0 && (c == '.' || (c == '\'' && !(s + 1 < e && s[1] == '\'')))) {
				*o++ = '\\';
				*o++ = '&';
			}
		}
		if (cls == ORDINARY && macroline) {
			size_t room = static_cast<size_t>(oend - o) - OSLACK;
			const char *x = ordinarycopy<line, dq>(o, s, static_cast<size_t>(e - s) < room ? e : s + room);
			column += static_cast<size_t>(x - s);
			s = x;
			continue;
		}
		if (cls == ORDINARY) {
			// A plain span: the white space in it before a word owes
			// that word a space, or a line break once the line is long.
#ifdef __SSE2__
			bool owed = false;
			if (const char *x = plainblocks<line>(o, s, e, oend, column, nl, blankbreaks, owed); x != s) {
				s = x;
				if (owed) {
					pending = 1;
					inword = false;
				}
				continue;
			}
#endif
			size_t fit = static_cast<size_t>(oend - o - OSLACK) / 2;
			const char *x = plainspan<line>(s, static_cast<size_t>(e - s) < fit ? e : s + fit, e);
			while (s < x) {
				size_t free = column < WRAPCOLUMN ? WRAPCOLUMN - column : 0;
				if (static_cast<size_t>(x - s) <= free) {
					o = copyplain(o, s, static_cast<size_t>(x - s), nl);
					column += static_cast<size_t>(x - s);
					s = x;
					break;
				}
				o = copyplain(o, s, free, nl);
				column += free;
				s += free;
				const char *w = s;
				while (w < x && *w != ' ' && *w != '\n')
					w++;
				o = copyplain(o, s, static_cast<size_t>(w - s), nl);
				column += static_cast<size_t>(w - s);
				s = w;
				if (w == x)
					break;
				*o++ = '\n';
				column = 0;
				if (*w == '\n') {
					nl.count++;
					nl.last = w;
				}
				s = w + 1;
				if (*s == '.') {
					*o++ = '\\';
					*o++ = '&';
				}
			}
			continue;
		}
		o = specialbyte(o, s, e, column);
	}
	outsettle(p, o);
	p->parabreak = parabreak;
	p->column = column;
	p->pendingspace = pending;
	pastrun(p, pos, static_cast<size_t>(s - start), s, nl);
}

// Macro lines, where a double quote is special, get a variant of their own,
// and so do the rows of a table, where it is not: the choice is made once
// per run, not per byte.
void textrun(texistate *p, size_t &pos)
{
	// A program's page writes its text word by word.
	if (p->policy.textlines)
		emitword(p, pos, 0);
	else if (quoteline(p))
		runtext<false, true, true>(p, pos);
	else if (p->openmacros)
		runtext<false, false, true>(p, pos);
	else
		runtext<false, false, false>(p, pos);
}

// The same up to the end of the line, whose newline stays: the words and
// blanks of a heading or a tag.
void textline(texistate *p, size_t &pos)
{
	if (p->policy.textlines)
		emitword(p, pos, 0);
	else if (quoteline(p))
		runtext<true, true, true>(p, pos);
	else if (p->openmacros)
		runtext<true, false, true>(p, pos);
	else
		runtext<true, false, false>(p, pos);
}

// Literal text in bulk: words and white space from pos on, up to a command,
// a brace or the end of the input, exactly as skipspace and emitword write
// them in literal context with output live and no line macro open: white
// space as it stands, words with their escapes, nothing owed between them.
void literalrun(texistate *p, size_t &pos)
{
	assert(!p->ignoredepth && p->literaldepth && !p->openmacros);
	texiinput &in = TOP(p);
	size_t size = in.text.size();
	const char *const start = in.text.at(pos), *const e = start + (size - pos);
	const char *s = start;
	size_t column = p->column;
	bool wrote = false;
	p->pendingspace = 0; // the first word spends it, and nothing owes one after
	char *obase, *oend;
	char *o = outstart(p, obase, oend);
	newlines nl;
	while (s < e) {
		if (static_cast<size_t>(oend - o) < 2 * OSLACK) {
			outcursor c = outmore(p, o, obase);
			o = c.o;
			obase = c.base;
			oend = c.end;
		}
		unsigned char c = static_cast<unsigned char>(*s);
		unsigned char cls = runbytes.cls[c];
		if (cls == STOP)
			break;
		wrote = true;
		if (c == '\n') {
			*o++ = '\n';
			column = 0;
			nl.count++;
			nl.last = s++;
			continue;
		}
		if (column == 0 && (c == '.' || c == '\'')) {
			*o++ = '\\';
			*o++ = '&';
		}
		if (c != '\\') {
			size_t room = static_cast<size_t>(oend - o) - OSLACK;
			const char *x = literalcopy(o, s, static_cast<size_t>(e - s) < room ? e : s + room);
			column += static_cast<size_t>(x - s);
			s = x;
		} else
			o = specialbyte(o, s, e, column);
	}
	outsettle(p, o);
	if (wrote)
		p->parabreak = 0;
	p->column = column;
	pastrun(p, pos, static_cast<size_t>(s - start), s, nl);
}

// ---------------------------------------------------------------------------
// Held places

sinkscope::sinkscope(texistate *p, outsink &sink, bool fresh) : p_(p), sink_(sink), fresh_(fresh)
{
	sink.held = true;
	sink.len = 0;
	sink.last = '\n';
	std::swap(p->out, sink);
	if (!fresh)
		return;
	saved_ = {p->column, p->listkind, p->openmacros, p->pendingspace, p->parabreak,
	    p->literaldepth, p->openquotes, p->codedepth, p->scdepth, p->row};
	p->column = 0;
	p->listkind = LIST_NONE;
	p->openmacros = 0;
	p->pendingspace = 0;
	p->parabreak = 1;
	p->literaldepth = 0;
	p->openquotes = 0;
	p->codedepth = 0;
	p->scdepth = 0;
	p->row = nullptr;
}

sinkscope::~sinkscope()
{
	std::swap(p_->out, sink_);
	if (!fresh_)
		return;
	p_->column = saved_.column;
	p_->listkind = saved_.listkind;
	p_->openmacros = saved_.openmacros;
	p_->pendingspace = saved_.pendingspace;
	p_->parabreak = saved_.parabreak;
	p_->literaldepth = saved_.literaldepth;
	p_->openquotes = saved_.openquotes;
	p_->codedepth = saved_.codedepth;
	p_->scdepth = saved_.scdepth;
	p_->row = saved_.row;
}

void outheld(texistate *p, const char *s, size_t n)
{
	if (p->ignoredepth || n == 0)
		return;
	outraw(p, s, n);
	const void *nl = memrchr(s, '\n', n);
	p->column = nl ? n - 1 - static_cast<size_t>(static_cast<const char *>(nl) - s) : p->column + n;
	p->parabreak = 0;
}

void rowbegin(texistate *p, tablerow &r)
{
	assert(!r.active);
	char last = p->out.last;
	std::swap(p->out, r.sink);
	p->out.held = true;
	p->out.len = 0;
	p->out.last = last;
	r.tabs.clear();
	r.linestart = 0;
	r.linecol = p->column;
	r.cellbroken = r.broken = false;
	r.active = true;
}

namespace {

// A line of a row written on several output lines that tbl or the
// formatter would read as something else: a request, a rule across the
// cell, the start of a text block.  The writer's own guard stays alone.
bool rowlineguard(std::string_view l)
{
	if (l.empty() || l.substr(0, 2) == "\\&")
		return false;
	return l[0] == '.' || l[0] == '\'' || l == "_" || l == "=" || l.substr(0, 2) == "T{";
}

// Writes a row with a cell of several lines as that many output lines: the
// j-th line of each cell side by side, nothing for a cell that has fewer,
// with a tab between cells on every line.  A cell's last line is left out
// when it is empty and not its only one.  Each cell is read once, line by
// line, however long it is.
void rowlines(texistate *p, std::string_view row, const std::vector<size_t> &tabs)
{
	struct cell {
		std::string_view rest; // the lines not yet written
		size_t lines;          // how many remain
	};
	std::vector<cell> cells;
	size_t height = 0;
	for (size_t i = 0, start = 0; i <= tabs.size(); i++) {
		size_t end = i < tabs.size() ? tabs[i] : row.size();
		std::string_view c = row.substr(start, end - start);
		size_t lines = static_cast<size_t>(std::count(c.begin(), c.end(), '\n')) + 1;
		if (lines > 1 && c.back() == '\n')
			lines--;
		cells.push_back({c, lines});
		height = std::max(height, lines);
		start = end + 1;
	}
	size_t linebytes = 0;
	for (size_t j = 0; j < height; j++) {
		if (j > 0) {
			outraw(p, "\n", 1);
			linebytes = 0;
		}
		for (size_t i = 0; i < cells.size(); i++) {
			if (i > 0) {
				outraw(p, "\t", 1);
				linebytes++;
			}
			cell &c = cells[i];
			if (c.lines == 0)
				continue;
			c.lines--;
			size_t nl = c.rest.find('\n');
			std::string_view l = c.rest.substr(0, nl);
			c.rest.remove_prefix(nl == std::string_view::npos ? c.rest.size() : nl + 1);
			if (rowlineguard(l))
				outraw(p, "\\&", 2);
			outraw(p, l.data(), l.size());
			linebytes += l.size();
		}
	}
	p->column = linebytes;
}

} // namespace

void rowend(texistate *p, tablerow &r)
{
	if (!r.active)
		return;
	r.active = false;
	std::swap(p->out, r.sink);
	std::string_view row(r.sink.data(), r.sink.len);
	r.sink.len = 0;
	if (row.empty())
		return;
	if (!r.broken)
		outraw(p, row.data(), row.size());
	else
		rowlines(p, row, r.tabs);
}

// While output is off (the table's own prototypes, an argument thrown
// away) an item writes nothing and a row goes on.
void rownext(texistate *p)
{
	if (p->ignoredepth || p->row == nullptr)
		return;
	tablerow &r = *p->row;
	rowend(p, r);
	outbyte(p, '\n');
	p->column = 0;
	p->pendingspace = 0;
	p->parabreak = 0;
	rowbegin(p, r);
}

// A cell after one of several lines goes on from the end of that cell's
// first line, as if the row were one line: its first word is owed the
// space that a row written straight through would give it.
void outcellsep(texistate *p)
{
	if (p->ignoredepth || p->row == nullptr)
		return;
	tablerow &r = *p->row;
	if (r.cellbroken)
		p->column = r.firstend;
	r.tabs.push_back(p->out.len);
	outbyte(p, '\t');
	p->column++;
	p->parabreak = 0;
	r.linestart = p->out.len;
	r.linecol = p->column;
	r.cellbroken = false;
}
