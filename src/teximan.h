// The converter's shared state, command identifiers and the operations that
// every subsystem uses.  One texistate exists per run; it is the first
// argument of every operation and is never copied.
#pragma once

#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#if defined(__GNUC__)
#define TEXI_PRINTF(a, b) __attribute__((format(printf, a, b)))
#else
#define TEXI_PRINTF(a, b)
#endif

// ---------------------------------------------------------------------------
// Command identifiers: the row of each command in cmdtable.  Handlers that
// serve several commands compare, range over and index by these values, so
// the order is fixed.

enum cmdid : unsigned {
	CMD_afourpaper, CMD_AA, CMD_aa, CMD_acronym, CMD_ACUTE,
	CMD_AE, CMD_ae, CMD_anchor, CMD_appendix, CMD_appendixsec,
	CMD_appendixsubsec, CMD_appendixsubsubsec, CMD_asis, CMD_ASTERISK, CMD_AT,
	CMD_author, CMD_b, CMD_EXCLAM, CMD_bullet, CMD_bye,
	CMD_cartouche, CMD_CEDILLA, CMD_center, CMD_chapter, CMD_cindex,
	CMD_CIRCUMFLEX, CMD_cite, CMD_clear, CMD_code, CMD_COLON,
	CMD_columnfractions, CMD_comma, CMD_command, CMD_c, CMD_comment,
	CMD_contents, CMD_copying, CMD_copyright, CMD_defcodeindex, CMD_deffn,
	CMD_deffnx, CMD_defindex, CMD_defmac, CMD_defmacx, CMD_deftp,
	CMD_deftpx, CMD_deftypefn, CMD_deftypefnx, CMD_deftypefun, CMD_deftypefunx,
	CMD_deftypemethod, CMD_deftypemethodx, CMD_deftypevar, CMD_deftypevarx, CMD_deftypevr,
	CMD_deftypevrx, CMD_defun, CMD_defunx, CMD_defvar, CMD_defvarx,
	CMD_defvr, CMD_defvrx, CMD_detailmenu, CMD_dfn, CMD_DH,
	CMD_dh, CMD_dircategory, CMD_direntry, CMD_display, CMD_dmn,
	CMD_documentdescription, CMD_documentencoding, CMD_documentlanguage, CMD_dotaccent, CMD_dotless,
	CMD_dots, CMD_email, CMD_emph, CMD_end, CMD_enddots,
	CMD_enumerate, CMD_env, CMD_equiv, CMD_error, CMD_euro,
	CMD_example, CMD_exclamdown, CMD_exdent, CMD_expansion, CMD_file,
	CMD_finalout, CMD_findex, CMD_flushleft, CMD_flushright, CMD_firstparagraphindent,
	CMD_footnote, CMD_footnotestyle, CMD_ftable, CMD_format, CMD_geq,
	CMD_GRAVE, CMD_group, CMD_guillemetleft, CMD_guillemetright, CMD_guillemotleft,
	CMD_guillemotright, CMD_guilsinglleft, CMD_guilsinglright, CMD_H, CMD_heading,
	CMD_headings, CMD_headitem, CMD_html, CMD_HYPHEN, CMD_i,
	CMD_ifclear, CMD_ifdocbook, CMD_ifhtml, CMD_ifinfo, CMD_ifnotdocbook,
	CMD_ifnothtml, CMD_ifnotinfo, CMD_ifnotplaintext, CMD_ifnottex, CMD_ifnotxml,
	CMD_ifplaintext, CMD_iftex, CMD_ifset, CMD_ifxml, CMD_ignore,
	CMD_image, CMD_include, CMD_indentblock, CMD_indicateurl, CMD_inforef,
	CMD_insertcopying, CMD_item, CMD_itemize, CMD_itemx, CMD_kbd,
	CMD_key, CMD_kindex, CMD_L, CMD_LaTeX, CMD_leq,
	CMD_lowersections, CMD_l, CMD_macro, CMD_MACRON, CMD_math,
	CMD_menu, CMD_minus, CMD_multitable, CMD_need, CMD_NEWLINE,
	CMD_node, CMD_noindent, CMD_O, CMD_OE, CMD_oe,
	CMD_ogonek, CMD_option, CMD_ordf, CMD_ordm, CMD_o,
	CMD_page, CMD_paragraphindent, CMD_PERIOD, CMD_pindex, CMD_pounds,
	CMD_printindex, CMD_pxref, CMD_questiondown, CMD_QUESTION, CMD_quotation,
	CMD_quotedblbase, CMD_quotedblleft, CMD_quotedblright, CMD_quotesinglbase, CMD_quoteleft,
	CMD_quoteright, CMD_r, CMD_raisesections, CMD_ref, CMD_refill,
	CMD_registeredsymbol, CMD_result, CMD_ringaccent, CMD_samp, CMD_sansserif,
	CMD_sc, CMD_section, CMD_set, CMD_setchapternewpage, CMD_setcontentsaftertitlepage,
	CMD_setfilename, CMD_settitle, CMD_shortcontents, CMD_slanted, CMD_SLASH,
	CMD_sp, CMD_SPACE, CMD_smallbook, CMD_smalldisplay, CMD_smallexample,
	CMD_smallformat, CMD_smallindentblock, CMD_LBRACE, CMD_RBRACE, CMD_ss,
	CMD_strong, CMD_subheading, CMD_subsection, CMD_subsubheading, CMD_subsubsection,
	CMD_subtitle, CMD_summarycontents, CMD_synindex, CMD_syncodeindex, CMD_t,
	CMD_tab, CMD_TAB, CMD_table, CMD_tex, CMD_TeX,
	CMD_textdegree, CMD_TH, CMD_th, CMD_tie, CMD_tieaccent,
	CMD_TILDE, CMD_tindex, CMD_title, CMD_titlefont, CMD_titlepage,
	CMD_top, CMD_u, CMD_ubaraccent, CMD_udotaccent, CMD_UMLAUT,
	CMD_unnumbered, CMD_unnumberedsec, CMD_unnumberedsubsec, CMD_unnumberedsubsubsec, CMD_uref,
	CMD_url, CMD_USERINDEX, CMD_v, CMD_value, CMD_var,
	CMD_verb, CMD_verbatim, CMD_verbatiminclude, CMD_vindex, CMD_vskip,
	CMD_vtable, CMD_w, CMD_xref,

