// One program's page (-m): what its collection, its SYNOPSIS grammar and its
// driver share.
//
// The manual marks the parts of a program's page with "@c man begin SECTION
// [KEY]" ... "@c man end" ranges and names the page with "@c man title KEY
// DESCRIPTION".  The collection reads the document as lines, without parsing
// it, and gathers the lines of the page's ranges by section name; the driver
// then parses each section's lines as one input, in the order of a manual
// page, with the parse loops and handlers of the whole-manual page.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "../teximan.h"

// A place in a file read by the collection.
struct pageplace {
	std::string_view file;
	size_t line = 0, col = 0; // zero-based, as in texipos
};

// The lines of one section name: those of all its kept ranges, in document
// order, each with the place it was read from.
struct pagebuffer {
	std::string name;
	std::string text; // whole lines, each ending in a newline
	size_t lines = 0;
	std::vector<texiorigin> origins;
	struct range {
		size_t line;  // its first line in the buffer
		size_t order; // its place among the kept ranges of the document
	};
	std::vector<range> ranges;
};

// The text of a line kept for what it says (a title's description, the
// manual's title and file name), from `at` to the end of the line.
struct pageline {
	std::string text;
	pageplace at;
};

// A node of the page: its heading is one of the page's subsections.
struct pagenode {
	std::string heading; // the heading's text, as written
	pageplace at;
};

struct pagecollection {
	std::deque<std::string> files;   // the names of the files read; origins view them
	std::vector<pagebuffer> buffers; // in order of their first kept range
	std::vector<std::string> titles; // the keys of the title lines, each once, in order
	std::optional<pageline> desc;    // of the page's last title line
	std::optional<pageline> settitle, setfilename; // the last of each
	bool kept = false;               // some range was kept
	namedmap<pagenode> nodes;        // by node name
};

// Reads the document, the innermost input, as lines: the ranges of the page
// `key` (null: of no page; only those without a key are kept), the title
// lines, the variables set and cleared, and the files included in kept
// ranges.  Its warnings are given as it reads.
void pagecollect(texistate *p, pagecollection &c, const char *key);
const pagebuffer *pagefind(const pagecollection &c, std::string_view name);
// The section names a page knows: those it writes, and INCLUDE, NAME and
// TARGET, which it reads for other parts.
bool pageknownsection(std::string_view name);

// The heading commands that a page writes as subsections.
bool pagesubsection(std::string_view command);
// A line whose first word is an index entry command (@cindex, @opindex ...).
bool pageindexline(std::string_view line);

// Parses text as an input of its own whose lines come from `origins`, its
// first byte standing at column col of its line.
void pageparse(texistate *p, std::string_view text, const std::vector<texiorigin> &origins, size_t col);

// ---------------------------------------------------------------------------
// The option grammar of SYNOPSIS lines, also read by option tags and option
// lists.  A form is read as tokens; each run of tokens without white space
// between them (outside brackets) becomes one macro line.

enum formkind : uint8_t {
	FORM_OPEN,     // "["
	FORM_CLOSE,    // "]"
	FORM_BAR,      // "|"
	FORM_ELLIPSIS, // "..." or @dots{}
	FORM_PUNCT,    // closing punctuation after a token, before a blank
	FORM_NM,       // the program's name
	FORM_FL,       // words by their macro
	FORM_CM,
	FORM_AR,
	FORM_NO,
};

struct formtoken {
	formkind kind;
	bool white;  // white space stood before it
	size_t at;   // the offset of its first byte in the form's text
	std::string word;
};

// How bare words are read: a named form begins with the program's name; in
// an unnamed form every word is classified alike; in flag context (option
// tags, the words of @option) a bare word is a flag or a modifier.
enum formcontext { FORMNAMED, FORMUNNAMED, FORMFLAGS };

// Reads a form's text as tokens.  False when it holds a command the grammar
// does not know: `refused` is then the offset of its "@" and cmd its name.
bool formtokens(std::string_view text, formcontext ctx, std::vector<formtoken> &toks, size_t &refused,
    std::string &cmd);
// Matches the brackets: an unmatched "]" becomes text (its offset added to
// `unmatched`), and brackets still open at the end are closed there (true).
bool formbrackets(std::vector<formtoken> &toks, std::vector<size_t> &unmatched);
// Appends the macro line arguments of toks[b, e) to line: macros and words
// with one space between them, "Ns" where no white space stood, "\&" before
// a word the formatter would read as punctuation or as a macro.
void formargs(std::string &line, const std::vector<formtoken> &toks, size_t b, size_t e);
// The macro lines of a form (without their "."): one for each run, a run
// that is one bracket group as "Op".
std::vector<std::string> formlines(const std::vector<formtoken> &toks);
// The arguments of a form on one macro line, as a tag or an inline option
// holds them: the runs one after the other, brackets always "Oo" and "Oc".
std::string formline(const std::vector<formtoken> &toks);
// Appends a word to a macro line as one argument (or as several, at its
// blanks), escaped and guarded.
void formargument(std::string &line, std::string_view w);
// A line's @value{X} replaced by the value of X, where X is set.
std::string pagevalues(texistate *p, std::string_view l);

// Writes the SYNOPSIS section's body from its buffer and TARGET's (either
// may be null).
void pagesynopsis(texistate *p, const pagebuffer *synopsis, const pagebuffer *target, std::string_view name,
    std::string_view key);
