// The input stack, source positions, diagnostics and the ways a run ends.

#include <fcntl.h>
#include <libgen.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <algorithm>
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
// large text lives in a mapping of its own, aligned to and rounded up to
// huge pages, with the advice to use them: one fault then fills two
// megabytes.  Only advice: the same bytes result without it.  A mapping
// grows by moving its pages, not by copying them, so that a text read from
// a pipe as it comes is never held twice.
constexpr size_t HUGEPAGE = size_t{2} << 20;
constexpr size_t HUGEMIN = size_t{128} << 10;

// A fresh mapping of len bytes (a multiple of HUGEPAGE) aligned to a huge
// page, or null.
static char *hugemap(size_t len)
{
	void *m = mmap(nullptr, len + HUGEPAGE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
	if (m == MAP_FAILED)
		return nullptr;
	char *raw = static_cast<char *>(m);
	uintptr_t skip = (HUGEPAGE - (reinterpret_cast<uintptr_t>(raw) & (HUGEPAGE - 1))) & (HUGEPAGE - 1);
	if (skip > 0)
		(void)munmap(raw, skip);
	(void)munmap(raw + skip + len, HUGEPAGE - skip);
	char *b = raw + skip;
#ifdef MADV_HUGEPAGE
	(void)madvise(b, len, MADV_HUGEPAGE);
#endif
	return b;
}

void textbuf::freer::operator()(char *b) const
{
	if (mapped > 0)
		(void)munmap(b, mapped);
	else
		std::free(b);
}

// Room for cap bytes, of which the first keep are kept; null when memory
// runs out, the text unchanged.
char *textbuf::resize(size_t cap, size_t keep)
{
	char *old = data_.get();
	size_t mapped = data_.get_deleter().mapped;
	if (cap < HUGEMIN && mapped == 0) {
		char *b = static_cast<char *>(std::realloc(old, cap));
		if (b == nullptr)
			return nullptr;
		(void)data_.release();
		data_.reset(b);
		cap_ = cap;
		return b;
	}
	size_t len = (cap + HUGEPAGE - 1) & ~(HUGEPAGE - 1);
	char *b = hugemap(len);
	if (b == nullptr)
		return nullptr;
#ifdef MREMAP_FIXED
	// The old pages move over the fresh mapping, in place of a copy.
	if (mapped > 0 && mremap(old, mapped, len, MREMAP_MAYMOVE | MREMAP_FIXED, b) != MAP_FAILED) {
		(void)data_.release();
		data_ = {b, freer{len}};
		cap_ = len;
		return b;
	}
#endif
	if (keep > 0)
		std::memcpy(b, old, keep);
	data_ = {b, freer{len}};
	cap_ = len;
	return b;
}

char *textbuf::grow(size_t cap)
{
	assert(live_ == 0 && origin_ == 0);
	if (cap <= cap_)
		return data_.get();
	return resize(cap, size_);
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
		size_t cap = cap_;
		char *b = resize(cap + add, live_ + tail);
		if (b == nullptr)
			return false;
		add = cap_ - cap; // a mapping is rounded up
		std::memmove(b + live_ + add, b + live_, tail);
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
	data_.get_deleter() = {};
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
	texiinput &in = TOP(p);
	const size_t size = in.text.size();
	if (pos < size) {
		// The line is most often short: its end is looked for sixteen
		// bytes at a time before the library is asked.
		const char *s = in.text.at(pos);
		size_t n = size - pos, k = 0;
#ifdef __SSE2__
		for (; k < 64 && n - k >= 16; k += 16) {
			const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + k));
			if (const unsigned m = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))))) {
				n = k + static_cast<size_t>(__builtin_ctz(m));
				k = SIZE_MAX;
				break;
			}
		}
#endif
		if (k != SIZE_MAX) {
			const void *nl = std::memchr(s + k, '\n', n - k);
			n = nl ? static_cast<size_t>(static_cast<const char *>(nl) - s) : n;
		}
		// The line up to its newline holds none.
		pastword(in, pos, n);
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

// The file and line a place of the innermost input stands for.
static std::string_view diagfile(texistate *p, size_t &line)
{
	const texiinput &in = TOP(p);
	if (in.origins == nullptr || in.origins->empty())
		return in.name;
	auto run = std::upper_bound(in.origins->begin(), in.origins->end(), line,
	    [](size_t l, const texiorigin &o) { return l < o.line; });
	if (run != in.origins->begin())
		--run;
	line = run->fileline + (line - run->line);
	return run->file;
}

static void diagprefix(texistate *p, std::string_view file, const texipos &at, const char *kind)
{
	int n = file.size() > INT_MAX ? INT_MAX : static_cast<int>(file.size());
	const char *name = file.data();
	if (at.splicerem == 0)
		std::fprintf(p->errf, "%.*s:%zu:%zu: %s: ", n, name, at.line + 1, at.col + 1, kind);
	else if (kind[0] == 'w')
		std::fprintf(p->errf, "%.*s:%zu:%zu (%zuB left in splice): warning: ", n, name,
		    at.line + 1, at.col + 1, at.splicerem);
	else
		std::fprintf(p->errf, "%.*s:%zu:%zu: (%zuB left in splice): error: ", n, name,
		    at.line + 1, at.col + 1, at.splicerem);
}

TEXI_PRINTF(5, 0)
static void diagnosein(texistate *p, std::string_view file, const texipos &at, const char *kind, const char *fmt,
    va_list ap)
{
	if (p->errf == nullptr)
		return;
	diagprefix(p, file, at, kind);
	std::vfprintf(p->errf, fmt, ap);
	std::fputc('\n', p->errf);
}

