// User macros: definition, argument reading and expansion.
//
// Expansion works on the input, not the output: the expanded body is inserted
// into the innermost input at the position and parsed next like any other
// text.  Inserted bytes do not move the reported line and column; while they
// are being read, diagnostics say how many remain.

#include <cassert>
#include <cerrno>
#include <cstring>
#include <memory>

#include "teximan.h"

namespace {

// The offset of the first byte at or after pos that is one of `stops`, or
// the end of the text.
size_t scanto(texistate *p, size_t pos, const char *stops)
{
	size_t size = BUFSZ(p);
	const char *s = BUFAT(p, pos);
	size_t n = 0;
	while (pos + n < size && std::strchr(stops, s[n]) == nullptr)
		n++;
	return pos + n;
}

// The end of one braced argument: the first "}" at depth 0 or, unless the
// macro takes one parameter, the first "," at depth 0.  Sets depth to the
// nesting left open when the text ends first.
size_t argend(texistate *p, size_t pos, bool comma, size_t &depth)
{
	size_t size = BUFSZ(p);
	const char *s = BUFAT(p, pos);
	depth = 0;
	size_t n = 0;
	for (; pos + n < size; n++) {
		char c = s[n];
		if (c == '{')
			depth++;
		else if (c == '}') {
			if (depth == 0)
				break;
			depth--;
		} else if (c == ',' && comma && depth == 0)
			break;
	}
	return pos + n;
}

// The bytes that the input's current expansion run may still insert.  A run
// starts anew once a byte of the input's own text has been consumed since
// the last insertion.
size_t runroom(texiinput &in)
{
	if (in.runline != in.line || in.runcol != in.col) {
		in.runline = in.line;
		in.runcol = in.col;
		in.runexpansions = 0;
		in.runbytes = 0;
	}
	return MAXRUNBYTES - in.runbytes;
}

} // namespace

// Reads an invocation's arguments (nparams is the macro's parameter count)
// or a definition's parameter list (nparams 0).  Without braces an
// invocation takes the rest of the line as its one argument.  Each argument
// loses its leading blanks and keeps its trailing white space; a pair of
// braces holding nothing but blanks gives no argument at all.
std::vector<std::string> argparse(texistate *p, size_t &pos, size_t &count, size_t nparams)
{
	std::vector<std::string> args;
	skipblanks(p, pos);
	count = 0;
	bool braced = pos < BUFSZ(p) && BUF(p, pos) == '{';
	if (!braced) {
		if (nparams == 0)
			return args;
		size_t start = pos;
		skiptoeol(p, pos, 0);
		args.emplace_back(BUFAT(p, start), pos - start);
		if (pos < BUFSZ(p))
			stepone(p, pos);
		count = 1;
		return args;
	}

	stepone(p, pos);
	for (;;) {
		if (pos >= BUFSZ(p))
			texierror(p, "unterminated arguments");
		skipblanks(p, pos);
		size_t start = pos, depth;
		size_t end = argend(p, pos, nparams != 1, depth);
		const char *arg = BUFAT(p, start);
		advanceto(p, pos, end);
		if (pos >= BUFSZ(p)) {
			if (depth > 0)
				texiwarning(p, "unterminated macro in macro arguments");
			texierror(p, "unterminated arguments");
		}
		char c = BUF(p, pos);
		if (end == start && c == '}' && args.empty()) {
			stepone(p, pos);
			return args;
		}
		args.emplace_back(arg, end - start);
		count++;
		assert(c == '}' || c == ',');
		stepone(p, pos);
		if (c == '}')
			return args;
	}
}

// @macro NAME {PARAMS}, its body, and a line "@end macro" (@rmacro and
// @linemacro alike, each ending at its own name).  Definitions do not nest:
// the first such line ends the body.  The three share one table, and the
// first definition of a name stays in effect.
void domacro(texistate *p, cmdid cmd, size_t &pos)
{
	skipblanks(p, pos);
	size_t start = pos;
	size_t end = scanto(p, pos, " \t\n{");
	if (end == start)
		texierror(p, "zero-length macro name");
	std::string name(BUFAT(p, start), end - start);
	advanceto(p, pos, end);

	size_t nargs;
	std::vector<std::string> params = argparse(p, pos, nargs, 0);
	skiptoeol(p, pos, 1);

	const std::string endtok = std::string("@end ") + cmdtable[cmd].name + "\n";
	size_t body = pos;
	const char *s = BUFAT(p, body);
	const char *hit = texifind(s, BUFSZ(p) - body, endtok);
	if (hit == nullptr)
		texierror(p, "unterminated macro body");
	size_t bodysz = static_cast<size_t>(hit - s);
	advanceto(p, pos, body + bodysz);
	if (BUF(p, pos - 1) != '\n')
		texierror(p, "cannot handle @end macro in-line");

	auto m = std::make_shared<macrodef>();
	m->key = name;
	m->value.assign(s, bodysz);
	m->args = std::move(params);
	for (size_t i = 0; i < m->args.size(); i++)
		m->argindex.try_emplace(m->args[i], i);
	m->linemacro = cmd == CMD_linemacro;
	p->macros.try_emplace(std::move(name), std::move(m));
	skiptoeol(p, pos, 1);
}

