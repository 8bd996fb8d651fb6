// The driver of a program's page: the options' values, the document read and
// collected, the page chosen, then the prologue and each section in the
// order of a manual page.

#include <libgen.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <string>

#include "page.h"

namespace {

// The sections in the order of a manual page (mdoc's own names in mdoc's
// order), with their headings.  Sections of other names stand in the place
// of the row without a name, in the order they first appear.
struct sectionrow {
	const char *buffer;
	const char *heading;
};

constexpr sectionrow sections[] = {
	{"SYNOPSIS", "SYNOPSIS"},
	{"DESCRIPTION", "DESCRIPTION"},
	{"OPTIONS", "OPTIONS"},
	{"ENVIRONMENT", "ENVIRONMENT"},
	{"FILES", "FILES"},
	{"EXITSTATUS", "EXIT STATUS"},
	{"EXAMPLES", "EXAMPLES"},
	{"DIAGNOSTICS", "DIAGNOSTICS"},
	{"ERRORS", "ERRORS"},
	{"NOTES", "NOTES"},
	{nullptr, nullptr},
	{"SEEALSO", "SEE ALSO"},
	{"STANDARDS", "STANDARDS"},
	{"HISTORY", "HISTORY"},
	{"AUTHOR", "AUTHOR"},
	{"AUTHORS", "AUTHORS"},
	{"CAVEATS", "CAVEATS"},
	{"BUGS", "BUGS"},
	{"COPYRIGHT", "COPYRIGHT"},
};

// Read for other parts of the page, never written as sections.
constexpr std::string_view unwritten[] = {"INCLUDE", "NAME", "TARGET"};

// ---------------------------------------------------------------------------
// The options' values

[[noreturn]] TEXI_PRINTF(3, 4) void badvalue(texistate *p, const texioptions &opt, const char *fmt, ...)
{
	if (p->errf != nullptr) {
		va_list ap;
		va_start(ap, fmt);
		std::fprintf(p->errf, "%s: ", opt.prog);
		std::vfprintf(p->errf, fmt, ap);
		std::fputc('\n', p->errf);
		va_end(ap);
	}
	throw texiexit{1};
}

bool digitbyte(char c) { return c >= '0' && c <= '9'; }

bool keybytes(std::string_view s, bool underscore)
{
	if (s.empty())
		return false;
	for (char c : s)
		if (!letterbyte(static_cast<unsigned char>(c)) && !digitbyte(c) && c != '-' && !(underscore && c == '_'))
			return false;
	return true;
}

// ---------------------------------------------------------------------------
// Sections

// The flow at the start of a section: column 0, nothing open, a paragraph
// break just written (so that none is written before its first text).
void freshflow(texistate *p)
{
	p->column = 0;
	p->pendingspace = 0;
	p->parabreak = 1;
	p->openmacros = 0;
	p->openquotes = 0;
	p->literaldepth = 0;
	p->listkind = LIST_NONE;
	p->ignoredepth = 0;
	p->tagformat = CMD_NONE;
}

// A section's output is held in a sink of its own until its end: a section
// whose lines are all paragraph breaks is not written, heading and all.
class heldsection {
public:
	explicit heldsection(texistate *p) : p_(p), scope_(std::make_unique<sinkscope>(p, held_, true)) {}
	heldsection(const heldsection &) = delete;
	heldsection &operator=(const heldsection &) = delete;

