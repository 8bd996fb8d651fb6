// The whole converter on the fuzzer's bytes, read as standard input: the page
// is produced in full and dropped, and so are the diagnostics (formatted all
// the same, so that their conversions are exercised).  Every way out must
// return to the caller with status 0 or 1.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "teximan.h"

#ifndef FUZZ_INCDIRS
#define FUZZ_INCDIRS nullptr
#endif

static std::FILE *sink;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	sink = std::fopen("/dev/null", "w");
	if (sink == nullptr)
		std::abort();
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	std::string_view doc(reinterpret_cast<const char *>(data), size);
	std::string page;
	texioptions opt;
	opt.indata = &doc;
	opt.incdirs = FUZZ_INCDIRS;
	opt.outcapture = &page;
	opt.closeout = false;
	opt.errf = sink;
	int status = texiconvert(opt);
	if (status != 0 && status != 1)
		std::abort();
	return 0;
}