	// The commands of today's Texinfo beyond the base rows above.  Blocks:
	CMD_lisp, CMD_smalllisp, CMD_displaymath, CMD_smallquotation, CMD_indentedblock,
	CMD_smallindentedblock, CMD_raggedright, CMD_docbook, CMD_latex, CMD_xml,
	CMD_nodedescriptionblock, CMD_iflatex, CMD_ifnotlatex, CMD_float, CMD_defblock,
	CMD_ifcommanddefined, CMD_ifcommandnotdefined, CMD_rmacro, CMD_linemacro,
	// line commands,
	CMD_appendixsection, CMD_centerchap, CMD_chapheading, CMD_majorheading, CMD_part,
	CMD_defline, CMD_deftypeline, CMD_unmacro, CMD_alias, CMD_definfoenclose,
	CMD_afivepaper, CMD_afourlatex, CMD_afourwide, CMD_bsixpaper, CMD_allowcodebreaks,
	CMD_clickstyle, CMD_codequotebacktick, CMD_codequoteundirected, CMD_deftypefnnewline, CMD_evenfooting,
	CMD_evenfootingmarks, CMD_evenheading, CMD_evenheadingmarks, CMD_everyfooting, CMD_everyfootingmarks,
	CMD_everyheading, CMD_everyheadingmarks, CMD_oddfooting, CMD_oddfootingmarks, CMD_oddheading,
	CMD_oddheadingmarks, CMD_exampleindent, CMD_fonttextsize, CMD_frenchspacing, CMD_kbdinputstyle,
	CMD_microtype, CMD_novalidate, CMD_pagesizes, CMD_urefbreakstyle, CMD_xrefautomaticsectiontitle,
	CMD_shorttitlepage, CMD_listoffloats, CMD_nodedescription, CMD_indent, CMD_subentry,
	CMD_cpindex, CMD_fnindex, CMD_kyindex, CMD_pgindex, CMD_tpindex,
	CMD_vrindex,
	// symbols,
	CMD_print, CMD_point, CMD_arrow, CMD_click, CMD_hashchar,
	CMD_atchar, CMD_lbracechar, CMD_rbracechar, CMD_backslashchar, CMD_ampchar,
	CMD_AMPERSAND, CMD_BACKSLASH, CMD_thischapter, CMD_thischaptername, CMD_thischapternum,
	CMD_thissection, CMD_thissectionname, CMD_thissectionnum, CMD_thisfile, CMD_thispage,
	CMD_thistitle, CMD_today,
	// brace commands,
	CMD_U, CMD_sup, CMD_sub, CMD_abbr, CMD_link,
	CMD_caption, CMD_clicksequence, CMD_headitemfont, CMD_shortcaption, CMD_hyphenation,
	CMD_sortas, CMD_seealso, CMD_seeentry, CMD_errormsg, CMD_inlinefmt,
	CMD_inlinefmtifelse, CMD_inlineraw, CMD_inlineifset, CMD_inlineifclear,
	// and definition commands, each block form followed by its "x" form.
	CMD_defopt, CMD_defoptx, CMD_defspec, CMD_defspecx, CMD_defop,
	CMD_defopx, CMD_deftypeop, CMD_deftypeopx, CMD_defmethod, CMD_defmethodx,
	CMD_defcv, CMD_defcvx, CMD_deftypecv, CMD_deftypecvx, CMD_defivar,
	CMD_defivarx, CMD_deftypeivar, CMD_deftypeivarx,
	// The commands of the manuals that mark program pages, known only
	// inside such a page: the lookup leaves their rows out.
	CMD_gol, CMD_gcctabopt, CMD_gccoptlist,
	CMD_NONE, // one past the last row: nothing to run
};