	void end()
	{
		if (scope_ == nullptr)
			return;
		outendline(p_);
		scope_.reset();
		// A paragraph break at the end of a section is none.
		constexpr std::string_view pp = "\n.Pp\n";
		while (held_.len >= pp.size() && std::string_view(held_.data() + held_.len - pp.size(), pp.size()) == pp)
			held_.len -= pp.size() - 1;
		std::string_view held(held_.data(), held_.len);
		size_t first = held.find('\n');
		if (first == std::string_view::npos)
			return;
		bool text = false;
		for (size_t pos = first + 1; pos < held.size() && !text;) {
			size_t nl = held.find('\n', pos);
			text = held.substr(pos, nl - pos) != ".Pp";
			pos = nl + 1;
		}
		if (text)
			outheld(p_, held.data(), held.size());
	}

private:
	texistate *p_;
	outsink held_;
	std::unique_ptr<sinkscope> scope_;
};

// Runs a parse in which @bye ends only the input being parsed.
template <typename Parse>
void untilbye(texistate *p, Parse parse)
{
	size_t base = p->filepos;
	try {
		parse();
	} catch (const texiexit &e) {
		if (e.status != 0)
			throw;
		while (p->filepos > base)
			texifilepop(p);
	}
}

template <typename Body>
void section(texistate *p, std::string_view heading, Body body)
{
	freshflow(p);
	heldsection held(p);
	std::string line = "Sh ";
	line.append(heading);
	outblockmacro(p, line.c_str());
	try {
		untilbye(p, body);
	} catch (const texiexit &) {
		// The page up to the error is written, as the whole-manual page's.
		held.end();
		throw;
	}
	// The section's notes end it.
	endnotes(p);
	held.end();
}

// The other manuals that the SEE ALSO section names as NAME(N), by name:
// the commands named so elsewhere on the page are references to them too.
void manuals(texiprogram &pg, const pagebuffer *seealso)
{
	if (seealso == nullptr)
		return;
	std::string_view t = seealso->text;
	for (size_t i = 0; i < t.size();) {
		while (i < t.size() && whitebyte(t[i]))
			i++;
		size_t start = i;
		while (i < t.size() && !whitebyte(t[i]))
			i++;
		std::string_view w = t.substr(start, i - start);
		while (!w.empty() && std::strchr(".,:;)?!", w.back()) != nullptr && w.size() > 1 && w[w.size() - 2] == ')')
			w.remove_suffix(1);
		size_t open = w.find('(');
		if (open == 0 || open == std::string_view::npos || w.size() < open + 3 || w.back() != ')')
			continue;
		std::string_view name = w.substr(0, open), sec = w.substr(open + 1, w.size() - open - 2);
		bool ok = sec[0] >= '1' && sec[0] <= '9';
		for (char c : sec.substr(1))
			ok = ok && c >= 'a' && c <= 'z';
		for (char c : name)
			ok = ok && (letterbyte(static_cast<unsigned char>(c)) || digitbyte(c) || std::strchr("_.+-", c) != nullptr);
		if (ok)
			pg.manuals.emplace(std::string(name), std::string(sec));
	}
}

// Lines [from, to) of a buffer appended to an input being put together.
void appendlines(std::string &text, size_t &lines, std::vector<texiorigin> &origins, const pagebuffer &b,
    size_t from, size_t to)
{
	size_t pos = 0;
	for (size_t l = 0; l < from; l++)
		pos = b.text.find('\n', pos) + 1;
	size_t end = pos;
	for (size_t l = from; l < to; l++)
		end = b.text.find('\n', end) + 1;
	text.append(b.text, pos, end - pos);
	for (size_t k = 0; k < b.origins.size(); k++) {
		const texiorigin &o = b.origins[k];
		size_t next = k + 1 < b.origins.size() ? b.origins[k + 1].line : b.lines;
		size_t a = std::max(o.line, from), z = std::min(next, to);
		if (a < z)
			origins.push_back({lines + (a - from), o.fileline + (a - o.line), o.file});
	}
	lines += to - from;
}

// INCLUDE and NAME, their ranges in document order as one input, parsed for
// their settings with output suppressed.
void settings(texistate *p, const pagecollection &c)
{
	struct piece {
		const pagebuffer *b;
		size_t from, to, order;
	};
	std::vector<piece> pieces;
	for (std::string_view name : {"INCLUDE", "NAME"})
		if (const pagebuffer *b = pagefind(c, name))
			for (size_t i = 0; i < b->ranges.size(); i++)
				pieces.push_back({b, b->ranges[i].line,
				    i + 1 < b->ranges.size() ? b->ranges[i + 1].line : b->lines, b->ranges[i].order});
	std::sort(pieces.begin(), pieces.end(), [](const piece &x, const piece &y) { return x.order < y.order; });
	std::string text;
	size_t lines = 0;
	std::vector<texiorigin> origins;
	for (const piece &pc : pieces)
		appendlines(text, lines, origins, *pc.b, pc.from, pc.to);
	p->ignoredepth = 1;
	untilbye(p, [&] { pageparse(p, text, origins, 0); });
	p->ignoredepth = 0;
}

// ---------------------------------------------------------------------------
// The prologue

[[noreturn]] TEXI_PRINTF(3, 4) void pageerror(texistate *p, const pagecollection &c, const char *fmt, ...)
{
	if (p->errf != nullptr) {
		va_list ap;
		va_start(ap, fmt);
		const std::string &file = c.files.front();
		std::fprintf(p->errf, "%.*s: error: ", static_cast<int>(file.size()), file.data());
		std::vfprintf(p->errf, fmt, ap);
		std::fputc('\n', p->errf);
		va_end(ap);
	}
	throw texiexit{1};
}

// The description of the page: its title line's, or the manual's title up
// to its first ".".
pageline description(texistate *p, const pagecollection &c, const char *key)
{
	if (c.desc)
		return *c.desc;
	if (!c.titles.empty()) {
		std::string keys;
		for (const std::string &t : c.titles)
			keys += (keys.empty() ? "" : ", ") + t;
		pageerror(p, c, "no page \"%s\"; the manual has pages: %s", key, keys.c_str());
	}
	if (!c.settitle)
		pageerror(p, c, "no description for page \"%s\"", key);
	pageline d = *c.settitle;
	d.text.resize(std::min(d.text.size(), d.text.find('.')));
	return d;
}

void prologue(texistate *p, const texioptions &opt, std::string_view name, const pageline &desc)
{
	static constexpr const char *months[] = {"January", "February", "March", "April", "May", "June", "July",
	    "August", "September", "October", "November", "December"};
	std::tm tm{};
	outmacroopen(p, "Dd");
	if (texitime(p, tm) && tm.tm_mon >= 0 && tm.tm_mon < 12) {
		std::string date = months[tm.tm_mon];
		date += ' ' + std::to_string(tm.tm_mday) + ", " + std::to_string(tm.tm_year + 1900LL);
		outstr(p, date.c_str());
	}
	outmacroclose(p);

	std::string upper(name);
	for (char &ch : upper)
		if (ch >= 'a' && ch <= 'z')
			ch = static_cast<char>(ch - 'a' + 'A');
	outmacroopen(p, "Dt");
	outtext(p, upper.data(), upper.size());
	outstr(p, " ");
	outstr(p, opt.section != nullptr ? opt.section : "1");
	outmacroclose(p);

	if (opt.release != nullptr && opt.release[0] != '\0') {
		outmacroopen(p, "Os");
		outtext(p, opt.release, std::strlen(opt.release));
		outmacroclose(p);
	} else
		outblockmacro(p, "Os");

	outblockmacro(p, "Sh NAME");
	outmacroopen(p, "Nm");
	outtext(p, name.data(), name.size());
	outmacroclose(p);

	// The description without one final "." and the blanks around it.
	std::string_view d = trimblanks(desc.text);
	if (!d.empty() && d.back() == '.')
		d = trimblanks(d.substr(0, d.size() - 1));
	std::vector<texiorigin> origin{{0, desc.at.line, desc.at.file}};
	outmacroopen(p, "Nd");
	untilbye(p, [&] { pageparse(p, d, origin, desc.at.col); });
	outmacroclose(p);
	p->parabreak = 1;
}

} // namespace