TEXI_PRINTF(4, 0)
static void diagnose(texistate *p, const texipos &at, const char *kind, const char *fmt, va_list ap)
{
	if (p->errf == nullptr)
		return;
	texipos place = at;
	std::string_view file = diagfile(p, place.line);
	diagnosein(p, file, place, kind, fmt, ap);
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

void texiwarningin(texistate *p, std::string_view file, const texipos &at, const char *fmt, ...)
{
	va_list ap;
	va_start(ap, fmt);
	diagnosein(p, file, at, "warning", fmt, ap);
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
	in.origins = nullptr;
}

namespace {

struct fdcloser {
	int fd;
	~fdcloser() { close(fd); }
};

// The most that is read from a pipe or a device: the buffer doubles as it
// fills, and this is the last size it may take.
constexpr size_t MAXSTREAM = size_t{1} << 31;

// What a regular file holds from fd's offset on, as it is now; 0 for
// anything else (a pipe, a terminal, a device) and for a file that says it
// is empty, which may still give bytes (the files of /proc do).
size_t regularsize(int fd)
{
	struct stat st;
	if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0)
		return 0;
	off_t at = lseek(fd, 0, SEEK_CUR);
	if (at < 0 || at >= st.st_size)
		return 0;
	return static_cast<size_t>(st.st_size - at);
}

// Reads fd from its offset into text, which must be empty.  A regular file
// is read up to the size it has now (size, from regularsize), in one read
// into a buffer of that size: a file that grows meanwhile is taken as it
// was, one that shrinks as far as it goes, and what is read stays in memory
// whatever later happens to the file.  Anything else is read to its end
// into a buffer that doubles as it fills, up to MAXSTREAM bytes.  Returns
// false with errno set when a read fails, or EFBIG when a stream passes the
// limit; memory that runs out is std::bad_alloc.
bool readall(int fd, size_t size, textbuf &text)
{
	size_t used = 0;
	if (size > 0) {
		char *buf = text.grow(size);
		if (buf == nullptr)
			throw std::bad_alloc();
		while (used < size) {
			ssize_t r = read(fd, buf + used, size - used);
			if (r < 0 && errno == EINTR)
				continue; // an interrupted read is not a failure
			if (r < 0)
				return false;
			if (r == 0)
				break;
			used += static_cast<size_t>(r);
		}
		text.adopt(used);
		return true;
	}
	for (;;) {
		size_t cap = text.capacity();
		if (used == cap) {
			if (cap >= MAXSTREAM) {
				errno = EFBIG;
				return false;
			}
			text.adopt(used); // what a larger buffer takes over
			if (text.grow(cap < 32769 ? 65536 : cap * 2) == nullptr)
				throw std::bad_alloc();
			cap = text.capacity();
		}
		ssize_t r = read(fd, text.grow(cap) + used, cap - used);
		if (r < 0 && errno == EINTR)
			continue;
		if (r < 0)
			return false;
		if (r == 0)
			break;
		used += static_cast<size_t>(r);
	}
	text.adopt(used);
	return true;
}

} // namespace

int texireadfile(const char *path, textbuf &text, bool &named)
{
	named = true;
	int fd = open(path, O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		return errno;
	fdcloser closer{fd};
	if (!readall(fd, regularsize(fd), text))
		return errno;
	// A file without a byte is refused, as a mapping of it would be.
	if (text.size() == 0)
		return EINVAL;
	return 0;
}

// Loads the file at path straight into its buffer.  Parse mode pushes it as a
// new input and parses it to its end; copy mode writes its bytes through the
// writer, unparsed.
//
// The text is read, not mapped.  A mapping of the file is made of small
// pages, and on a virtual machine the first touch of each costs a fault in
// the hypervisor even when the mapping was populated up front: more, over a
// whole document, than zeroing huge pages and copying the text into them.
// And a file read whole cannot take the converter down when it shrinks.
void loadfile(texistate *p, const char *path, int parse)
{
	if (p->filepos == MAXINPUTS)
		texierror(p, "too many open files");

	textbuf text;
	bool named;
	if (int e = texireadfile(path, text, named)) {
		errno = e;
		texisyserr(p, named ? path : nullptr);
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

void readstdin(texistate *p, int fd, const std::string_view *data)
{
	assert(p->filepos == 0);
	texiinput &in = p->inputs[0];
	in = {};
	in.kind = INPUT_STDIN;
	in.name = "<stdin>";
	p->filepos = 1; // so that a failure to read is reported against it

	if (data != nullptr) {
		if (data->size() >= MAXSTREAM)
			texierror(p, "stdin buffer too long");
		char *buf = in.text.grow(data->size() > 0 ? data->size() : 1);
		if (buf == nullptr) {
			errno = ENOMEM;
			texisyserr(p, nullptr);
		}
		std::memcpy(buf, data->data(), data->size());
		in.text.adopt(data->size());
	} else {
		size_t size = regularsize(fd);
		if (size >= MAXSTREAM)
			texierror(p, "stdin buffer too long");
		if (!readall(fd, size, in.text)) {
			if (errno == EFBIG)
				texierror(p, "stdin buffer too long");
			texisyserr(p, nullptr);
		}
	}
}

void parsestdin(texistate *p, int fd, const std::string_view *data)
{
	readstdin(p, fd, data);
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
	endnotes(p);
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
	const bool pagemode = opt.page != nullptr || opt.listpages;
	try {
		if (pagemode)
			texipageoptions(p, opt);
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
		st.out.reserve(size_t{1} << 15);
		if (pagemode) {
			texipage(p, opt);
			status = 0;
		} else if (opt.file != nullptr) {
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
		endnotes(p);
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