enum listkind { LIST_NONE, LIST_TAG, LIST_ITEM, LIST_TABLE };

// The labels of a numbered list that starts at another number or at a
// letter, which the page writes itself: the formatter's numbered lists
// count from 1.
struct enumlabels {
	bool on = false; // off: the formatter numbers the items
	char letter = 0; // the start's letter, or 0 for a number
	uint64_t start = 0, items = 0;
};
enum inputkind { INPUT_FILE, INPUT_STDIN };

struct texistate;

// Every handler is entered with the position just past the command name,
// consumes its own arguments, leaves the position where parsing goes on, and
// writes only through the writer.  Handlers that serve several commands tell
// them apart by the identifier.
using cmdhandler = void (*)(texistate *p, cmdid cmd, size_t &pos);

struct cmdentry {
	cmdhandler fn;    // null for @columnfractions alone
	const char *name; // without the "@"
	size_t len;

	template <size_t N>
	constexpr cmdentry(cmdhandler f, const char (&s)[N]) : fn(f), name(s), len(N - 1)
	{
	}
};

extern const cmdentry cmdtable[CMD_NONE];

// Handlers that serve many commands keep their particulars in a constant
// table of rows with a `cmd` field; this index finds a command's row in one
// step (NOROW for commands the table does not hold).
constexpr uint8_t NOROW = UINT8_MAX;

template <typename Row, size_t N>
constexpr std::array<uint8_t, CMD_NONE> rowindex(const Row (&rows)[N])
{
	static_assert(N < NOROW);
	std::array<uint8_t, CMD_NONE> index{};
	index.fill(NOROW);
	for (size_t i = 0; i < N; i++)
		index[rows[i].cmd] = static_cast<uint8_t>(i);
	return index;
}

// ---------------------------------------------------------------------------
// The text of one input.  Positions are logical offsets that never move: an
// expansion inserted at the position makes the text longer after it.  The
// bytes already consumed are not kept (but for the one just before the last
// insertion point), so an insertion reuses the room they leave and costs only
// the inserted bytes, whatever the size of the document.
//
// Physical layout: data[live .. live + (size - origin)) holds the logical
// bytes from offset `origin` on.  Every byte at or after `origin` can be read;
// of the bytes before it only the one at origin - 1 (`before`).

class textbuf {
public:
	textbuf() = default;
	textbuf(const textbuf &) = delete;
	textbuf &operator=(const textbuf &) = delete;
	textbuf(textbuf &&) = default;
	textbuf &operator=(textbuf &&) = default;
	void swap(textbuf &o) noexcept { std::swap(*this, o); }

	// Logical length of the text.
	size_t size() const { return size_; }

	// Pointer to the byte at logical offset pos, which must not lie before
	// the last insertion point; valid until the next insertion.
	const char *at(size_t pos) const
	{
		assert(pos >= origin_);
		return data_.get() + live_ + (pos - origin_);
	}

	// The byte at any offset from origin - 1 on.
	char byte(size_t pos) const { return pos >= origin_ ? *at(pos) : before_; }
	// Whether byte() can read the byte at pos.
	bool kept(size_t pos) const { return pos + 1 >= origin_; }

	// Filling a new text: room for cap bytes (null when memory runs out),
	// then the number of bytes put there.
	char *grow(size_t cap);
	void adopt(size_t size);
	size_t capacity() const { return cap_; }

	// Insert n bytes at logical offset pos (not before the last insertion
	// point).  Returns false when memory runs out.
	bool insert(size_t pos, const char *s, size_t n);

	void release();

private:
	struct freer {
		size_t mapped; // the length of a mapping of its own; 0: from malloc
		void operator()(char *b) const;
	};
	char *resize(size_t cap, size_t keep);

	std::unique_ptr<char[], freer> data_;
	size_t cap_ = 0;    // bytes allocated
	size_t live_ = 0;   // physical offset of logical `origin_`
	size_t origin_ = 0; // last insertion point
	size_t size_ = 0;   // logical size
	char before_ = 0;   // the byte at origin_ - 1
};

// Where the lines of an input put together from pieces of files come from
// (a section of a program's page): from the input's line `line` on, the
// lines of `file` from `fileline` on.  Diagnostics name those places.
struct texiorigin {
	size_t line = 0;
	size_t fileline = 0;
	std::string_view file;
};

// One entry of the input stack.
struct texiinput {
	inputkind kind = INPUT_FILE;
	std::string name; // as opened, or "<stdin>": names the input in diagnostics
	size_t line = 0;  // zero-based line of the position
	size_t col = 0;   // zero-based column: bytes since the last newline
	textbuf text;
	size_t splicerem = 0; // inserted bytes still ahead of the position
	// Null for a file's own text; else the places its lines come from, by
	// line, owned by whoever pushed the input.
	const std::vector<texiorigin> *origins = nullptr;

	// The current expansion run: expansions inserted since a byte of this
	// input's own text was last consumed.  Own bytes are the only ones that
	// move line and col, so a run is identified by where they stand.
	size_t runline = SIZE_MAX, runcol = 0;
	size_t runexpansions = 0, runbytes = 0;
};

