// The command dispatch and the loops with which handlers consume their
// arguments: a braced group, the rest of a line, one token of a line, a
// block up to its @end line, and one argument of a comma-separated list.
// Each applies the same element rules inside: commands are dispatched, words
// written, white space flowed.

#include <cassert>
#include <climits>
#include <cstring>

#include "teximan.h"

namespace {

// Counts the handler calls made by the dispatch that are still running.
struct depthguard {
	texistate *p;
	explicit depthguard(texistate *st) : p(st) { p->handlerdepth++; }
	~depthguard() { p->handlerdepth--; }
	depthguard(const depthguard &) = delete;
	depthguard &operator=(const depthguard &) = delete;
};

// A brace where none belongs is reported (while output is live) and dropped.
void strayb(texistate *p, size_t &pos)
{
	if (!p->ignoredepth)
		texiwarning(p, "unexpected \"%c\"", BUF(p, pos));
	stepone(p, pos);
}

// Words in the body of a group or block: in bulk where they are written,
// one at a time where they are not.  Code and small capitals go word by
// word too: they are short, and their quotes, punctuation and letters are
// written otherwise than running text's.
void textorword(texistate *p, size_t &pos)
{
	if (p->ignoredepth || p->codedepth || p->scdepth || (p->literaldepth && p->openmacros))
		emitword(p, pos, 0);
	else if (p->literaldepth)
		literalrun(p, pos);
	else
		textrun(p, pos);
}

void skipwhite(texistate *p, size_t &pos)
{
	size_t end = pos, size = BUFSZ(p);
	while (end < size && whitebyte(BUF(p, end)))
		end++;
	if (end != pos)
		advanceto(p, pos, end);
}

// Moves past a command name read by the lookup.  Only "@" and a newline
// holds a newline: every other name moves just the column (or counts down
// inserted bytes), and there is one name for every "@" of a document.
void pastname(texistate *p, size_t &pos, size_t end)
{
	texiinput &in = TOP(p);
	size_t n = end - pos;
	if (n == 2 && in.text.byte(pos + 1) == '\n')
		advanceto(p, pos, end);
	else
		pastword(in, pos, n);
}

} // namespace

// Runs what the lookup found, with the position just past the command name.
// Each block and each braced argument is a handler call inside the handler
// of its container, so the depth of such calls is bounded: a crash is never
// an answer to input, and real documents nest a few dozen levels at most.
void texirun(texistate *p, cmdid cmd, const cmdtarget &target, size_t &pos)
{
	if (target.macro != nullptr) {
		texiexecmacro(p, *target.macro, pos);
		return;
	}
	if (target.enclose == nullptr && (cmd == CMD_NONE || cmdtable[cmd].fn == nullptr))
		return;
	if (p->handlerdepth >= MAXHANDLERDEPTH)
		texierror(p, "nesting too deep");
	depthguard guard(p);
	if (target.enclose != nullptr)
		doenclose(p, *target.enclose, pos);
	else
		cmdtable[cmd].fn(p, cmd, pos);
}

// The two commands that report where they stand keep the place of their
// "@" before the name is passed; for every other command that would be a
// cost of every dispatch.
static inline void keepplace(texistate *p, cmdid cmd)
{
	if (cmd == CMD_U || cmd == CMD_errormsg)
		p->cmdat = texihere(p);
}

void texidispatch(texistate *p, size_t &pos)
{
	size_t end;
	cmdtarget target;
	cmdid cmd = texicmd(p, pos, end, &target);
	keepplace(p, cmd);
	pastname(p, pos, end);
	texirun(p, cmd, target, pos);
}

// The byte at pos of the innermost input, as a parse loop reads it before
// each element: false at the input's end.
static inline bool peek(texistate *p, size_t pos, char &c)
{
	const texiinput &in = TOP(p);
	if (pos >= in.text.size())
		return false;
	c = *in.text.at(pos);
	return true;
}

// The document's own text, element by element.
void parseinput(texistate *p)
{
	size_t pos = 0;
	for (char c; peek(p, pos, c);) {
		switch (c) {
		case ' ':
		case '\t':
		case '\n':
			skipspace(p, pos);
			break;
		case '@':
			texidispatch(p, pos);
			break;
		case '{':
		case '}':
			strayb(p, pos);
			break;
		default:
			textorword(p, pos);
			break;
		}
	}
}

