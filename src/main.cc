// The command line.  Options are parsed here alone; the converter proper is
// entered with them, checks their values and returns the exit status.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "teximan.h"

static int usage(const char *prog)
{
	std::fprintf(stderr,
	    "usage: %s [-Idirs] [file]\n"
	    "       %s -m page [-D name[=value]] [-n name] [-r release] [-s section] [-Idirs] [file]\n"
	    "       %s -l [-Idirs] [file]\n",
	    prog, prog, prog);
	return 1;
}

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
	opt.prog = prog;
	int c;
	// "+": stop at the first operand, as POSIX getopt does.  Of a repeated
	// option only the last counts, but for -D, which adds a variable each.
	while ((c = getopt(argc, argv, "+I:D:lm:n:r:s:")) != -1) {
		switch (c) {
		case 'I':
			opt.incdirs = optarg;
			break;
		case 'D':
			opt.defines.push_back(optarg);
			break;
		case 'l':
			opt.listpages = true;
			break;
		case 'm':
			opt.page = optarg;
			break;
		case 'n':
			opt.name = optarg;
			break;
		case 'r':
			opt.release = optarg;
			break;
		case 's':
			opt.section = optarg;
			break;
		default:
			return usage(prog);
		}
	}
	// The settings of a program's page mean nothing without one, and a
	// list of pages takes none.
	bool pagesettings = !opt.defines.empty() || opt.name || opt.release || opt.section;
	if ((pagesettings && opt.page == nullptr) || (opt.listpages && (opt.page || pagesettings)))
		return usage(prog);
	if (optind < argc)
		opt.file = argv[optind]; // further operands are ignored
	// The one setting read from the environment: the date of a
	// reproducible build.
	opt.sourcedate = std::getenv("SOURCE_DATE_EPOCH");
	return texiconvert(opt);
}