// ---------------------------------------------------------------------------

bool pageknownsection(std::string_view name)
{
	for (const sectionrow &row : sections)
		if (row.buffer != nullptr && name == row.buffer)
			return true;
	return std::find(std::begin(unwritten), std::end(unwritten), name) != std::end(unwritten);
}

void pageparse(texistate *p, std::string_view text, const std::vector<texiorigin> &origins, size_t col)
{
	if (text.empty())
		return;
	if (p->filepos == MAXINPUTS)
		texierror(p, "too many open files");
	texiinput &in = p->inputs[p->filepos];
	in = {};
	in.name = origins.empty() ? std::string_view() : origins.front().file;
	in.origins = &origins;
	in.col = col;
	char *b = in.text.grow(text.size());
	if (b == nullptr) {
		errno = ENOMEM;
		texisyserr(p, nullptr);
	}
	std::memcpy(b, text.data(), text.size());
	in.text.adopt(text.size());
	// A group of the text is read ahead at most a few times over (once
	// for a command, once more for each command around it).
	p->rawahead += 4 * std::min(text.size(), SIZE_MAX / 8);
	p->filepos++;
	parseinput(p);
	texifilepop(p);
}

// The values are checked in the order of the options' table, each -D in
// order; the first bad one stops the run before anything is read.
void texipageoptions(texistate *p, const texioptions &opt)
{
	if (opt.page != nullptr && !keybytes(opt.page, false))
		badvalue(p, opt, "invalid page \"%s\"", opt.page);
	for (const char *d : opt.defines) {
		const char *eq = std::strchr(d, '=');
		std::string_view name(d, eq ? static_cast<size_t>(eq - d) : std::strlen(d));
		if (!keybytes(name, true))
			badvalue(p, opt, "invalid -D name \"%.*s\"", static_cast<int>(name.size()), name.data());
		if (eq != nullptr && std::strchr(eq + 1, '\n') != nullptr)
			badvalue(p, opt, "invalid -D value \"%s\"", eq + 1);
	}
	if (opt.name != nullptr) {
		size_t n = std::strlen(opt.name);
		bool ok = n >= 1 && n <= 255;
		for (size_t i = 0; i < n && ok; i++)
			ok = static_cast<unsigned char>(opt.name[i]) > ' ';
		if (!ok)
			badvalue(p, opt, "invalid name \"%s\"", opt.name);
	}
	if (opt.release != nullptr && std::strchr(opt.release, '\n') != nullptr)
		badvalue(p, opt, "invalid release");
	if (opt.section != nullptr) {
		const char *s = opt.section;
		bool ok = s[0] >= '1' && s[0] <= '9';
		size_t n = ok ? 1 : 0;
		for (; ok && s[n] != '\0'; n++)
			ok = n < 8 && ((s[n] >= 'a' && s[n] <= 'z') || digitbyte(s[n]));
		if (!ok)
			badvalue(p, opt, "invalid section \"%s\"", s);
	}
}

