// The whole converter on the fuzzer's bytes, read as standard input: the page
// is produced in full and written to /dev/null through the converter's own
// output path (held in memory, the page of a few kilobytes of macros could
// reach gigabytes), and the diagnostics are formatted and dropped the same
// way.  Every way out must return to the caller with status 0 or 1, and
// leave no file open.

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

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
	// Measured around the run alone: the fuzzer keeps files of its own open.
	int freefd = lowestfree();
	texioptions opt;
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