// Hash and equality that let string_view probe string-keyed tables without
// building a string.
struct texihash {
	using is_transparent = void;
	size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};
using texiequal = std::equal_to<>;

template <typename T>
using namedmap = std::unordered_map<std::string, T, texihash, texiequal>;
using nameset = std::unordered_set<std::string, texihash, texiequal>;

struct macrodef {
	std::string key;
	std::string value; // the body; ends with a newline unless empty
	std::vector<std::string> args;
	namedmap<size_t> argindex; // each parameter name's first place in args
	bool linemacro = false;    // takes its arguments from the rest of its line
};

// An enclosure command (@definfoenclose): its group between two texts.
struct enclosedef {
	std::string before, after;
};

// What a name defined by @alias or @definfoenclose stands for: a command of
// the table, run with that command's identifier, an enclosure, or a macro as
// it stood when the alias was made (@unmacro does not reach it).
struct aliasdef {
	cmdid cmd = CMD_NONE;
	std::shared_ptr<const enclosedef> enclose;
	std::shared_ptr<const macrodef> macro;
};

// What the lookup found besides a command of the table.
struct cmdtarget {
	const macrodef *macro = nullptr;
	const enclosedef *enclose = nullptr;
};

// A place in an input, as diagnostics show it.
struct texipos {
	size_t line = 0, col = 0, splicerem = 0;
};

// What the scans of @command groups have learnt about one long stretch of an
// input without white space: at marks every GROUPMARK bytes, counted back
// from the end of the input, the number of "}" between the mark and the
// stretch's end that no "{" between them closes.  Counted from the end, a
// mark stays where it is when text is inserted before it, so the commands
// of one stretch together scan it about once.
constexpr size_t GROUPMARK = 64;

struct groupmarks {
	size_t filepos = 0; // the input's place on the stack; 0: no marks
	size_t size = 0;    // the input's length when the marks were last brought up to date
	size_t tail = 0;    // from the stretch's end (a white byte or the input's end) to the input's end
	size_t first = 0;   // the first mark at or before the stretch's end, from the input's end
	size_t top = 0;     // the farthest mark from the input's end that may be read
	std::vector<size_t> unclosed; // by mark, from `first` back
};

// What the scan of an argument list that never closes has learnt about the
// rest of its input, for the lists that begin inside it: at marks every
// ARGMARK bytes, counted back from the end of the input, the brace depth
// there and the lowest depth that the rest of the input reaches, after a
// "}" and at a comma.  A list that is deep enough at a mark neither closes
// nor meets another of its commas before the end of the input, so its scan
// stops there.  Counted from the end, a mark stays where it is when text is
// inserted before it.
constexpr size_t ARGMARK = 256;

struct argmark {
	int64_t depth = 0, low = 0, lowcomma = 0;
	bool paired = false; // the byte at the mark goes with an "@" before it
};

struct argmarks {
	size_t filepos = 0; // the input's place on the stack; 0: no marks
	size_t size = 0;    // the input's length when the marks were made
	std::vector<argmark> at; // at[k]: ARGMARK * (k + 1) bytes from the end
};

// How a run ends from any depth: the converter unwinds to its entry, which
// releases everything and returns the status.
struct texiexit {
	int status;
};

// A place the writer writes into.  The page is written out in large blocks
// as its buffer fills; a held sink (a table row, a footnote's text) grows
// instead, and its bytes go to the page, or to the sink around it, later.
struct outsink {
	struct freer {
		void operator()(char *b) const { std::free(b); }
	};
	std::unique_ptr<char[], freer> buf;
	size_t cap = 0;    // bytes allocated
	size_t len = 0;    // bytes written and not yet passed on
	char last = '\n';  // the last byte written
	bool held = true;  // false for the page alone

	char *data() const { return buf.get(); }
	// Room for cap bytes in all.  The buffer is grown in place where the
	// allocator can, so that a large held row is not briefly held twice.
	void reserve(size_t n)
	{
		if (n <= cap)
			return;
		char *b = static_cast<char *>(std::realloc(buf.get(), n));
		if (b == nullptr)
			throw std::bad_alloc();
		(void)buf.release();
		buf.reset(b);
		cap = n;
	}
};

// A @multitable row being collected.  A row is a list of cells and a cell a
// list of lines, normally one: a display in a cell makes it several.  The
// row's bytes are held in `sink` with a newline between the lines of a
// cell; the cells' tabs are noted where they stand.
struct tablerow {
	outsink sink;              // while the row is collected: the sink around it
	std::vector<size_t> tabs;  // offsets of the tabs that separate its cells
	size_t linestart = 0;      // where the current cell line begins
	size_t linecol = 0;        // the column there
	size_t firstend = 0;       // the column where the current cell's first line ended
	bool cellbroken = false;   // the current cell has more than one line
	bool broken = false;       // some cell of the row has
	bool active = false;       // the writer writes into the row
};