void texipage(texistate *p, const texioptions &opt)
{
	// The variables of the command line stand before the document.
	for (const char *d : opt.defines) {
		const char *eq = std::strchr(d, '=');
		if (eq != nullptr)
			valueadd(p, std::string(d, eq), std::string(eq + 1));
		else
			valueadd(p, d, std::string());
	}

	// The document is read whole as input 0; what it includes is looked
	// for beside it, then along the -I list.
	if (opt.file != nullptr) {
		std::string copy(opt.file);
		p->incdirs = makeincdirs(dirname(copy.data()), opt.incdirs);
		textbuf text;
		bool named;
		if (int e = texireadfile(opt.file, text, named)) {
			errno = e;
			texisyserr(p, named ? opt.file : nullptr);
		}
		texiinput &in = p->inputs[0];
		in = {};
		in.name = opt.file;
		in.text.swap(text);
		p->filepos = 1;
	} else {
		p->incdirs = makeincdirs(nullptr, opt.incdirs);
		readstdin(p, opt.infd, opt.indata);
	}

	pagecollection c;
	pagecollect(p, c, opt.page);
	texifilepop(p);

	p->ignoredepth = 0;
	if (opt.listpages) {
		if (c.titles.empty())
			pageerror(p, c, "no \"@c man title\" line");
		for (const std::string &t : c.titles) {
			outtext(p, t.data(), t.size());
			outchar(p, '\n');
		}
		return;
	}

	const char *key = opt.page;
	pageline desc = description(p, c, key);
	if (!c.kept)
		pageerror(p, c, "no \"@c man begin\" range for page \"%s\"", key);

	std::string_view name = opt.name != nullptr ? opt.name : key;
	texiprogram pg;
	pg.name = name;
	pg.key = key;
	pg.pages = &c;
	// References to nodes of no page point into the manual's Info file.
	pg.infoname = c.setfilename ? c.setfilename->text.substr(0, c.setfilename->text.find('.')) : std::string(name);
	manuals(pg, pagefind(c, "SEEALSO"));
	struct rulesscope {
		texistate *p;
		~rulesscope() { p->policy = {}; }
	} scope{p};
	texipolicy &rules = p->policy;
	rules.topheading = true;
	rules.minlevel = 1;
	rules.pagecommands = true;
	rules.textlines = true;
	rules.page = &pg;
	prologue(p, opt, name, desc);
	// The description is one line, its punctuation as written; the
	// sections' macro lines set it apart.
	rules.splitpunct = true;
	settings(p, c);

	for (const sectionrow &row : sections) {
		if (row.buffer == nullptr) {
			for (const pagebuffer &b : c.buffers)
				if (!pageknownsection(b.name))
					section(p, b.name, [&] { pageparse(p, b.text, b.origins, 0); });
			continue;
		}
		std::string_view buffer = row.buffer;
		if (buffer == "SYNOPSIS") {
			const pagebuffer *syn = pagefind(c, "SYNOPSIS"), *target = pagefind(c, "TARGET");
			pg.synopsis = true;
			if (syn != nullptr || target != nullptr)
				section(p, row.heading, [&] { pagesynopsis(p, syn, target, name, key); });
			pg.synopsis = false;
			continue;
		}
		pg.seealso = buffer == "SEEALSO";
		if (const pagebuffer *b = pagefind(c, row.buffer))
			section(p, row.heading, [&] { pageparse(p, b->text, b->origins, 0); });
		pg.seealso = false;
	}
}
