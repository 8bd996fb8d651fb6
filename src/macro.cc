// User macros: definition, argument reading and expansion.
//
// Expansion works on the input, not the output: the expanded body is inserted
// into the innermost input at the position and parsed next like any other
// text.  Inserted bytes do not move the reported line and column; while they
// are being read, diagnostics say how many remain.

#include <cassert>
#include <cerrno>
#include <cstring>

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

// @macro NAME {PARAMS}, its body, and a line "@end macro".  Definitions do
// not nest: the first such line ends the body.  The first definition of a
// name stays in effect.
void domacro(texistate *p, cmdid, size_t &pos)
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

	static constexpr char endtok[] = "@end macro\n";
	size_t body = pos;
	const char *s = BUFAT(p, body);
	const char *hit = texifind(s, BUFSZ(p) - body, endtok);
	if (hit == nullptr)
		texierror(p, "unterminated macro body");
	size_t bodysz = static_cast<size_t>(hit - s);
	advanceto(p, pos, body + bodysz);
	if (BUF(p, pos - 1) != '\n')
		texierror(p, "cannot handle @end macro in-line");

	macrodef m;
	m.key = name;
	m.value.assign(s, bodysz);
	m.args = std::move(params);
	for (size_t i = 0; i < m.args.size(); i++)
		m.argindex.try_emplace(m.args[i], i);
	p->macros.try_emplace(std::move(name), std::move(m));
	skiptoeol(p, pos, 1);
}

// Expands one invocation: the position stands just past the macro's name.
// Backslash references to parameters are replaced by the arguments; a
// reference to any other name vanishes.  With no argument to place, the body
// goes in as written.
void texiexecmacro(texistate *p, const macrodef &m, size_t &pos)
{
	size_t n;
	std::vector<std::string> args = argparse(p, pos, n, m.args.size());
	if (n != m.args.size())
		texiwarning(p, "invalid macro argument length");
	size_t k = n < m.args.size() ? n : m.args.size();
	if (k == 0) {
		texisplice(p, m.value.data(), m.value.size(), pos);
		return;
	}

	// Each reference copies a whole argument, so a small document could ask
	// for gigabytes here.  An expansion larger than the run may still insert
	// is refused anyway: it stops growing there, and only the body's own
	// faults are still looked for.
	const std::string &body = m.value;
	const size_t room = runroom(TOP(p));
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
