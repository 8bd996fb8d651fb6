// The collection: the document read as lines, as the annotations were meant
// to be read, before anything of it is parsed.
//
// A line counts only by its first words, the first at the start of the line
// and the others separated by blanks.  "@c man" lines act wherever they
// stand (inside @ignore, @copying or a false conditional too), and so do
// @set and @clear, at once; @include is followed inside a kept range only.
// Nothing else has an effect here: what a range holds is parsed later, in
// the section it belongs to.

#include <cerrno>
#include <cstring>

#include "page.h"

namespace {

// The word of s that begins at i (empty where s has a blank or nothing
// there), and i past it and the blanks after it.
std::string_view nextword(std::string_view s, size_t &i)
{
	size_t start = i;
	while (i < s.size() && !blankbyte(s[i]))
		i++;
	std::string_view w = s.substr(start, i - start);
	while (i < s.size() && blankbyte(s[i]))
		i++;
	return w;
}

bool validkey(std::string_view k)
{
	if (k.empty())
		return false;
	for (char c : k)
		if (!letterbyte(static_cast<unsigned char>(c)) && !(c >= '0' && c <= '9') && c != '-')
			return false;
	return true;
}

bool validsection(std::string_view s)
{
	if (s.empty())
		return false;
	for (char c : s)
		if (c < 'A' || c > 'Z')
			return false;
	return true;
}

// The reading of one document: the range open, if any, and where its lines
// go.
struct reader {
	reader(texistate *st, pagecollection &col, const char *k) : p(st), c(col), key(k) {}
	texistate *p;
	pagecollection &c;
	const char *key;
	bool open = false;    // a range is open
	bool keep = false;    // and its lines are the page's
	size_t buffer = 0;    // the buffer they go to
	std::string section;  // the open range's section name
	pageplace begun;      // and its begin line
	bool stop = false;    // @bye outside a range
	size_t ranges = 0;    // kept so far
	bool runaway = false; // the files open reached their limit
};

void readinput(reader &r);

pagebuffer &bufferfor(reader &r, std::string_view section, const pageplace &at)
{
	for (size_t i = 0; i < r.c.buffers.size(); i++)
		if (r.c.buffers[i].name == section) {
			r.buffer = i;
			return r.c.buffers[i];
		}
	if (!pageknownsection(section))
		texiwarningin(r.p, at.file, {at.line, at.col, 0}, "unknown man section \"%.*s\"",
		    static_cast<int>(section.size()), section.data());
	r.buffer = r.c.buffers.size();
	pagebuffer &b = r.c.buffers.emplace_back();
	b.name = section;
	return b;
}

void append(reader &r, std::string_view line, std::string_view file, size_t lineno)
{
	pagebuffer &b = r.c.buffers[r.buffer];
	if (b.origins.empty() || b.origins.back().file.data() != file.data() ||
	    b.origins.back().fileline + (b.lines - b.origins.back().line) != lineno)
		b.origins.push_back({b.lines, lineno, file});
	b.text.append(line);
	b.text.push_back('\n');
	b.lines++;
}

// "@c man title KEY DESCRIPTION", "@c man begin SECTION [KEY]" and "@c man
// end", with i just past "man" and the blanks after it.  False when the line
// is none of these, and so an ordinary comment.
bool manline(reader &r, std::string_view l, size_t i, std::string_view file, size_t lineno)
{
	std::string_view what = nextword(l, i);
	if (what == "end") {
		if (r.open)
			r.open = false;
		else
			texiwarningin(r.p, file, {lineno, 0, 0}, "\"@c man end\" outside a range");
		return true;
	}
	size_t wordat = i;
	std::string_view first = nextword(l, i);
	if (what == "title") {
		if (first.empty())
			return false;
		if (!validkey(first)) {
			texiwarningin(r.p, file, {lineno, wordat, 0}, "invalid page key \"%.*s\"",
			    static_cast<int>(first.size()), first.data());
			return true;
		}
		bool seen = false;
		for (const std::string &t : r.c.titles)
			seen = seen || t == first;
		if (!seen)
			r.c.titles.emplace_back(first);
		if (r.key != nullptr && first == r.key)
			r.c.desc = pageline{std::string(l.substr(i)), {file, lineno, i}};
		return true;
	}
	if (what != "begin" || !validsection(first))
		return false;
	size_t keyat = i;
	std::string_view key = nextword(l, i);
	if (r.open)
		texiwarningin(r.p, file, {lineno, 0, 0},
		    "\"@c man begin %.*s\" inside an open range: the range ends here",
		    static_cast<int>(first.size()), first.data());
	r.open = true;
	r.section = first;
	r.begun = {file, lineno, 0};
	if (!key.empty() && !validkey(key)) {
		// Such a range is no page's.
		texiwarningin(r.p, file, {lineno, keyat, 0}, "invalid page key \"%.*s\"",
		    static_cast<int>(key.size()), key.data());
		r.keep = false;
		return true;
	}
	r.keep = key.empty() || (r.key != nullptr && key == r.key);
	if (r.keep) {
		r.c.kept = true;
		pagebuffer &b = bufferfor(r, first, {file, lineno, wordat});
		b.ranges.push_back({b.lines, r.ranges++});
	}
	return true;
}

// An @include line of a kept range: the file's lines are read in its place,
// by the same rules.  A file that cannot be included is passed over with the
// message that would have stopped the whole-manual page.
void include(reader &r, size_t linestart, size_t lineno)
{
	texistate *p = r.p;
	texiinput &in = TOP(p);
	constexpr size_t NAMEAT = sizeof("@include") - 1;
	in.line = lineno;
	in.col = NAMEAT;
	in.splicerem = 0;
	size_t pos = linestart + NAMEAT;
	std::string err;
	std::string path = texiincludepath(p, pos, err);
	if (!err.empty()) {
		texiwarning(p, "%s: skipped", err.c_str());
		return;
	}
	// Files that include themselves reach the limit of files open.  Once
	// they do, no include is followed until the reading is back in the
	// document: a file that includes itself twice would otherwise be read
	// an exponential number of times.
	if (p->filepos == MAXINPUTS || r.runaway) {
		r.runaway = true;
		texiwarning(p, "too many open files: skipped");
		return;
	}
	textbuf text;
	bool named;
	if (int e = texireadfile(path.c_str(), text, named)) {
		if (!named) {
			errno = e;
			texisyserr(p, nullptr);
		}
		texiwarning(p, "%s: %s: skipped", path.c_str(), std::strerror(e));
		return;
	}
	texiinput &sub = p->inputs[p->filepos];
	sub = {};
	sub.name = path;
	sub.text.swap(text);
	p->filepos++;
	readinput(r);
	texifilepop(p);
	if (p->filepos == 1)
		r.runaway = false;
}

void readline(reader &r, std::string_view l, size_t linestart, std::string_view file, size_t lineno)
{
	size_t i = 0;
	std::string_view w = nextword(l, i);
	if (w == "@c") {
		size_t j = i;
		if (nextword(l, j) == "man" && manline(r, l, j, file, lineno))
			return;
	}
	const bool kept = r.open && r.keep;
	if (kept && w == "@include") {
		include(r, linestart, lineno);
		return;
	}
	if (w == "@set") {
		std::string_view name = nextword(l, i);
		if (!name.empty())
			valueadd(r.p, std::string(name), std::string(l.substr(i)));
	} else if (w == "@clear") {
		auto v = r.p->vars.find(l.substr(i));
		if (i < l.size() && v != r.p->vars.end())
			v->second.reset();
	} else if (w == "@setfilename") {
		r.c.setfilename = pageline{std::string(trimblanks(l.substr(i))), {file, lineno, i}};
	} else if (w == "@settitle") {
		r.c.settitle = pageline{std::string(trimblanks(l.substr(i))), {file, lineno, i}};
	} else if (w == "@bye" && !r.open) {
		r.stop = true;
		return;
	}
	if (kept)
		append(r, l, file, lineno);
}

// The lines of the innermost input, up to its end or @bye.
void readinput(reader &r)
{
	const texiinput &in = TOP(r.p);
	std::string_view file = r.c.files.emplace_back(in.name);
	const size_t size = in.text.size();
	for (size_t pos = 0, lineno = 0; pos < size && !r.stop; lineno++) {
		const char *s = in.text.at(pos);
		const void *nl = std::memchr(s, '\n', size - pos);
		size_t len = nl ? static_cast<size_t>(static_cast<const char *>(nl) - s) : size - pos;
		readline(r, std::string_view(s, len), pos, file, lineno);
		pos += len + 1;
	}
}

// The first command line after a @node line in the same range, past
// comments, index entries and text, is a heading that becomes a
// subsection: references to that node can point to it.
void notenodes(pagecollection &c, const pagebuffer &b)
{
	auto place = [&](size_t line) {
		size_t k = 0;
		while (k + 1 < b.origins.size() && b.origins[k + 1].line <= line)
			k++;
		const texiorigin &o = b.origins[k];
		return pageplace{o.file, o.fileline + (line - o.line), 0};
	};
	std::vector<std::string_view> lines;
	for (size_t pos = 0; pos < b.text.size();) {
		size_t nl = b.text.find('\n', pos);
		lines.emplace_back(b.text.data() + pos, nl - pos);
		pos = nl + 1;
	}
	size_t range = 0;
	for (size_t i = 0; i < lines.size(); i++) {
		while (range + 1 < b.ranges.size() && b.ranges[range + 1].line <= i)
			range++;
		size_t rangeend = range + 1 < b.ranges.size() ? b.ranges[range + 1].line : lines.size();
		size_t k = 0;
		if (nextword(lines[i], k) != "@node")
			continue;
		std::string_view node = lines[i].substr(k);
		node = trimblanks(node.substr(0, node.find(',')));
		for (size_t j = i + 1; j < rangeend; j++) {
			std::string_view l = lines[j];
			size_t m = 0;
			std::string_view w = nextword(l, m);
			if (w.empty() || w[0] != '@' || w == "@c" || w == "@comment" || pageindexline(l))
				continue;
			if (!node.empty() && pagesubsection(w.substr(1))) {
				pageplace at = place(j);
				at.col = m;
				c.nodes.emplace(std::string(node), pagenode{std::string(trimblanks(l.substr(m))), at});
			}
			break;
		}
	}
}

} // namespace