void parseelement(texistate *p, size_t &pos)
{
	skipspace(p, pos);
	if (pos >= BUFSZ(p))
		return;
	switch (BUF(p, pos)) {
	case '@':
		texidispatch(p, pos);
		break;
	case '{':
	case '}':
		strayb(p, pos);
		break;
	default:
		emitword(p, pos, 0);
		break;
	}
}

// ---------------------------------------------------------------------------
// The loops.  None counts brace nesting: braces that belong to a command
// inside are consumed by its handler, so the first bare "}" ends a group or
// an argument list.  Every loop ends, silently, at the end of the innermost
// input.

namespace {

// The rest of a group whose "{" has been read, up to and past its "}".
inline void groupbody(texistate *p, size_t &pos)
{
	for (char c; peek(p, pos, c);) {
		switch (c) {
		case ' ':
		case '\t':
		case '\n':
			skipspace(p, pos);
			break;
		case '@':
			texidispatch(p, pos);
			break;
		case '{':
			strayb(p, pos);
			break;
		case '}':
			stepone(p, pos);
			return;
		default:
			textorword(p, pos);
			break;
		}
	}
}

} // namespace

void parsegroup(texistate *p, size_t &pos)
{
	// Nearly every group's "{" follows its command's name at once.
	texiinput &in = TOP(p);
	if (pos < in.text.size() && *in.text.at(pos) == '{') {
		if (in.splicerem)
			in.splicerem--;
		else
			in.col++;
		pos++;
		groupbody(p, pos);
		return;
	}
	skipwhite(p, pos);
	if (pos >= BUFSZ(p) || BUF(p, pos) != '{')
		return;
	stepone(p, pos);
	groupbody(p, pos);
}

void parsegroupbody(texistate *p, size_t &pos)
{
	groupbody(p, pos);
}

// The rest of the line, up to and including its newline.  A command that
// consumes the newline itself (a comment, say) carries the line on into the
// next one.
void parserestofline(texistate *p, size_t &pos)
{
	for (;;) {
		if (pos >= BUFSZ(p))
			return;
		char c = BUF(p, pos);
		if (c == '\n') {
			stepone(p, pos);
			return;
		}
		while (blankbyte(c)) {
			p->pendingspace = 1;
			if (p->literaldepth)
				outchar(p, c);
			stepone(p, pos);
			if (pos >= BUFSZ(p))
				return;
			c = BUF(p, pos);
		}
		switch (c) {
		case '@':
			texidispatch(p, pos);
			break;
		case '{':
		case '}':
			strayb(p, pos);
			break;
		default:
			if (c == '\n' || p->ignoredepth || p->literaldepth || p->codedepth || p->scdepth) {
				// At a newline this only settles the owed space.
				emitword(p, pos, 0);
				break;
			}
			// The words and blanks up to the next command, brace or
			// newline; blanks before the newline owe a space there.
			size_t start = pos;
			textline(p, pos);
			if (pos < BUFSZ(p) && BUF(p, pos) == '\n' && pos > start && blankbyte(BUF(p, pos - 1)))
				emitword(p, pos, 0);
			break;
		}
	}
}

// One token of a line: a word, a command with its arguments, or a braced
// group.  Returns 0, consuming nothing more, at the newline or the end.
int parselinetoken(texistate *p, size_t &pos)
{
	if (pos >= BUFSZ(p))
		return 0;
	while (blankbyte(BUF(p, pos))) {
		p->pendingspace = 1;
		stepone(p, pos);
		if (pos >= BUFSZ(p))
			return 0;
	}
	if (BUF(p, pos) == '\n')
		return 0;
	if (BUF(p, pos) == '{')
		parsegroup(p, pos);
	else
		parseelement(p, pos);
	return 1;
}

