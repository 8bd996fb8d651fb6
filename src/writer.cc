// The mdoc writer and the flow of running text.
//
// Every byte of the page passes through here.  The writer keeps a few facts
// about the output line (its column, the line macros open on it, an owed
// space, whether a paragraph break was the last thing written) and from them
// decides escaping, macro lines, paragraph breaks and wrapping.  While
// ignoredepth is not zero nothing is written, but input is still consumed.

#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <cstring>

#include "teximan.h"

// ---------------------------------------------------------------------------
// The sink: one buffer, written out when full and at the end of the run.  The
// first write that fails ends the run.

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
	if (p->outerrno != 0 || p->olen == 0)
		return;
	size_t n = p->olen;
	p->olen = 0;
	writeout(p, p->obuf.data(), n);
}

static inline void outraw(texistate *p, const char *s, size_t n)
{
	if (n == 0)
		return;
	p->lastout = s[n - 1];
	if (p->olen + n > p->obuf.size()) {
		outflush(p);
		if (n > p->obuf.size()) {
			writeout(p, s, n);
			return;
		}
	}
	std::memcpy(p->obuf.data() + p->olen, s, n);
	p->olen += n;
}

static inline void outbyte(texistate *p, char c)
{
	if (p->olen == p->obuf.size())
		outflush(p);
	p->obuf[p->olen++] = c;
	p->lastout = c;
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

// On a macro line a double quote would open or close a quoted argument and
// vanish from the page, taking the meaning of the words around it; it is
// written as the formatter's glyph for it instead.  Table rows are not
// macro lines, and plain text lines print the quote as it stands.
static inline bool quotesglyph(texistate *p)
{
	return p->openmacros != 0 && p->listkind != LIST_TABLE;
}

void outchar(texistate *p, char c)
{
	if (p->ignoredepth)
		return;
	if (needsguard(p, c))
		outraw(p, "\\&", 2);
	if (c == '"' && quotesglyph(p))
		outraw(p, "\\(dq", 4);
	else
		outbyte(p, c);
	if (c == '\\')
		outbyte(p, 'e');
	p->parabreak = 0;
	if (c == '\n') {
		p->column = 0;
		p->pendingspace = 0;
	} else
		p->column++;
}

// Bytes that outchar does not write as they stand, or that change the line.
static constexpr struct textclass {
	bool special[256];
	constexpr textclass() : special{}
	{
		special[static_cast<unsigned char>('\\')] = true;
		special[static_cast<unsigned char>('\n')] = true;
		special[static_cast<unsigned char>('"')] = true;
	}
} textbytes;

void outtext(texistate *p, const char *s, size_t n)
{
	if (p->ignoredepth || n == 0)
		return;
	size_t i = 0;
	while (i < n) {
		if (needsguard(p, s[i]))
			outraw(p, "\\&", 2);
		size_t j = i;
		while (j < n && !textbytes.special[static_cast<unsigned char>(s[j])])
			j++;
		outraw(p, s + i, j - i);
		p->column += j - i;
		if (j == n)
			break;
		if (s[j] == '\\') {
			outraw(p, "\\e", 2);
			p->column++;
		} else if (s[j] == '"') {
			if (quotesglyph(p))
				outraw(p, "\\(dq", 4);
			else
				outbyte(p, '"');
			p->column++;
		} else {
			outbyte(p, '\n');
			p->column = 0;
			p->pendingspace = 0;
		}
		i = j + 1;
	}
	p->parabreak = 0;
}

void outstr(texistate *p, const char *s)
{
	if (p->ignoredepth)
		return;
	if (needsguard(p, s[0]))
		outraw(p, "\\&", 2);
	size_t n = std::strlen(s);
	outraw(p, s, n);
	p->column += n;
	p->parabreak = 0;
}

void outrange(texistate *p, size_t start, size_t end)
{
	assert(start <= end && end <= BUFSZ(p));
	outtext(p, BUFAT(p, start), end - start);
}

// The owed space of a handler that writes inline text itself.
void outowedspace(texistate *p)
{
	if (p->pendingspace && p->column != 0 && p->literaldepth == 0)
		outchar(p, ' ');
	p->pendingspace = 0;
}

// ---------------------------------------------------------------------------
// Macro lines

void outmacroopen(texistate *p, const char *name)
{
	if (p->ignoredepth)
		return;
	if (p->column != 0 && p->openmacros == 0) {
		outbyte(p, '\n');
		p->column = 0;
	}
	outbyte(p, p->openmacros == 0 ? '.' : ' ');
	size_t n = std::strlen(name);
	outraw(p, name, n);
	outbyte(p, ' ');
	p->column += n + 1;
	p->openmacros++;
	p->pendingspace = 0;
}

// A line macro opened while output was off, on a line whose @top switched
// it on, has no line to close.
void outmacroclose(texistate *p)
{
	if (p->ignoredepth || p->openmacros == 0)
		return;
	if (--p->openmacros == 0) {
		outbyte(p, '\n');
		p->pendingspace = 0;
		p->column = 0;
	}
}

void outblockmacro(texistate *p, const char *text)
{
	if (p->ignoredepth)
		return;
	if (p->openmacros)
		texierror(p, "\"%s\" in open line scope!?", text);
	if (p->literaldepth)
		texierror(p, "\"%s\" in a literal scope!?", text);
	if (p->column != 0)
		outbyte(p, '\n');
	outbyte(p, '.');
	outraw(p, text, std::strlen(text));
	outbyte(p, '\n');
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

// Closing punctuation right after an inline macro's content goes onto the
// macro line, each character an argument of its own, rather than beginning
// the next text line.
void outtrailpunct(texistate *p, size_t &pos)
{
	if (p->openmacros != 1)
		return;
	size_t size = BUFSZ(p);
	size_t end = pos;
	while (end < size && std::strchr("!\"),.:?", BUF(p, end)) != nullptr && BUF(p, end) != '\0')
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

// ---------------------------------------------------------------------------
// Text flow

size_t skipspace(texistate *p, size_t &pos)
{
	texiinput &in = TOP(p);
	size_t size = in.text.size();
	if (p->literaldepth) {
		while (pos < size && whitebyte(in.text.byte(pos))) {
			outchar(p, in.text.byte(pos));
			stepone(p, pos);
		}
		return pos;
	}
	if (pos >= size || !whitebyte(*in.text.at(pos)))
		return pos;
	const char *s = in.text.at(pos);
	size_t start = pos, i = pos;
	for (; i < size && whitebyte(s[i - start]); i++) {
		p->pendingspace = 1;
		// A blank line is two adjacent newlines, whoever consumed the first.
		if (s[i - start] == '\n' && i != 0 && (i > start ? s[i - start - 1] : in.text.byte(i - 1)) == '\n' &&
		    !p->parabreak && p->listkind != LIST_TABLE) {
			advanceto(p, pos, i);
			outblockmacro(p, "Pp");
			p->parabreak = 1;
		}
	}
	advanceto(p, pos, i);
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

// Bytes inside a word that are not written as they stand.
constexpr struct wordspecialclass {
	bool special[256];
	constexpr wordspecialclass() : special{}
	{
		for (unsigned char c : {'\\', '`', '\'', '"'})
			special[c] = true;
	}
} wordspecial;

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

constexpr bool sortednames()
{
	for (size_t i = 1; i < sizeof(mdocmacros) / sizeof(mdocmacros[0]); i++)
		if (!(mdocmacros[i - 1] < mdocmacros[i]))
			return false;
	return true;
}
static_assert(sortednames());

bool ismdocmacro(const char *s, size_t n)
{
	if (n < 2 || n > 3)
		return false;
	std::string_view w(s, n);
	const std::string_view *b = std::begin(mdocmacros), *e = std::end(mdocmacros);
	while (b < e) {
		const std::string_view *m = b + (e - b) / 2;
		if (*m < w)
			b = m + 1;
		else
			e = m;
	}
	return b != std::end(mdocmacros) && *b == w;
}

} // namespace

// Writes the word at pos: the owed space (or a line break once the line is
// long), then the word's bytes up to white space, a command, a brace or the
// delimiter.  Paired quotes become typographic quotes; a backslash its
// printed escape.
void emitword(texistate *p, size_t &pos, char delim)
{
	assert(delim == 0 || delim == ',');
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

	texiinput &in = TOP(p);
	size_t avail = in.text.size() - pos;
	const char *s = in.text.at(pos);
	const bool *stop = delim ? argstop.stop : wordstop.stop;
	size_t n = 0;
	while (n < avail && !stop[static_cast<unsigned char>(s[n])])
		n++;
	if (n == 0)
		return;

	if (!p->ignoredepth) {
		// A word that is a whole argument of a macro line and names an mdoc
		// macro would be called as that macro.
		if (p->openmacros && p->listkind != LIST_TABLE && p->lastout == ' ' &&
		    (n == avail || argend.end[static_cast<unsigned char>(s[n])]) && ismdocmacro(s, n))
			outraw(p, "\\&", 2);
		if (needsguard(p, s[0]) && !(s[0] == '\'' && n > 1 && s[1] == '\''))
			outraw(p, "\\&", 2);
		size_t i = 0, col = 0;
		while (i < n) {
			size_t j = i;
			while (j < n && !wordspecial.special[static_cast<unsigned char>(s[j])])
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
				if (quotesglyph(p))
					outraw(p, "\\(dq", 4);
				else
					outbyte(p, '"');
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

	// A word holds no newline: only the column moves.
	if (in.splicerem >= n)
		in.splicerem -= n;
	else {
		in.col += n - in.splicerem;
		in.splicerem = 0;
	}
	pos += n;
}

namespace {

enum : unsigned char { ORDINARY, WHITE, STOP, SPECIAL };

// How running text treats each byte.
constexpr struct runclass {
	unsigned char cls[256];
	constexpr runclass() : cls{}
	{
		for (unsigned char c : {' ', '\t', '\n'})
			cls[c] = WHITE;
		for (unsigned char c : {'@', '{', '}'})
			cls[c] = STOP;
		for (unsigned char c : {'\\', '`', '\''})
			cls[c] = SPECIAL;
	}
} runbytes;

} // namespace

// Running text in bulk: the words and white space from pos on, up to a
// command, a brace, the end of the input, or a blank line that calls for a
// paragraph break.  It writes exactly what skipspace and emitword would,
// element by element; callers use it only in filled text with output live
// and no line macro open, where those come down to copying words, collapsing
// white space and wrapping long lines.  Plain text is most of a manual, so
// this is where the time goes.
void textrun(texistate *p, size_t &pos)
{
	assert(!p->ignoredepth && !p->literaldepth && !p->openmacros);
	texiinput &in = TOP(p);
	size_t size = in.text.size();
	if (pos >= size)
		return;
	const char *const start = in.text.at(pos), *const e = start + (size - pos);
	const char before = pos ? in.text.byte(pos - 1) : '\0';
	const char *s = start;
	size_t column = p->column;
	int pending = p->pendingspace;
	bool inword = false;

	int parabreak = p->parabreak;
	const int blankbreaks = p->listkind != LIST_TABLE;

	// Output goes straight into the buffer, through locals that no store
	// can alias; a byte of input takes at most four bytes there, and the
	// loop keeps that much free.
	constexpr size_t SLACK = 16;
	char *obase = p->obuf.data();
	char *const oend = obase + p->obuf.size() - SLACK;
	char *o = obase + p->olen;
	auto room = [&]() {
		if (o >= oend - 3 * SLACK) {
			p->olen = static_cast<size_t>(o - obase);
			outflush(p);
			o = obase + p->olen;
		}
	};

	while (s < e) {
		room();
		unsigned char c = static_cast<unsigned char>(*s);
		unsigned char cls = runbytes.cls[c];
		if (cls == WHITE) {
			// A blank line is left to skipspace, which writes the break.
			if (c == '\n' && !parabreak && blankbreaks && (s > start ? s[-1] : before) == '\n' &&
			    (pos != 0 || s > start))
				break;
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
				if (column >= WRAPCOLUMN) {
					*o++ = '\n';
					column = 0;
				} else if (column != 0) {
					*o++ = ' ';
					column++;
				}
				pending = 0;
			}
			parabreak = 0;
			if (column == 0 && (c == '.' || (c == '\'' && !(s + 1 < e && s[1] == '\'')))) {
				*o++ = '\\';
				*o++ = '&';
			}
		}
		if (cls == ORDINARY) {
			const char *from = s;
			size_t fit = static_cast<size_t>(oend - o) / 4;
			const char *lim = static_cast<size_t>(e - s) < fit ? e : s + fit;
			do
				*o++ = *s++;
			while (s < lim && runbytes.cls[static_cast<unsigned char>(*s)] == ORDINARY);
			column += static_cast<size_t>(s - from);
			continue;
		}
		if (c == '\\') {
			*o++ = '\\';
			*o++ = 'e';
			s++;
			column++;
		} else if (s + 1 < e && s[1] == *s) {
			std::memcpy(o, c == '`' ? "\\(lq" : "\\(rq", 4);
			o += 4;
			s += 2;
			column += 4;
		} else {
			*o++ = static_cast<char>(c);
			s++;
			column++;
		}
	}
	p->olen = static_cast<size_t>(o - obase);
	if (p->olen > 0)
		p->lastout = o[-1];
	p->parabreak = parabreak;
	p->column = column;
	p->pendingspace = pending;
	advanceto(p, pos, pos + static_cast<size_t>(s - start));
}