// Footnotes: numbered over the whole document as they are met, their texts
// held until the next heading or the end of the document.
struct notestore {
	size_t count = 0;               // footnotes numbered so far
	size_t first = 1;               // the number of texts[0]
	std::vector<std::string> texts; // the notes not yet written
	size_t open = 0;                // notes whose text is being collected
};

constexpr size_t MAXINPUTS = 64;
constexpr size_t MAXHANDLERDEPTH = 1000;
constexpr size_t MAXRUNEXPANSIONS = 100000;
constexpr size_t MAXRUNBYTES = 16u << 20;
constexpr size_t WRAPCOLUMN = 73;

// What one program's page (-m) knows of itself, for the macros that name
// the program, other manuals and the page's own subsections.
struct pagecollection;
struct texiprogram {
	std::string_view name, key; // the program's name, and the page's key
	namedmap<std::string> manuals; // NAME(N) in the SEE ALSO section: N by NAME
	std::string infoname;          // the manual that references to other nodes point into
	const pagecollection *pages = nullptr; // what was collected: the page's own nodes
	bool synopsis = false;         // the SYNOPSIS section is being written
	bool seealso = false;          // the SEE ALSO section is
};

// The few rules that differ inside one program's page (-m), read where they
// apply; all off for the whole-manual page.
struct texipolicy {
	// The page's prologue is written before its sections: @top is one
	// more heading.
	bool topheading = false;
	// The page's sections are its frame: no heading is written above this
	// level (1: a subsection).
	int64_t minlevel = 0;
	// The dialect of the manuals that mark pages: @gol, @gcctabopt and
	// @gccoptlist are commands, and a line that starts with an unknown
	// command named "...index" is an index entry, dropped unreported.
	bool pagecommands = false;
	// Text is written word by word so that a formatter's checks find
	// nothing to say: a new sentence starts a text line, a text line ends
	// before it passes 80 bytes, and a paragraph break just before a list,
	// an item, a display or a heading is taken back.
	bool textlines = false;
	// On a macro line, closing punctuation at the end of a word stands
	// apart, each character an argument of its own.
	bool splitpunct = false;
	// The inline commands and the tags of tables write the macros of
	// options, arguments and commands, for this page.
	const texiprogram *page = nullptr;
};

struct texistate {
	texistate() = default;
	texistate(const texistate &) = delete;
	texistate &operator=(const texistate &) = delete;

	texiinput inputs[MAXINPUTS];
	size_t filepos = 0; // open inputs; inputs[filepos - 1] is the innermost
	size_t column = 0;  // characters on the current output line
	std::vector<std::string> incdirs;
	std::string docname;
	std::optional<std::string> doctitle;
	int64_t sectionshift = 0;
	nameset indexnames;
	namedmap<std::optional<std::string>> vars; // a cleared variable holds nullopt
	namedmap<std::shared_ptr<const macrodef>> macros; // first definition of a name wins
	namedmap<aliasdef> aliases;                // and enclosure commands; first wins
	int listkind = LIST_NONE;
	enumlabels enumlabel; // of the innermost list
	int openmacros = 0;
	int pendingspace = 0;
	int parabreak = 0;
	int ignoredepth = 0;
	int literaldepth = 0;
	int openquotes = 0; // quotations whose "Qo" is written and whose "Qc" is owed
	int codedepth = 0;  // groups of code commands open: quotes and punctuation as typed
	int scdepth = 0;    // groups of @sc open: letters in capitals
	cmdid tagformat = CMD_NONE; // the format of the innermost tag table (a program's page)
	// The bytes a program's page may still read ahead of the parser to find
	// where the groups of its inline commands end.  Each read is bounded,
	// but expansions can put any number of long unbalanced groups in a row:
	// the reads together stay in proportion to the page's text.
	size_t rawahead = size_t{64} << 20;

	size_t handlerdepth = 0; // handler calls made by the dispatch, still active
	bool topseen = false;    // @top has switched the output on
	texipos cmdat;           // where the "@" of the command last dispatched stands
	groupmarks cmdgroups;
	texipolicy policy;
	argmarks listargs;

	// The time of the run, read once: the page's date and @today.
	std::time_t runtime = 0;
	bool runutc = false; // given by the environment, and read as UTC

	// Where the writer writes: the page, or a buffer held back (a table
	// row, a footnote's text) while a sinkscope lasts.
	outsink out{{}, 0, 0, '\n', false};
	tablerow *row = nullptr; // the row of the innermost table being written
	notestore notes;
	int outfd = 1;
	std::string *outcapture = nullptr; // when set, output is appended here
	int outerrno = 0;                  // the first failed write, once there is one
	std::FILE *errf = stderr;          // diagnostics; null discards them
};

// ---------------------------------------------------------------------------
// Byte classes.

