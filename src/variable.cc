// Variables, conditional and skipped blocks, index names.
//
// All of these take effect whatever ignoredepth is, so that a document's
// header, before @top, can set variables, declare indexes and skip blocks.

#include <cassert>
#include <cstring>

#include "teximan.h"

// ---------------------------------------------------------------------------
// The variable table

void valueadd(texistate *p, std::string key, std::string val)
{
	p->vars.insert_or_assign(std::move(key), std::move(val));
}

// The value slot of the variable named by the rest of the line (trailing
// blanks included), or null.  The line is consumed either way.
std::optional<std::string> *valuelquery(texistate *p, size_t &pos)
{
	skipblanks(p, pos);
	if (pos >= BUFSZ(p))
		return nullptr;
	size_t start = pos;
	skiptoeol(p, pos, 0);
	std::string_view name(BUFAT(p, start), pos - start);
	auto v = name.empty() ? p->vars.end() : p->vars.find(name);
	if (pos < BUFSZ(p))
		stepone(p, pos);
	return v == p->vars.end() ? nullptr : &v->second;
}

const std::string *valuelfetch(texistate *p, size_t &pos)
{
	std::optional<std::string> *v = valuelquery(p, pos);
	return v != nullptr && v->has_value() ? &**v : nullptr;
}

void valuelremove(texistate *p, size_t &pos)
{
	if (std::optional<std::string> *v = valuelquery(p, pos))
		v->reset();
}

// The value of the variable named in braces, or null: no brace, an empty
// name, a name never set or cleared.  Braces do not nest in the name.
const std::string *valueblookup(texistate *p, size_t &pos)
{
	skipblanks(p, pos);
	if (pos >= BUFSZ(p) || BUF(p, pos) != '{')
		return nullptr;
	stepone(p, pos);
	size_t start = pos;
	const char *s = BUFAT(p, start);
	const void *close = std::memchr(s, '}', BUFSZ(p) - start);
	size_t end = close ? start + static_cast<size_t>(static_cast<const char *>(close) - s) : BUFSZ(p);
	std::string_view name(s, end - start);
	auto v = name.empty() ? p->vars.end() : p->vars.find(name);
	advanceto(p, pos, end);
	if (pos < BUFSZ(p))
		stepone(p, pos);
	return v != p->vars.end() && v->second ? &*v->second : nullptr;
}

// ---------------------------------------------------------------------------
// Handlers

// @set, @clear, @value, @ifset and @ifclear.
void dovariable(texistate *p, cmdid cmd, size_t &pos)
{
	switch (cmd) {
	case CMD_set: {
		skipblanks(p, pos);
		size_t start = pos, end = pos, size = BUFSZ(p);
		while (end < size && !whitebyte(BUF(p, end)))
			end++;
		if (end == start)
			return;
		std::string key(BUFAT(p, start), end - start);
		advanceto(p, pos, end);
		skipblanks(p, pos);
		size_t vstart = pos;
		skiptoeol(p, pos, 0);
		std::string val(BUFAT(p, vstart), pos - vstart);
		skiptoeol(p, pos, 1);
		valueadd(p, std::move(key), std::move(val));
		break;
	}
	case CMD_clear:
		valuelremove(p, pos);
		break;
	case CMD_value: {
		// A program's page starts no text line with a blank.
		if (p->pendingspace && (p->column != 0 || !p->policy.textlines))
			outchar(p, ' ');
		p->pendingspace = 0;
		if (const std::string *v = valueblookup(p, pos)) {
			// The value is copied in before the table could change.
			texisplice(p, v->data(), v->size(), pos);
		} else
			outstr(p, "{No value}");
		break;
	}
	case CMD_ifset:
	case CMD_ifclear: {
		bool set = valuelfetch(p, pos) != nullptr;
		if (set == (cmd == CMD_ifset))
			parseblock(p, pos, cmdtable[cmd].name, false);
		else
			doignblock(p, cmd, pos);
		break;
	}
	default:
		break;
	}
}

// Blocks whose body is ordinary text.
void dotransparent(texistate *p, cmdid cmd, size_t &pos)
{
	parseblock(p, pos, cmdtable[cmd].name, true);
}