void pagecollect(texistate *p, pagecollection &c, const char *key)
{
	reader r(p, c, key);
	readinput(r);
	if (r.open)
		texiwarningin(p, r.begun.file, {r.begun.line, r.begun.col, 0},
		    "range \"%s\" not closed by \"@c man end\"", r.section.c_str());
	for (const pagebuffer &b : c.buffers)
		notenodes(c, b);
}

const pagebuffer *pagefind(const pagecollection &c, std::string_view name)
{
	for (const pagebuffer &b : c.buffers)
		if (b.name == name)
			return &b;
	return nullptr;
}

bool pagesubsection(std::string_view command)
{
	static constexpr std::string_view headings[] = {
		"top", "chapter", "unnumbered", "appendix", "centerchap", "majorheading", "chapheading",
		"section", "unnumberedsec", "appendixsec", "appendixsection", "heading",
	};
	for (std::string_view h : headings)
		if (command == h)
			return true;
	return false;
}

bool pageindexline(std::string_view line)
{
	size_t i = 0;
	while (i < line.size() && blankbyte(line[i]))
		i++;
	std::string_view w = nextword(line, i);
	constexpr std::string_view suffix = "index";
	if (w.size() <= 1 + suffix.size() || w[0] != '@' || w.substr(w.size() - suffix.size()) != suffix)
		return false;
	// The commands that declare or print an index are not entries.
	static constexpr std::string_view others[] = {
		"@printindex", "@defindex", "@defcodeindex", "@synindex", "@syncodeindex",
	};
	for (std::string_view o : others)
		if (w == o)
			return false;
	return true;
}
