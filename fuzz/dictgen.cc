// Writes a libFuzzer dictionary: every command of the command table, the
// tokens that give blocks and macros their shape, and one inclusion line for
// each file name given after the output file.  Generated at build time, so that the
// dictionary never misses a command.

#include <cstdio>
#include <string_view>

#include "teximan.h"

// One dictionary entry, quoted with the escapes the dictionary format reads.
static void entry(std::string_view s)
{
	std::putchar('"');
	for (unsigned char c : s) {
		if (c == '"' || c == '\\')
			std::printf("\\%c", c);
		else if (c < 0x20 || c >= 0x7f)
			std::printf("\\x%02X", c);
		else
			std::putchar(c);
	}
	std::puts("\"");
}

int main(int argc, char *argv[])
{
	if (argc < 2 || std::freopen(argv[1], "w", stdout) == nullptr) {
		std::perror(argc < 2 ? "usage: dictgen OUTPUT [--page] [NAME...]" : argv[1]);
		return 1;
	}
	int names = 2;
	if (argc > 2 && std::string_view(argv[2]) == "--page") {
		// The options of a program's page on its first line, and the
		// shapes of the manuals that mark pages.
		names = 3;
		for (std::string_view s : {"-mprog\t", "-l\t", "-nprog\t", "-Dman\t", "-DX=1\t", "-r1.0\t", "-s5\t",
		         "\n@c man begin SYNOPSIS prog\n", "\n@c man begin OPTIONS\n", "\n@c man begin DESCRIPTION prog\n",
		         "\n@c man begin SEEALSO\n", "\n@c man begin INCLUDE\n", "\n@c man begin NAME\n",
		         "\n@c man begin TARGET prog\n", "\n@c man begin BUGS other\n", "\n@c man end\n",
		         "\n@c man title prog a program\n", "prog ", "[", "]", "|", "@dots{}", "...", "@option{-",
		         "@var{", "@r{", "@@", "--", "=", "@item -", "@itemx --", "@table @option\n", "@table @samp\n",
		         "@gccoptlist{", "@gol\n", "prog(1)", "@xref{N}", "@pxref{N,,T,f.info,M}", "@ref{N}",
		         "@inforef{N,T,F}", "@node N\n", "@section S\n", ". A", "@footnote{", "\\c", "\n\n"})
			entry(s);
	}
	for (const cmdentry &c : cmdtable) {
		std::string name = std::string("@") + std::string(c.name, c.len);
		entry(name);
		entry(std::string(c.name, c.len) + "\n"); // the name on an @end line
	}
	for (std::string_view s : {"{", "}", ",", "\n", "\n\n", "@end ", "@top\n", "@bye\n", "@macro m{a,b}\n\\a\\ \\b\\\n@end macro\n",
	         "@m{x,y}", "\\a\\", "@set v x\n", "@value{v}", "@item ", "@tab ", "index",
	         // The shapes of commands that the document defines.
	         "@linemacro l {a, b}\n\\a\\ \\b\\\n@end linemacro\n", "@l x {y z} w\n", "@\n",
	         "@unmacro m\n", "@alias a = m\n", "@alias b = code\n", "@a{x}", "=",
	         "@definfoenclose e, <, >\n", "@e{x}", "@ifcommanddefined m\n", "@U{e9}",
	         "@inlinefmtifelse{info, a, b}", "@inlineifset{v, x}", "@errormsg{x}",
	         // Rows held until they end, displays in cells and in examples,
	         // notes, and the text that code writes as typed.
	         "@multitable @columnfractions .5 .5\n", "@item\n@example\n", "@end example\n@tab ",
	         "@verbatim\n", "\n@end verbatim\n", "\t", "@quotation x\n", "@group\n", "@footnote{",
	         "``", "''", ".", "_\n", "T{", "@sc{", "@samp{.}", "@xref{a,,, f, M}", "@uref{u, t}",
	         "@enumerate 3\n"})
		entry(s);
	for (int i = names; i < argc; i++) {
		entry(std::string("@include ") + argv[i] + "\n");
		entry(std::string("@verbatiminclude ") + argv[i] + "\n");
	}
	return std::fclose(stdout) == 0 ? 0 : 1;
}
