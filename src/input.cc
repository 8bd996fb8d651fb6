// The input stack, source positions, diagnostics and the ways a run ends.

#include <fcntl.h>
#include <libgen.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstring>
#include <limits>
#include <new>

#include "teximan.h"

// ---------------------------------------------------------------------------
// Text buffers

// A text is read once from end to end into fresh memory, and filling fresh
// memory page by page costs the kernel more than converting the text.  So a
// text of some size gets memory aligned to, and rounded up to, huge pages,
// with the advice to use them: one fault then fills two megabytes.  Only
// advice: the same bytes result without it.
constexpr size_t HUGEPAGE = size_t{2} << 20;
constexpr size_t HUGEMIN = size_t{128} << 10;

char *textbuf::grow(size_t cap)
{
	assert(live_ == 0 && origin_ == 0);
	if (cap <= cap_)
		return data_.get();
	if (cap < HUGEMIN) {
		char *b = static_cast<char *>(std::realloc(data_.get(), cap));
		if (b == nullptr)
			return nullptr;
		(void)data_.release();
		data_.reset(b);
		cap_ = cap;
		return b;
	}
	size_t rounded = (cap + HUGEPAGE - 1) & ~(HUGEPAGE - 1);
	char *b = static_cast<char *>(std::aligned_alloc(HUGEPAGE, rounded));
	if (b == nullptr)
		return nullptr;
#ifdef MADV_HUGEPAGE
	(void)madvise(b, rounded, MADV_HUGEPAGE);
#endif
	if (size_ > 0)
		std::memcpy(b, data_.get(), size_);
	data_.reset(b);
	cap_ = rounded;
	return b;
}

void textbuf::adopt(size_t size)
{
	assert(size <= cap_);
	size_ = size;
}

// Room for an insertion comes first from the bytes consumed since the last
// one.  Only when expansions are inserted faster than text is read does the
// buffer grow, and then by a share of what it holds, so that growing stays
// linear however many expansions there are.
bool textbuf::insert(size_t pos, const char *s, size_t n)
{
	assert(pos >= origin_ && pos <= size_);
	if (pos > origin_) {
		before_ = *at(pos - 1);
		live_ += pos - origin_;
		origin_ = pos;
	}
	if (n > live_) {
		size_t tail = size_ - origin_;
		size_t extra = tail / 8 > 1024 ? tail / 8 : 1024;
		size_t add = n - live_ + extra;
		char *b = static_cast<char *>(std::realloc(data_.get(), cap_ + add));
		if (b == nullptr)
			return false;
		(void)data_.release();
		data_.reset(b);
		std::memmove(b + live_ + add, b + live_, tail);
		cap_ += add;
		live_ += add;
	}
	live_ -= n;
	std::memcpy(data_.get() + live_, s, n);
	size_ += n;
	return true;
}

void textbuf::release()
{
	data_.reset();
	cap_ = live_ = origin_ = size_ = 0;
	before_ = 0;
}

// ---------------------------------------------------------------------------
// Positions.  Every byte consumed follows one rule: inserted bytes ahead of
// the position are counted down; the input's own bytes move line and column.

void advanceto(texistate *p, size_t &pos, size_t end)
{
	assert(pos <= end);
	texiinput &in = TOP(p);
	size_t n = end - pos;
	if (in.splicerem >= n) {
		in.splicerem -= n;
		pos = end;
		return;
	}
	size_t own = pos + in.splicerem;
	in.splicerem = 0;
	const char *s = in.text.at(own);
	size_t m = end - own;
	const char *last = nullptr;
	if (m < 64) {
		// Command names and blanks: shorter than a library call is worth.
		for (const char *q = s; q < s + m; q++)
			if (*q == '\n') {
				in.line++;
				last = q;
			}
	} else
		for (const char *q = s; (q = static_cast<const char *>(std::memchr(q, '\n', s + m - q))) != nullptr; q++) {
			in.line++;
			last = q;
		}
	in.col = last ? static_cast<size_t>(s + m - last - 1) : in.col + m;
	pos = end;
}

size_t skiptoeol(texistate *p, size_t &pos, int consumenl)
{
	size_t size = BUFSZ(p);
	if (pos < size) {
		const void *nl = std::memchr(BUFAT(p, pos), '\n', size - pos);
		size_t end = nl ? pos + static_cast<size_t>(static_cast<const char *>(nl) - BUFAT(p, pos)) : size;
		advanceto(p, pos, end);
		if (consumenl && pos < size)
			stepone(p, pos);
	}
	return pos;
}

void skipblanks(texistate *p, size_t &pos)
{
	while (pos < BUFSZ(p) && blankbyte(BUF(p, pos)))
		stepone(p, pos);
}

const char *texifind(const char *s, size_t n, std::string_view tok)
{
	size_t m = tok.size();
	if (m == 0)
		return s;
	while (n >= m) {
		const char *q = static_cast<const char *>(std::memchr(s, tok[0], n - m + 1));
		if (q == nullptr)
			return nullptr;
		if (std::memcmp(q + 1, tok.data() + 1, m - 1) == 0)
			return q;
		n -= static_cast<size_t>(q + 1 - s);
		s = q + 1;
	}
	return nullptr;
}

