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
		if (p->pendingspace)
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
			parseto(p, pos, cmdtable[cmd].name);
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
	parseto(p, pos, cmdtable[cmd].name);
}

// Skips a block unread up to its matching end line.  Only blocks of the same
// name nest, counted by their start tokens ("@ignore", found anywhere, even
// inside a longer word) and end lines ("@end ignore" and a newline); nothing
// else in the skipped text is looked at.
//
// Nesting has no fixed limit, and the walk stays linear however deep it
// goes: each token's next position, once found, is kept until the walk
// passes it, and a start token is looked for only before the next end line.
void doignblock(texistate *p, cmdid cmd, size_t &pos)
{
	const char *name = cmdtable[cmd].name;
	std::string start = std::string("@") + name;
	std::string end = std::string("@end ") + name + "\n";

	constexpr size_t NONE = SIZE_MAX;
	size_t nextend = NONE, nextstart = NONE;
	size_t depth = 1;
	for (;;) {
		size_t size = BUFSZ(p);
		if (pos >= size)
			return;
		if (nextend == NONE || nextend < pos) {
			const char *s = BUFAT(p, pos);
			const char *hit = texifind(s, size - pos, end);
			if (hit == nullptr) {
				texiwarning(p, "unterminated \"%s\" block", name);
				advanceto(p, pos, size);
				return;
			}
			nextend = pos + static_cast<size_t>(hit - s);
		}
		// A start token counts only if it begins before the end line; if
		// none does, the walk passes that line next.
		if (nextstart == NONE || nextstart < pos) {
			nextstart = NONE;
			size_t limit = nextend + start.size() - 1 < size ? nextend + start.size() - 1 : size;
			const char *s = BUFAT(p, pos);
			const char *hit = texifind(s, limit - pos, start);
			if (hit != nullptr)
				nextstart = pos + static_cast<size_t>(hit - s);
		}
		size_t newpos;
		if (nextstart != NONE) {
			newpos = nextstart + start.size();
			depth++;
		} else {
			newpos = nextend + end.size();
			depth--;
		}
		assert(newpos <= size);
		advanceto(p, pos, newpos);
		if (depth == 0)
			return;
	}
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
