// The whole converter on the fuzzer's bytes, read as standard input: the page
// is produced in full and written to /dev/null through the converter's own
// output path (held in memory, the page of a few kilobytes of macros could
// reach gigabytes), and the diagnostics are formatted and dropped the same
// way.  Every way out must return to the caller with status 0 or 1, and
// leave no file open.
//
// Built with FUZZ_PAGE, the first line holds the options of a program's
// page, tab-separated, each as on the command line with its value joined:
// "-mKEY", "-Dname=value", "-nNAME", "-rRELEASE", "-sSECTION" or "-l"
// (other fields are ignored).  Without -m the manual's pages are listed.
// Options the command line would refuse as a usage error are not run.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "teximan.h"

#ifndef FUZZ_INCDIRS
#define FUZZ_INCDIRS nullptr
#endif

static std::FILE *errsink;
static int outfd = -1;

// The descriptor that the next open would get.
static int lowestfree()
{
	int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
	if (fd >= 0)
		close(fd);
	return fd;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	errsink = std::fopen("/dev/null", "w");
	outfd = open("/dev/null", O_WRONLY | O_CLOEXEC);
	if (errsink == nullptr || outfd < 0)
		std::abort();
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	std::string_view doc(reinterpret_cast<const char *>(data), size);
	texioptions opt;
#ifdef FUZZ_PAGE
	size_t nl = doc.find('\n');
	std::string_view line = doc.substr(0, nl);
	doc.remove_prefix(nl == std::string_view::npos ? doc.size() : nl + 1);
	std::vector<std::string> fields; // the values, NUL-terminated for the options
	for (size_t start = 0; start <= line.size();) {
		size_t tab = std::min(line.find('\t', start), line.size());
		fields.emplace_back(line.substr(start, tab - start));
		start = tab + 1;
	}
	for (const std::string &f : fields) {
		if (f.size() < 2 || f[0] != '-')
			continue;
		const char *v = f.c_str() + 2;
		switch (f[1]) {
		case 'm':
			opt.page = v;
			break;
		case 'D':
			opt.defines.push_back(v);
			break;
		case 'n':
			opt.name = v;
			break;
		case 'r':
			opt.release = v;
			break;
		case 's':
			opt.section = v;
			break;
		case 'l':
			opt.listpages = true;
			break;
		default:
			break;
		}
	}
	if (opt.page == nullptr)
		opt.listpages = true;
	if (opt.listpages && (opt.page || !opt.defines.empty() || opt.name || opt.release || opt.section))
		return 0;
#endif
	// Measured around the run alone: the fuzzer keeps files of its own open.
	int freefd = lowestfree();
	opt.indata = &doc;
	opt.incdirs = FUZZ_INCDIRS;
	opt.outfd = outfd;
	opt.closeout = false;
	opt.errf = errsink;
	int status = texiconvert(opt);
	if (status != 0 && status != 1)
		std::abort();
	if (lowestfree() != freefd)
		std::abort();
	return 0;
}