inline bool letterbyte(unsigned char c) { return static_cast<unsigned char>((c | 0x20) - 'a') < 26; }
inline bool blankbyte(char c) { return c == ' ' || c == '\t'; }
inline bool whitebyte(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// s without the spaces and tabs around it.
inline std::string_view trimblanks(std::string_view s)
{
	while (!s.empty() && blankbyte(s.front()))
		s.remove_prefix(1);
	while (!s.empty() && blankbyte(s.back()))
		s.remove_suffix(1);
	return s;
}

// ---------------------------------------------------------------------------
// Running the converter.  main parses the command line and calls texiconvert,
// which returns the exit status: 0 after @bye (or, for one program's page,
// once the page is written), 1 otherwise.

struct texioptions {
	const char *file = nullptr;    // the document, or null to read standard input
	const char *incdirs = nullptr; // the -I list, colon-separated, or null
	int infd = 0;                  // standard input
	const std::string_view *indata = nullptr; // stands in for standard input
	int outfd = 1;
	bool closeout = true;              // close outfd at the end and check it
	std::string *outcapture = nullptr; // collect the page here instead of outfd
	std::FILE *errf = stderr;          // null discards diagnostics
	const char *sourcedate = nullptr;  // SOURCE_DATE_EPOCH, when it is set

	// One program's page from the manual's "@c man" ranges, or the list of
	// its pages.  The values are checked by the converter, in this order.
	const char *prog = "teximan";      // the display name, for those checks
	const char *page = nullptr;        // -m: the page key
	std::vector<const char *> defines; // -D name[=value], in order
	const char *name = nullptr;        // -n: the program's name, if not the key
	const char *release = nullptr;     // -r
	const char *section = nullptr;     // -s; default 1
	bool listpages = false;            // -l
};

int texiconvert(const texioptions &opt);
// One program's page (-m) or the list of a manual's pages (-l): the options'
// values checked before anything else, then the run, which ends by
// returning (the page written) or by a texiexit.
void texipageoptions(texistate *p, const texioptions &opt);
void texipage(texistate *p, const texioptions &opt);

// ---------------------------------------------------------------------------
// Input stack, positions and diagnostics.

inline texiinput &TOP(texistate *p) { return p->inputs[p->filepos - 1]; }
inline size_t BUFSZ(texistate *p) { return TOP(p).text.size(); }
// The byte at pos, which must be below BUFSZ.
inline char BUF(texistate *p, size_t pos) { return TOP(p).text.byte(pos); }

// Past n bytes of in that hold no newline: inserted bytes ahead are counted
// down, and only the column moves.
inline void pastword(texiinput &in, size_t &pos, size_t n)
{
	if (in.splicerem >= n)
		in.splicerem -= n;
	else {
		in.col += n - in.splicerem;
		in.splicerem = 0;
	}
	pos += n;
}
// A pointer for scanning forward from pos; valid until text is inserted.
inline const char *BUFAT(texistate *p, size_t pos) { return TOP(p).text.at(pos); }

std::vector<std::string> makeincdirs(const char *dir, const char *list);
// Reads the whole file at path into text: 0, or the errno of the failure,
// with `named` false when the failure is not the file's (memory).
int texireadfile(const char *path, textbuf &text, bool &named);
void loadfile(texistate *p, const char *path, int parse);
// Reads all of standard input (or the bytes standing in for it) as input 0.
void readstdin(texistate *p, int fd, const std::string_view *data);
void parsestdin(texistate *p, int fd, const std::string_view *data);
void texifilepop(texistate *p);
void texifree(texistate *p);

// Where the position of the innermost input stands, as diagnostics show it.
inline texipos texihere(texistate *p)
{
	const texiinput &in = TOP(p);
	return {in.line, in.col, in.splicerem};
}

// Consumes the byte at pos, which must be below BUFSZ: inserted bytes ahead
// are counted down, the input's own bytes move line and column.
inline void stepone(texistate *p, size_t &pos)
{
	texiinput &in = TOP(p);
	if (in.splicerem)
		in.splicerem--;
	else if (in.text.byte(pos) == '\n') {
		in.line++;
		in.col = 0;
	} else
		in.col++;
	pos++;
}
size_t skiptoeol(texistate *p, size_t &pos, int consumenl);
void advanceto(texistate *p, size_t &pos, size_t end);
void skipblanks(texistate *p, size_t &pos); // spaces and tabs

// The first occurrence of tok in the n bytes at s, or null.  Its cost grows
// with the distance to the match, not with n (even where a sanitizer checks
// the ranges that the C library searches).
const char *texifind(const char *s, size_t n, std::string_view tok);

void texiwarning(texistate *p, const char *fmt, ...) TEXI_PRINTF(2, 3);
// A warning positioned at a place read earlier (a command's "@").
void texiwarningat(texistate *p, const texipos &at, const char *fmt, ...) TEXI_PRINTF(3, 4);
// A warning at a place of a file that need not be open any more.
void texiwarningin(texistate *p, std::string_view file, const texipos &at, const char *fmt, ...)
    TEXI_PRINTF(4, 5);
// The time of the run broken down, as UTC or local time; false when the C
// library cannot.
bool texitime(texistate *p, std::tm &tm);
[[noreturn]] void texierror(texistate *p, const char *fmt, ...) TEXI_PRINTF(2, 3);
[[noreturn]] void texisyserr(texistate *p, const char *text);

// ---------------------------------------------------------------------------
// The mdoc writer and text flow.  Nothing is written while ignoredepth is
// not zero.

void outflush(texistate *p);
void outchar(texistate *p, char c);
void outstr(texistate *p, const char *s);
void outrange(texistate *p, size_t start, size_t end);
void outtext(texistate *p, const char *s, size_t n); // as outchar for each byte
void outmacroopen(texistate *p, const char *name);
// A line macro with its arguments written as they stand, nothing owed
// after them; closed by outmacroclose.
void outmacroargs(texistate *p, std::string_view args);
void outmacroclose(texistate *p);
// The line of an inline macro just closed, opened again to go on (a held
// place only); false where the last line is no such line.
bool outreopen(texistate *p);
void outblockmacro(texistate *p, const char *text);
void outparagraph(texistate *p);
void outtrailpunct(texistate *p, size_t &pos);
void outowedspace(texistate *p, char next = 0);
void outendline(texistate *p); // even while output is suppressed
size_t skipwhitespace(texistate *p, size_t &pos);
// Every parse loop looks for white space before each element, and most
// elements have none before them; most of the rest have one space, which
// owes the element a space and moves only the column.
inline size_t skipspace(texistate *p, size_t &pos)
{
	texiinput &in = TOP(p);
	const size_t size = in.text.size();
	if (pos >= size)
		return pos;
	const char *s = in.text.at(pos);
	if (!whitebyte(*s))
		return pos;
	if (*s == ' ' && size - pos > 1 && !whitebyte(s[1]) && !p->literaldepth) {
		p->pendingspace = 1;
		if (in.splicerem)
			in.splicerem--;
		else
			in.col++;
		return ++pos;
	}
	return skipwhitespace(p, pos);
}
void emitword(texistate *p, size_t &pos, char delim);
void outword(texistate *p, std::string_view w);
size_t simplegroup(texistate *p, size_t pos);	     // words in braces written as they stand
bool simplewrite(texistate *p, size_t &pos, size_t n); // such a group, on the open macro line
void textrun(texistate *p, size_t &pos);    // filled text, output live
void textline(texistate *p, size_t &pos);   // the same, up to the end of the line
void literalrun(texistate *p, size_t &pos); // literal text, output live, no line macro open

// Held places.  A table row is collected from rowbegin to rowend and then
// passed to the sink around it; outcellsep separates its cells.
void rowbegin(texistate *p, tablerow &r);
void rowend(texistate *p, tablerow &r);
void rownext(texistate *p); // @item: the row ends, the next begins
void outcellsep(texistate *p);
// Writes bytes already in mdoc form, held earlier (a note's text).
void outheld(texistate *p, const char *s, size_t n);

// The flow of text where the writer writes: what a fresh place (a
// footnote's text, a section of a program page) starts without, and what
// the place around it gets back afterwards.
struct flowstate {
	size_t column;
	int listkind, openmacros, pendingspace, parabreak, literaldepth, openquotes, codedepth, scdepth;
	tablerow *row;
};

// Switches the writer to a held sink for the scope's life; the sink then
// holds what was written.  A fresh flow starts at column 0 with nothing
// open or owed and a paragraph break just written.
class sinkscope {
public:
	sinkscope(texistate *p, outsink &sink, bool fresh);
	~sinkscope();
	sinkscope(const sinkscope &) = delete;
	sinkscope &operator=(const sinkscope &) = delete;

private:
	texistate *p_;
	outsink &sink_;
	bool fresh_;
	flowstate saved_{};
};

// ---------------------------------------------------------------------------
// Command lookup, dispatch and the parse loops.

cmdid texicmd(texistate *p, size_t pos, size_t &end, cmdtarget *target);
// What a whole name stands for, in the lookup's order, without a warning:
// CMD_NONE with no target when nothing.
cmdid texilookup(texistate *p, std::string_view name, cmdtarget &target);
void texirun(texistate *p, cmdid cmd, const cmdtarget &target, size_t &pos);
void texidispatch(texistate *p, size_t &pos);
void parseelement(texistate *p, size_t &pos);
void parseinput(texistate *p);
void parsegroup(texistate *p, size_t &pos);
void parsegroupbody(texistate *p, size_t &pos);
void parserestofline(texistate *p, size_t &pos);
int parselinetoken(texistate *p, size_t &pos);
void parseto(texistate *p, size_t &pos, const char *endtok);
// A block body processed as ordinary input; openline: the rest of the
// block's command line is still ahead.
void parseblock(texistate *p, size_t &pos, const char *endtok, bool openline);
void skipblockline(texistate *p, size_t &pos);
void skipendline(texistate *p, size_t &pos);
int parsenextarg(texistate *p, size_t &pos, int started);

// ---------------------------------------------------------------------------
// Macros, variables and conditionals.

void texiexecmacro(texistate *p, const macrodef &m, size_t &pos);
void doenclose(texistate *p, const enclosedef &e, size_t &pos);
void texisplice(texistate *p, const char *s, size_t n, size_t &pos);
std::vector<std::string> argparse(texistate *p, size_t &pos, size_t &count, size_t nparams);
void valueadd(texistate *p, std::string key, std::string val);
std::optional<std::string> *valuelquery(texistate *p, size_t &pos);
const std::string *valuelfetch(texistate *p, size_t &pos);
void valuelremove(texistate *p, size_t &pos);
const std::string *valueblookup(texistate *p, size_t &pos);

// ---------------------------------------------------------------------------
// Handlers, by family.

// Lifecycle and generic handlers.
void dofinish(texistate *, cmdid, size_t &);
void doskipline(texistate *, cmdid, size_t &);
void dolinetext(texistate *, cmdid, size_t &);
void doskipgroup(texistate *, cmdid, size_t &);
void doplaingroup(texistate *, cmdid, size_t &);
void dostrayend(texistate *, cmdid, size_t &);

// Macros, variables, conditionals and index names.
void domacro(texistate *, cmdid, size_t &);
void dotransparent(texistate *, cmdid, size_t &);
void dovariable(texistate *, cmdid, size_t &);
void doignblock(texistate *, cmdid, size_t &);
void doindexdefine(texistate *, cmdid, size_t &);
void dolineignblock(texistate *, cmdid, size_t &);
void doifcommand(texistate *, cmdid, size_t &);
void dounmacro(texistate *, cmdid, size_t &);
void doalias(texistate *, cmdid, size_t &);
void dodefinfoenclose(texistate *, cmdid, size_t &);

// Prologue and sectioning.
void dochapter(texistate *, cmdid, size_t &);
void dosubsect(texistate *, cmdid, size_t &);
void dosubsubsect(texistate *, cmdid, size_t &);
void doshiftsections(texistate *, cmdid, size_t &);
void dodoctitle(texistate *, cmdid, size_t &);
void dotopnode(texistate *, cmdid, size_t &);

// Lists and tables.
void doenumlist(texistate *, cmdid, size_t &);
void dotaglist(texistate *, cmdid, size_t &);
void dolistitem(texistate *, cmdid, size_t &);
void dobulletlist(texistate *, cmdid, size_t &);
void docolumntable(texistate *, cmdid, size_t &);
void docolumntab(texistate *, cmdid, size_t &);

// Displays and literal blocks.
void dofilled(texistate *, cmdid, size_t &);
void doexampleblock(texistate *, cmdid, size_t &);
void doquoteblock(texistate *, cmdid, size_t &);
void closequotations(texistate *p); // before a list or heading
void dovertspace(texistate *, cmdid, size_t &);
void doverbatim(texistate *, cmdid, size_t &);
void dofloat(texistate *, cmdid, size_t &);

// Footnotes.
void dofootnote(texistate *, cmdid, size_t &);
void flushnotes(texistate *p); // before a heading
void endnotes(texistate *p);   // at the end of the document

// Inline markup and references.
void doacronym(texistate *, cmdid, size_t &);
void dofont(texistate *, cmdid, size_t &);
void doreference(texistate *, cmdid, size_t &);
void domath(texistate *, cmdid, size_t &);
void doverb(texistate *, cmdid, size_t &);
void dounicode(texistate *, cmdid, size_t &);
void dosupsub(texistate *, cmdid, size_t &);
void doerrormsg(texistate *, cmdid, size_t &);
void dosmallcaps(texistate *, cmdid, size_t &);
void doinlinecond(texistate *, cmdid, size_t &);
// Whether the braced group that follows pos (after white space) holds a
// space, tab or newline before the "}" that balances its "{".
bool groupholdswhite(texistate *p, size_t pos);

// The commands of a program's page alone, and what its inline commands and
// tag tables write there (policy.page set).
void dogol(texistate *, cmdid, size_t &);
void dogccoptlist(texistate *, cmdid, size_t &);
void pagefont(texistate *p, cmdid cmd, size_t &pos);
// A cross reference (@xref, @pxref, @ref, @inforef): false for the others,
// which a program's page writes as the whole-manual page does.
bool pagereference(texistate *p, cmdid cmd, size_t &pos);
// The command that follows a table's command at pos, its format.
cmdid pagetagformat(texistate *p, size_t pos);
// An item of a tag table: its tag and those of the @itemx lines right
// after it, on one "It" line.
void pageitem(texistate *p, size_t &pos);

// Glyphs and accents.
void doglyph(texistate *, cmdid, size_t &);
void dodiacritic(texistate *, cmdid, size_t &);
void dotoday(texistate *, cmdid, size_t &);
void donothing(texistate *, cmdid, size_t &);

// Definitions.
void dodefinition(texistate *, cmdid, size_t &);
void dodefblock(texistate *, cmdid, size_t &);

// File inclusion.
// Reads the name of an @include line from pos and finds its file: the path,
// or an empty path and the message the include would fail with.
std::string texiincludepath(texistate *p, size_t &pos, std::string &err);
void doincludefile(texistate *, cmdid, size_t &);
void doverbatimfile(texistate *, cmdid, size_t &);