// ---------------------------------------------------------------------------
// Diagnostics

static void diagprefix(texistate *p, const texipos &at, const char *kind)
{
	const char *name = TOP(p).name.c_str();
	if (at.splicerem == 0)
		std::fprintf(p->errf, "%s:%zu:%zu: %s: ", name, at.line + 1, at.col + 1, kind);
	else if (kind[0] == 'w')
		std::fprintf(p->errf, "%s:%zu:%zu (%zuB left in splice): warning: ", name,
		    at.line + 1, at.col + 1, at.splicerem);
	else
		std::fprintf(p->errf, "%s:%zu:%zu: (%zuB left in splice): error: ", name,
		    at.line + 1, at.col + 1, at.splicerem);
}

TEXI_PRINTF(4, 0)
static void diagnose(texistate *p, const texipos &at, const char *kind, const char *fmt, va_list ap)
{
	if (p->errf == nullptr)
		return;
	diagprefix(p, at, kind);
	std::vfprintf(p->errf, fmt, ap);
	std::fputc('\n', p->errf);
}

void texiwarning(texistate *p, const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	diagnose(p, texihere(p), "warning", fmt, ap);
	va_end(ap);
}

void texiwarningat(texistate *p, const texipos &at, const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	diagnose(p, at, "warning", fmt, ap);
	va_end(ap);
}

void texierror(texistate *p, const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	diagnose(p, texihere(p), "error", fmt, ap);
	va_end(ap);
	throw texiexit{1};
}

void texisyserr(texistate *p, const char *text)
{
	int e = errno;
	if (p->errf != nullptr) {
		if (text != nullptr)
			std::fprintf(p->errf, "%s: %s\n", text, std::strerror(e));
		else
			std::fprintf(p->errf, "%s\n", std::strerror(e));
	}
	throw texiexit{1};
}

// ---------------------------------------------------------------------------
// The input stack

std::vector<std::string> makeincdirs(const char *dir, const char *list)
{
	std::vector<std::string> dirs;
	if (dir != nullptr)
		dirs.emplace_back(dir);
	if (list != nullptr) {
		const char *s = list;
		for (const char *c; (c = std::strchr(s, ':')) != nullptr; s = c + 1)
			dirs.emplace_back(s, c);
		dirs.emplace_back(s);
	}
	return dirs;
}

void texifilepop(texistate *p)
{
	assert(p->filepos > 0);
	if (p->cmdgroups.filepos == p->filepos)
		p->cmdgroups = {};
	if (p->listargs.filepos == p->filepos)
		p->listargs = {};
	texiinput &in = p->inputs[--p->filepos];
	in.text.release();
	in.name.clear();
}

namespace {

struct fdcloser {
	int fd;
	~fdcloser() { close(fd); }
};

// Reads a whole file into buf (n bytes at most); returns the count read.
ssize_t readall(int fd, char *buf, size_t n)
{
	size_t got = 0;
	while (got < n) {
		ssize_t r = read(fd, buf + got, n - got);
		if (r < 0 && errno == EINTR)
			continue;
		if (r < 0)
			return -1;
		if (r == 0)
			break;
		got += static_cast<size_t>(r);
	}
	return static_cast<ssize_t>(got);
}

} // namespace