// A block body, up to the @end line that names it; the position is left on
// that line's newline.  Only the first bytes after "@end" are compared, and
// an @end line for another block is dropped with a warning.
void parseto(texistate *p, size_t &pos, const char *endtok)
{
	size_t endtoksz = std::strlen(endtok);
	assert(endtoksz > 0);
	for (char c; peek(p, pos, c);) {
		switch (c) {
		case ' ':
		case '\t':
		case '\n':
			skipspace(p, pos);
			break;
		case '@': {
			size_t end;
			cmdtarget target;
			cmdid cmd = texicmd(p, pos, end, &target);
			keepplace(p, cmd);
			pastname(p, pos, end);
			if (cmd != CMD_end) {
				texirun(p, cmd, target, pos);
				break;
			}
			skipblanks(p, pos);
			if (BUFSZ(p) - pos >= endtoksz && std::memcmp(BUFAT(p, pos), endtok, endtoksz) == 0) {
				skiptoeol(p, pos, 0);
				return;
			}
			if (!p->ignoredepth)
				texiwarning(p, "unexpected \"end\"");
			skiptoeol(p, pos, 0);
			break;
		}
		case '{':
		case '}':
			strayb(p, pos);
			break;
		default:
			textorword(p, pos);
			break;
		}
	}
}

// In literal text the lines that open and close a block are not lines of
// the text: a block met there consumes the newline of its opening line
// (when nothing but blanks is left on it) and that of its @end line
// unwritten, so that an example holding @group leaves no empty lines.
void skipblockline(texistate *p, size_t &pos)
{
	size_t end = pos, size = BUFSZ(p);
	while (end < size && blankbyte(BUF(p, end)))
		end++;
	if (end < size && BUF(p, end) == '\n')
		advanceto(p, pos, end + 1);
}

void skipendline(texistate *p, size_t &pos)
{
	if (pos < BUFSZ(p) && BUF(p, pos) == '\n')
		stepone(p, pos);
}

void parseblock(texistate *p, size_t &pos, const char *endtok, bool openline)
{
	const bool literal = p->literaldepth != 0;
	if (literal && openline)
		skipblockline(p, pos);
	parseto(p, pos, endtok);
	if (literal)
		skipendline(p, pos);
}

// One argument of a braced, comma-separated list.  Returns 1 when a comma
// ended it, 0 at the closing brace, at the end of the input, or when the
// list has not started and no "{" follows.
int parsenextarg(texistate *p, size_t &pos, int started)
{
	skipwhite(p, pos);
	if (pos >= BUFSZ(p))
		return 0;
	if (!started) {
		if (BUF(p, pos) != '{')
			return 0;
		stepone(p, pos);
	}
	for (char c; peek(p, pos, c);) {
		switch (c) {
		case ' ':
		case '\t':
		case '\n':
			skipspace(p, pos);
			break;
		case ',':
			stepone(p, pos);
			return 1;
		case '}':
			stepone(p, pos);
			return 0;
		case '@':
			texidispatch(p, pos);
			break;
		case '{':
			strayb(p, pos);
			break;
		default:
			emitword(p, pos, ',');
			break;
		}
	}
	return 0;
}

// ---------------------------------------------------------------------------
// Generic handlers

// Commands whose whole line is dropped unread.
void doskipline(texistate *p, cmdid, size_t &pos)
{
	skiptoeol(p, pos, 1);
}

// Commands that only change how their line is set (@center, @exdent,
// @indent, @noindent), which a page does not do.  Alone on a line they go
// with it; before text they go with the blanks after them, and the text is
// parsed as if they were not there.
void dolinetext(texistate *p, cmdid, size_t &pos)
{
	size_t end = pos, size = BUFSZ(p);
	while (end < size && blankbyte(BUF(p, end)))
		end++;
	if (end >= size || BUF(p, end) == '\n')
		skiptoeol(p, pos, 1);
	else
		advanceto(p, pos, end);
}

// Commands whose braced group is parsed but not written.
void doskipgroup(texistate *p, cmdid, size_t &pos)
{
	p->ignoredepth++;
	parsegroup(p, pos);
	p->ignoredepth--;
}

// Commands whose braced group is written as plain text.
void doplaingroup(texistate *p, cmdid, size_t &pos)
{
	parsegroup(p, pos);
}

// @end outside the block loop that would have taken it.
void dostrayend(texistate *p, cmdid, size_t &pos)
{
	skipblanks(p, pos);
	size_t start = pos;
	skiptoeol(p, pos, 0);
	size_t n = pos - start;
	texiwarning(p, "unexpected \"end\": %.*s", n > INT_MAX ? INT_MAX : static_cast<int>(n), BUFAT(p, start));
	skiptoeol(p, pos, 1);
}