namespace {

// Finds the next start or end token of a skipped block in the n bytes at s,
// which stand at offset `at` of the text; returns the offset of the token
// and sets len to the bytes it takes, or returns NONE.
constexpr size_t NONE = SIZE_MAX;

// The base blocks' tokens are plain byte strings found anywhere.
struct anywhere {
	std::string start, end;
	size_t findend(texistate *, const char *s, size_t n, size_t at) const
	{
		const char *hit = texifind(s, n, end);
		return hit ? at + static_cast<size_t>(hit - s) : NONE;
	}
	size_t findstart(texistate *, const char *s, size_t n, size_t at, size_t &len) const
	{
		len = start.size();
		const char *hit = texifind(s, n, start);
		return hit ? at + static_cast<size_t>(hit - s) : NONE;
	}
	size_t endsize() const { return end.size(); }
	size_t startslack() const { return start.size() - 1; }
};

// Blocks of raw text for other formats count a token only at the start of a
// line, after blanks: "@NAME" and a blank or newline, or "@end NAME" and a
// newline.  Their text may document the commands themselves.
struct atlinestart {
	std::string start, end;
	// Each line start from s on (s itself if a line begins there), until
	// `match` finds a token on it.
	template <typename Match>
	size_t lines(texistate *p, const char *s, size_t n, size_t at, Match match) const
	{
		size_t i = 0;
		bool linestart = at == 0 || BUF(p, at - 1) == '\n';
		for (;;) {
			if (linestart) {
				size_t j = i;
				while (j < n && blankbyte(s[j]))
					j++;
				if (match(s + j, n - j))
					return at + j;
			}
			const void *nl = i < n ? std::memchr(s + i, '\n', n - i) : nullptr;
			if (nl == nullptr)
				return NONE;
			i = static_cast<size_t>(static_cast<const char *>(nl) - s) + 1;
			linestart = true;
		}
	}
	size_t findend(texistate *p, const char *s, size_t n, size_t at) const
	{
		return lines(p, s, n, at, [&](const char *q, size_t m) {
			return m >= end.size() && std::memcmp(q, end.data(), end.size()) == 0;
		});
	}
	size_t findstart(texistate *p, const char *s, size_t n, size_t at, size_t &len) const
	{
		len = start.size();
		return lines(p, s, n, at, [&](const char *q, size_t m) {
			return m > start.size() && std::memcmp(q, start.data(), start.size()) == 0 &&
			       whitebyte(q[start.size()]);
		});
	}
	size_t endsize() const { return end.size(); }
	size_t startslack() const { return 0; }
};

// Skips a block unread up to its matching end line.  Only blocks of the same
// name nest, counted by their start tokens and end lines; nothing else in
// the skipped text is looked at.
//
// Nesting has no fixed limit, and the walk stays linear however deep it
// goes: each token's next position, once found, is kept until the walk
// passes it, and a start token is looked for only before the next end line.
template <typename Tokens>
void skipblock(texistate *p, const char *name, const Tokens &tok, size_t &pos)
{
	size_t nextend = NONE, nextstart = NONE, startlen = 0;
	size_t depth = 1;
	for (;;) {
		size_t size = BUFSZ(p);
		if (pos >= size)
			return;
		if (nextend == NONE || nextend < pos) {
			nextend = tok.findend(p, BUFAT(p, pos), size - pos, pos);
			if (nextend == NONE) {
				texiwarning(p, "unterminated \"%s\" block", name);
				advanceto(p, pos, size);
				return;
			}
		}
		// A start token counts only if it begins before the end line; if
		// none does, the walk passes that line next.
		if (nextstart == NONE || nextstart < pos) {
			size_t slack = tok.startslack();
			size_t limit = nextend + slack < size ? nextend + slack : size;
			nextstart = tok.findstart(p, BUFAT(p, pos), limit - pos, pos, startlen);
		}
		size_t newpos;
		if (nextstart != NONE) {
			newpos = nextstart + startlen;
			depth++;
		} else {
			newpos = nextend + tok.endsize();
			depth--;
		}
		assert(newpos <= size);
		advanceto(p, pos, newpos);
		if (depth == 0)
			return;
	}
}

} // namespace

// Skips a block unread up to its matching end line.  The tokens are found
// anywhere: "@ignore" even inside a longer word, and "@end ignore" with a
// newline.
void doignblock(texistate *p, cmdid cmd, size_t &pos)
{
	const char *name = cmdtable[cmd].name;
	skipblock(p, name, anywhere{std::string("@") + name, std::string("@end ") + name + "\n"}, pos);
}

// Blocks of raw text for other formats (@docbook, @latex, ...), skipped as
// doignblock skips, with tokens only where a line begins.
void dolineignblock(texistate *p, cmdid cmd, size_t &pos)
{
	const char *name = cmdtable[cmd].name;
	skipblock(p, name, atlinestart{std::string("@") + name, std::string("@end ") + name + "\n"}, pos);
}

// @ifcommanddefined NAME and @ifcommandnotdefined NAME: the body is taken
// when the lookup, at this point, finds the command NAME.
void doifcommand(texistate *p, cmdid cmd, size_t &pos)
{
	skipblanks(p, pos);
	size_t start = pos;
	skiptoeol(p, pos, 0);
	std::string_view name = trimblanks(std::string_view(BUFAT(p, start), pos - start));
	cmdtarget target;
	bool defined = texilookup(p, name, target) != CMD_NONE || target.macro != nullptr ||
	               target.enclose != nullptr;
	if (pos < BUFSZ(p))
		stepone(p, pos);
	if (defined == (cmd == CMD_ifcommanddefined))
		parseblock(p, pos, cmdtable[cmd].name, false);
	else
		doignblock(p, cmd, pos);
}

// @defindex and @defcodeindex: NAME followed by "index" becomes a command
// whose line is dropped.
void doindexdefine(texistate *p, cmdid, size_t &pos)
{
	skipblanks(p, pos);
	size_t start = pos, size = BUFSZ(p);
	size_t end = start;
	while (end < size && !whitebyte(BUF(p, end)))
		end++;
	if (end > start)
		p->indexnames.emplace(BUFAT(p, start), end - start);
	advanceto(p, pos, end);
	skiptoeol(p, pos, 1);
}