// Loads the file at path straight into its buffer.  Parse mode pushes it as a
// new input and parses it to its end; copy mode writes its bytes through the
// writer, unparsed.
void loadfile(texistate *p, const char *path, int parse)
{
	if (p->filepos == MAXINPUTS)
		texierror(p, "too many open files");

	int fd = open(path, O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		texisyserr(p, path);
	textbuf text;
	{
		fdcloser closer{fd};
		struct stat st;
		if (fstat(fd, &st) != 0)
			texisyserr(p, path);
		if (st.st_size <= 0) {
			errno = EINVAL;
			texisyserr(p, path);
		}
		size_t size = static_cast<size_t>(st.st_size);
		char *buf = text.grow(size);
		if (buf == nullptr) {
			errno = ENOMEM;
			texisyserr(p, nullptr);
		}
		ssize_t got = readall(fd, buf, size);
		if (got < 0)
			texisyserr(p, path);
		if (got == 0) {
			errno = EINVAL;
			texisyserr(p, path);
		}
		text.adopt(static_cast<size_t>(got));
	}

	if (!parse) {
		// A copy ends its output line, so that what follows starts afresh.
		outtext(p, text.at(0), text.size());
		if (p->column != 0 && p->ignoredepth == 0)
			outchar(p, '\n');
		return;
	}

	texiinput &in = p->inputs[p->filepos];
	in = {};
	in.name = path;
	in.text.swap(text);
	p->filepos++;
	parseinput(p);
	texifilepop(p);
}

// Reads all of standard input (or the bytes standing in for it), then parses
// it as input 0.
void parsestdin(texistate *p, int fd, const std::string_view *data)
{
	assert(p->filepos == 0);
	texiinput &in = p->inputs[0];
	in = {};
	in.kind = INPUT_STDIN;
	in.name = "<stdin>";
	p->filepos = 1; // so that a failure to read is reported against it

	constexpr size_t MAXSTDIN = size_t{1} << 31;
	size_t used = 0;
	if (data != nullptr) {
		if (data->size() >= MAXSTDIN)
			texierror(p, "stdin buffer too long");
		char *buf = in.text.grow(data->size() > 0 ? data->size() : 1);
		if (buf == nullptr) {
			errno = ENOMEM;
			texisyserr(p, nullptr);
		}
		std::memcpy(buf, data->data(), data->size());
		used = data->size();
	}
	while (data == nullptr) {
		size_t cap = in.text.capacity();
		if (used == cap) {
			if (cap >= MAXSTDIN)
				texierror(p, "stdin buffer too long");
			in.text.adopt(used); // what a larger buffer takes over
			if (in.text.grow(cap < 32769 ? 65536 : cap * 2) == nullptr) {
				errno = ENOMEM;
				texisyserr(p, nullptr);
			}
			cap = in.text.capacity();
		}
		ssize_t r = read(fd, in.text.grow(cap) + used, cap - used);
		if (r < 0 && errno == EINTR)
			continue; // an interrupted read is not a failure
		if (r < 0)
			texisyserr(p, nullptr);
		if (r == 0)
			break;
		used += static_cast<size_t>(r);
	}
	in.text.adopt(used);
	parseinput(p);
	texifilepop(p);
}

// Ends the output line and releases everything the run holds.
void texifree(texistate *p)
{
	outendline(p);
	while (p->filepos > 0)
		texifilepop(p);
	p->macros.clear();
	p->aliases.clear();
	p->incdirs.clear();
	p->indexnames.clear();
	p->vars.clear();
	p->doctitle.reset();
	p->docname.clear();
}

void dofinish(texistate *p, cmdid, size_t &)
{
	(void)p;
	throw texiexit{0};
}

// ---------------------------------------------------------------------------
// A run

// The time of a reproducible build: a decimal count of seconds since the
// epoch, all digits, that fits a time_t and that the C library can break
// down.
static bool sourcedate(const char *s, std::time_t &t)
{
	if (*s == '\0')
		return false;
	using limits = std::numeric_limits<std::time_t>;
	std::time_t v = 0;
	for (; *s; s++) {
		if (*s < '0' || *s > '9')
			return false;
		std::time_t d = *s - '0';
		if (v > (limits::max() - d) / 10)
			return false;
		v = v * 10 + d;
	}
	std::tm tm{};
	if (gmtime_r(&v, &tm) == nullptr)
		return false;
	t = v;
	return true;
}

bool texitime(texistate *p, std::tm &tm)
{
	return (p->runutc ? gmtime_r(&p->runtime, &tm) : localtime_r(&p->runtime, &tm)) != nullptr;
}

int texiconvert(const texioptions &opt)
{
	texistate st;
	texistate *p = &st;
	st.ignoredepth = 1;
	st.outfd = opt.outfd;
	st.outcapture = opt.outcapture;
	st.errf = opt.errf;

	int status = 1;
	try {
		// A date given by the build makes the page the same bytes on every
		// run; one that cannot be read stops the run before any output.
		st.runtime = std::time(nullptr);
		if (opt.sourcedate != nullptr) {
			if (!sourcedate(opt.sourcedate, st.runtime)) {
				if (st.errf != nullptr)
					std::fprintf(st.errf, "SOURCE_DATE_EPOCH: invalid value\n");
				throw texiexit{1};
			}
			st.runutc = true;
		}
		// Every page of the buffer is touched, and a fresh page costs a
		// fault; larger blocks save no time on large outputs.
		st.obuf.resize(size_t{1} << 15);
		if (opt.file != nullptr) {
			std::string copy(opt.file);
			const char *slash = std::strrchr(opt.file, '/');
			std::string base(slash ? slash + 1 : opt.file);
			st.docname = base.substr(0, base.find('.'));
			st.incdirs = makeincdirs(dirname(copy.data()), opt.incdirs);
			loadfile(p, opt.file, 1);
		} else {
			st.docname = "Unknown Manual";
			st.incdirs = makeincdirs(nullptr, opt.incdirs);
			parsestdin(p, opt.infd, opt.indata);
		}
	} catch (const texiexit &e) {
		status = e.status;
	} catch (const std::bad_alloc &) {
		if (st.errf != nullptr)
			std::fprintf(st.errf, "%s\n", std::strerror(ENOMEM));
	}

	// Every way out flushes and closes the output and checks both: a page
	// that did not reach its reader is not a success.
	try {
		texifree(p);
		outflush(p);
	} catch (const texiexit &) {
	}
	if (opt.closeout && st.outcapture == nullptr && close(st.outfd) != 0 && st.outerrno == 0)
		st.outerrno = errno;
	if (st.outerrno != 0) {
		if (st.errf != nullptr)
			std::fprintf(st.errf, "stdout: %s\n", std::strerror(st.outerrno));
		status = 1;
	}
	return status;
}
