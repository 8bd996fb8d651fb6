// The command line.  Options are parsed here alone; the converter proper is
// entered with them and returns the exit status.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "teximan.h"

int main(int argc, char *argv[])
{
	const char *prog = "teximan";
	if (argc > 0 && argv[0] != nullptr) {
		const char *slash = std::strrchr(argv[0], '/');
		prog = slash ? slash + 1 : argv[0];
	}

	// A diagnostic reaches standard error as one write, not one for each
	// piece of it: a document can hold millions of stray braces.
	std::setvbuf(stderr, nullptr, _IOLBF, BUFSIZ);

	texioptions opt;
	int c;
	// "+": stop at the first operand, as POSIX getopt does.
	while ((c = getopt(argc, argv, "+I:")) != -1) {
		if (c != 'I') {
			std::fprintf(stderr, "usage: %s [-Idirs] [file]\n", prog);
			return 1;
		}
		opt.incdirs = optarg; // only the last list counts
	}
	if (optind < argc)
		opt.file = argv[optind]; // further operands are ignored
	// The one setting read from the environment: the date of a
	// reproducible build.
	opt.sourcedate = std::getenv("SOURCE_DATE_EPOCH");
	return texiconvert(opt);
}