// @unmacro NAME: the name is read as @macro reads it, and the macro is gone;
// a later definition of the name takes effect.  Nothing is reported.
void dounmacro(texistate *p, cmdid, size_t &pos)
{
	skipblanks(p, pos);
	size_t start = pos;
	size_t end = scanto(p, pos, " \t\n{");
	if (auto m = p->macros.find(std::string_view(BUFAT(p, start), end - start)); m != p->macros.end())
		p->macros.erase(m);
	skiptoeol(p, pos, 1);
}

namespace {

// The body with the first k arguments in place of the references to their
// parameters, no larger than `room`.
std::string expandbody(texistate *p, const macrodef &m, const std::vector<std::string> &args, size_t k,
    size_t room)
{
	// Each reference copies a whole argument, so a small document could ask
	// for gigabytes here.  An expansion larger than the run may still insert
	// is refused anyway: it stops growing there, and only the body's own
	// faults are still looked for.
	const std::string &body = m.value;
	std::string out;
	out.reserve(body.size() < room ? body.size() : room);
	bool over = false;
	auto add = [&](const char *s, size_t len) {
		if (over || len > room - out.size())
			over = true;
		else
			out.append(s, len);
	};
	for (size_t i = 0; i < body.size(); i++) {
		if (body[i] != '\\') {
			add(&body[i], 1);
			continue;
		}
		if (i + 1 == body.size())
			texierror(p, "trailing argument name delimiter");
		if (body[i + 1] == '\\') {
			add("\\", 1);
			i++;
			continue;
		}
		size_t close = body.find('\\', i + 1);
		if (close == std::string::npos)
			texierror(p, "unterminated argument name");
		// Found by name, not by a scan of the parameters: a body of many
		// references to a macro of many parameters would cost their product.
		auto a = m.argindex.find(std::string_view(body.data() + i + 1, close - i - 1));
		if (a != m.argindex.end() && a->second < k)
			add(args[a->second].data(), args[a->second].size());
		i = close;
	}
	if (over)
		texierror(p, "expansion too deep");
	return out;
}

// The end of a word of a line-macro call that starts at i: the first blank
// outside braces, or the end of the line.
size_t wordend(std::string_view line, size_t i)
{
	size_t depth = 0;
	for (; i < line.size(); i++) {
		char c = line[i];
		if (c == '{')
			depth++;
		else if (c == '}' && depth > 0)
			depth--;
		else if (blankbyte(c) && depth == 0)
			break;
	}
	return i;
}

// A word that is one braced group stands for what is inside its braces.
std::string_view unbrace(std::string_view w)
{
	if (w.size() >= 2 && w.front() == '{' && w.back() == '}') {
		size_t depth = 0;
		for (size_t i = 0; i < w.size(); i++) {
			if (w[i] == '{')
				depth++;
			else if (w[i] == '}' && depth > 0 && --depth == 0)
				return i == w.size() - 1 ? w.substr(1, w.size() - 2) : w;
		}
	}
	return w;
}

// The arguments of a line-macro call: the rest of its line, continued onto
// the next while it ends in an odd number of "@", is split into words at
// runs of blanks, braces grouping.  Each parameter but the last takes a
// word; the last takes the rest of the line.  The line is consumed with its
// newline.
std::vector<std::string> linemacroargs(texistate *p, size_t &pos, size_t nparams)
{
	size_t size = BUFSZ(p), end = pos;
	const char *s = BUFAT(p, pos);
	for (;;) {
		const void *nl = std::memchr(s + (end - pos), '\n', size - end);
		if (nl == nullptr) {
			end = size;
			break;
		}
		end = pos + static_cast<size_t>(static_cast<const char *>(nl) - s);
		size_t ats = 0;
		while (end - ats > pos && s[end - ats - 1 - pos] == '@')
			ats++;
		if (ats % 2 == 0)
			break;
		end++;
	}
	std::string_view line(s, end - pos);

	std::vector<std::string> args(nparams);
	size_t i = 0;
	for (size_t k = 0; k < nparams; k++) {
		while (i < line.size() && blankbyte(line[i]))
			i++;
		if (k + 1 < nparams) {
			size_t e = wordend(line, i);
			args[k] = unbrace(line.substr(i, e - i));
			i = e;
			continue;
		}
		std::string_view rest = line.substr(i);
		while (!rest.empty() && blankbyte(rest.back()))
			rest.remove_suffix(1);
		args[k] = unbrace(rest);
	}

	advanceto(p, pos, end);
	if (pos < size)
		stepone(p, pos);
	return args;
}

} // namespace

// Expands one invocation: the position stands just past the macro's name.
// Backslash references to parameters are replaced by the arguments; a
// reference to any other name vanishes.  With no argument to place, the body
// goes in as written.
void texiexecmacro(texistate *p, const macrodef &m, size_t &pos)
{
	std::vector<std::string> args;
	size_t k;
	if (m.linemacro) {
		args = linemacroargs(p, pos, m.args.size());
		k = m.args.size();
	} else {
		size_t n;
		args = argparse(p, pos, n, m.args.size());
		if (n != m.args.size())
			texiwarning(p, "invalid macro argument length");
		k = n < m.args.size() ? n : m.args.size();
	}
	if (k == 0) {
		texisplice(p, m.value.data(), m.value.size(), pos);
		return;
	}
	std::string out = expandbody(p, m, args, k, runroom(TOP(p)));
	texisplice(p, out.data(), out.size(), pos);
}

// Inserts text at the position of the innermost input; it is read next.
//
// An expansion may hold further invocations, and nothing in the text stops a
// macro that invokes itself or a value that holds its own @value.  So the
// expansions inserted without any byte of the input's own text being read in
// between (an expansion run) are bounded, in number and in bytes; real
// documents stay far below both, while runaway expansion reaches them in a
// fraction of a second.
void texisplice(texistate *p, const char *s, size_t n, size_t &pos)
{
	assert(p->filepos > 0);
	texiinput &in = TOP(p);
	if (in.runexpansions >= MAXRUNEXPANSIONS || n > runroom(in))
		texierror(p, "expansion too deep");
	in.runexpansions++;
	in.runbytes += n;
	if (!in.text.insert(pos, s, n)) {
		errno = ENOMEM;
		texisyserr(p, nullptr);
	}
	in.splicerem += n;
}

// ---------------------------------------------------------------------------
// Names the document defines for commands: aliases and enclosure commands.
// Both are looked up after the built-in commands and declared indexes and
// before the macros, and the first definition of a name holds.

namespace {

// The line from pos, without its newline; the position is left on the
// newline, where the warnings about the line stand.
std::string_view restofline(texistate *p, size_t &pos)
{
	size_t start = pos;
	skiptoeol(p, pos, 0);
	return std::string_view(BUFAT(p, start), pos - start);
}

} // namespace

// @alias NEW = EXISTING: NEW behaves as EXISTING does now, whatever
// EXISTING becomes later.  An alias of an alias takes its final target.
void doalias(texistate *p, cmdid, size_t &pos)
{
	std::string_view line = restofline(p, pos);
	size_t eq = line.find('=');
	std::string_view name = trimblanks(line.substr(0, eq));
	std::string_view existing = eq == std::string_view::npos ? "" : trimblanks(line.substr(eq + 1));
	if (name.empty() || existing.empty()) {
		texiwarning(p, "bad @alias line");
		skiptoeol(p, pos, 1);
		return;
	}

	cmdtarget target;
	aliasdef def;
	def.cmd = texilookup(p, existing, target);
	if (def.cmd == CMD_NONE && target.macro == nullptr && target.enclose == nullptr) {
		int n = existing.size() > INT32_MAX ? INT32_MAX : static_cast<int>(existing.size());
		texiwarning(p, "bad command: @%.*s", n, existing.data());
		skiptoeol(p, pos, 1);
		return;
	}
	if (target.macro != nullptr || target.enclose != nullptr) {
		// The record itself, shared, so that the alias outlives @unmacro.
		if (auto a = p->aliases.find(existing); a != p->aliases.end())
			def = a->second;
		else
			def.macro = p->macros.find(existing)->second;
	}
	p->aliases.try_emplace(std::string(name), std::move(def));
	skiptoeol(p, pos, 1);
}

// @definfoenclose NAME, BEFORE, AFTER: @NAME{X} writes X between the two
// texts.  Blanks after each comma go; those before it stay.
void dodefinfoenclose(texistate *p, cmdid, size_t &pos)
{
	std::string_view line = restofline(p, pos);
	std::string_view fields[3];
	for (size_t k = 0; k < 3; k++) {
		size_t comma = line.find(',');
		fields[k] = line.substr(0, comma);
		if (comma == std::string_view::npos) {
			line = {};
			break;
		}
		line.remove_prefix(comma + 1);
		while (!line.empty() && blankbyte(line.front()))
			line.remove_prefix(1);
	}
	std::string_view name = trimblanks(fields[0]);
	if (!name.empty() && p->aliases.find(name) == p->aliases.end()) {
		aliasdef def;
		def.enclose = std::make_shared<const enclosedef>(enclosedef{std::string(fields[1]), std::string(fields[2])});
		p->aliases.emplace(std::string(name), std::move(def));
	}
	skiptoeol(p, pos, 1);
}

// An enclosure command's call: the owed space, the text before, the group as
// ordinary text, the text after.
void doenclose(texistate *p, const enclosedef &e, size_t &pos)
{
	outowedspace(p);
	outtext(p, e.before.data(), e.before.size());
	parsegroup(p, pos);
	outtext(p, e.after.data(), e.after.size());
}
