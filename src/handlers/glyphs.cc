// Symbols and accented letters, written as roff special-character escapes
// or plain characters.  What each command writes is data, in the tables
// below.

#include <array>
#include <cassert>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <iterator>
#include <string_view>

#include "../teximan.h"

namespace {

// How a symbol is written: a ready-made escape goes out unchanged, a plain
// character through the escaping of text, and some commands write nothing.
enum glyphhow : uint8_t { GLYPH_NONE, GLYPH_CHAR, GLYPH_STR };

struct glyphrow {
	cmdid cmd;
	glyphhow how;
	const char *text; // GLYPH_CHAR: its first byte
};

constexpr glyphrow glyphs[] = {
	{CMD_AA, GLYPH_STR, "\\(oA"},
	{CMD_aa, GLYPH_STR, "\\(oa"},
	{CMD_AE, GLYPH_STR, "\\(AE"},
	{CMD_ae, GLYPH_STR, "\\(ae"},
	{CMD_ASTERISK, GLYPH_CHAR, " "},
	{CMD_AT, GLYPH_CHAR, "@"},
	{CMD_EXCLAM, GLYPH_CHAR, "!"},
	{CMD_bullet, GLYPH_STR, "\\(bu"},
	{CMD_COLON, GLYPH_NONE, ""},
	{CMD_comma, GLYPH_CHAR, ","},
	{CMD_copyright, GLYPH_STR, "\\(co"},
	{CMD_DH, GLYPH_STR, "\\(-D"},
	{CMD_dh, GLYPH_STR, "\\(Sd"},
	{CMD_dots, GLYPH_STR, "..."},
	{CMD_enddots, GLYPH_STR, "..."},
	{CMD_equiv, GLYPH_STR, "\\(=="},
	{CMD_error, GLYPH_STR, "error\\(->"},
	{CMD_euro, GLYPH_STR, "\\(Eu"},
	{CMD_exclamdown, GLYPH_STR, "\\(r!"},
	{CMD_expansion, GLYPH_STR, "\\(->"},
	{CMD_geq, GLYPH_STR, "\\(>="},
	{CMD_guillemetleft, GLYPH_STR, "\\(Fo"},
	{CMD_guillemetright, GLYPH_STR, "\\(Fc"},
	{CMD_guillemotleft, GLYPH_STR, "\\(Fo"},
	{CMD_guillemotright, GLYPH_STR, "\\(Fc"},
	{CMD_guilsinglleft, GLYPH_STR, "\\(fo"},
	{CMD_guilsinglright, GLYPH_STR, "\\(fc"},
	{CMD_HYPHEN, GLYPH_NONE, ""},
	{CMD_L, GLYPH_STR, "\\(/L"},
	{CMD_LaTeX, GLYPH_STR, "LaTeX"},
	{CMD_leq, GLYPH_STR, "\\(<="},
	{CMD_l, GLYPH_STR, "\\(/l"},
	{CMD_minus, GLYPH_STR, "\\-"},
	{CMD_NEWLINE, GLYPH_CHAR, " "},
	{CMD_O, GLYPH_STR, "\\(/O"},
	{CMD_OE, GLYPH_STR, "\\(OE"},
	{CMD_oe, GLYPH_STR, "\\(oe"},
	{CMD_ordf, GLYPH_STR, "a"},
	{CMD_ordm, GLYPH_STR, "o"},
	{CMD_o, GLYPH_STR, "\\(/o"},
	{CMD_PERIOD, GLYPH_CHAR, "."},
	{CMD_pounds, GLYPH_STR, "\\(Po"},
	{CMD_questiondown, GLYPH_STR, "\\(r?"},
	{CMD_QUESTION, GLYPH_CHAR, "?"},
	{CMD_quotedblbase, GLYPH_STR, "\\(Bq"},
	{CMD_quotedblleft, GLYPH_STR, "\\(lq"},
	{CMD_quotedblright, GLYPH_STR, "\\(rq"},
	{CMD_quotesinglbase, GLYPH_STR, "\\(bq"},
	{CMD_quoteleft, GLYPH_STR, "\\(oq"},
	{CMD_quoteright, GLYPH_STR, "\\(cq"},
	{CMD_registeredsymbol, GLYPH_STR, "\\(rg"},
	{CMD_result, GLYPH_STR, "\\(rA"},
	{CMD_SLASH, GLYPH_CHAR, "/"},
	{CMD_SPACE, GLYPH_CHAR, " "},
	{CMD_LBRACE, GLYPH_STR, "{"},
	{CMD_RBRACE, GLYPH_STR, "}"},
	{CMD_ss, GLYPH_STR, "\\(ss"},
	{CMD_TAB, GLYPH_CHAR, " "},
	{CMD_TeX, GLYPH_STR, "TeX"},
	{CMD_textdegree, GLYPH_STR, "\\(de"},
	{CMD_TH, GLYPH_STR, "\\(TP"},
	{CMD_th, GLYPH_STR, "\\(Tp"},
	{CMD_tie, GLYPH_STR, "\\ "},
	{CMD_print, GLYPH_STR, "\\-|"},
	{CMD_point, GLYPH_STR, "\\-!\\-"},
	{CMD_arrow, GLYPH_STR, "\\(->"},
	{CMD_click, GLYPH_STR, "\\(->"},
	{CMD_hashchar, GLYPH_CHAR, "#"},
	{CMD_atchar, GLYPH_CHAR, "@"},
	{CMD_lbracechar, GLYPH_CHAR, "{"},
	{CMD_rbracechar, GLYPH_CHAR, "}"},
	{CMD_backslashchar, GLYPH_CHAR, "\\"},
	{CMD_ampchar, GLYPH_CHAR, "&"},
	{CMD_AMPERSAND, GLYPH_CHAR, "&"},
	{CMD_BACKSLASH, GLYPH_CHAR, "\\"},
};

// An accent command: the letters that have an accented glyph of their own
// (none: every byte is taken, and no escape is written), the escape written
// before such a letter, and a mark written when the command is done.
struct accentrow {
	cmdid cmd;
	const char *letters; // null: any byte, no escape
	const char *escape;
	char after; // 0: nothing
};

constexpr const char VOWELS[] = "AEIOUaeiou";

constexpr accentrow accents[] = {
	{CMD_ACUTE, VOWELS, "\\('", 0},
	{CMD_CEDILLA, "Cc", "\\(,", 0},
	{CMD_CIRCUMFLEX, VOWELS, "\\(^", 0},
	{CMD_dotaccent, nullptr, nullptr, '*'},
	{CMD_dotless, "ij", "\\(.", 0},
	{CMD_GRAVE, VOWELS, "\\(`", 0},
	{CMD_H, nullptr, nullptr, 0},
	{CMD_MACRON, nullptr, nullptr, 0},
	{CMD_ogonek, nullptr, nullptr, 0},
	{CMD_ringaccent, nullptr, nullptr, 0},
	{CMD_tieaccent, nullptr, nullptr, ']'},
	{CMD_TILDE, "ANOano", "\\(~", 0},
	{CMD_u, nullptr, nullptr, 0},
	{CMD_ubaraccent, nullptr, nullptr, 0},
	{CMD_udotaccent, nullptr, nullptr, 0},
	{CMD_UMLAUT, "AEIOUaeiouy", "\\(:", 0},
	{CMD_v, nullptr, nullptr, 0},
};

constexpr auto glyphindex = rowindex(glyphs);
constexpr auto accentindex = rowindex(accents);

constexpr std::string_view glyphtext(cmdid cmd) { return glyphs[glyphindex[cmd]].text; }

static_assert(std::size(glyphs) == 75 && std::size(accents) == 17);
static_assert(glyphtext(CMD_tie) == "\\ " && glyphtext(CMD_error) == "error\\(->");
static_assert(glyphtext(CMD_print) == "\\-|" && glyphs[glyphindex[CMD_backslashchar]].how == GLYPH_CHAR);
static_assert(glyphs[glyphindex[CMD_COLON]].how == GLYPH_NONE && glyphs[glyphindex[CMD_HYPHEN]].how == GLYPH_NONE);
static_assert(glyphs[glyphindex[CMD_ASTERISK]].how == GLYPH_CHAR && glyphtext(CMD_ASTERISK) == " ");
static_assert(std::string_view(accents[accentindex[CMD_UMLAUT]].letters).find('y') != std::string_view::npos);
static_assert(accents[accentindex[CMD_dotaccent]].after == '*' && accents[accentindex[CMD_tieaccent]].after == ']');

// Command names that begin with a letter end at white space, so blanks after
// them separate the name from what follows rather than being text.
bool alphaname(cmdid cmd)
{
	return letterbyte(static_cast<unsigned char>(cmdtable[cmd].name[0]));
}

// After an alphabetic name, the empty braces of @dots{} are consumed;
// anything inside them is parsed unwritten.
void emptybraces(texistate *p, cmdid cmd, size_t &pos)
{
	if (alphaname(cmd)) {
		p->ignoredepth++;
		parsegroup(p, pos);
		p->ignoredepth--;
	}
}

} // namespace

// A symbol command writes its glyph, then takes its empty braces.
void doglyph(texistate *p, cmdid cmd, size_t &pos)
{
	assert(glyphindex[cmd] != NOROW);
	const glyphrow &g = glyphs[glyphindex[cmd]];
	outowedspace(p);
	if (g.how == GLYPH_STR)
		outstr(p, g.text);
	else if (g.how == GLYPH_CHAR)
		outchar(p, g.text[0]);
	emptybraces(p, cmd, pos);
}

// An accent command takes one letter, braced or not.  A letter with an
// accented glyph of its own gets the escape for it; any other is written
// bare.  In the braced form the rest of the group is copied unparsed.
void dodiacritic(texistate *p, cmdid cmd, size_t &pos)
{
	assert(accentindex[cmd] != NOROW);
	const accentrow &a = accents[accentindex[cmd]];
	if (pos >= BUFSZ(p)) {
		texiwarning(p, "truncated: @%s", cmdtable[cmd].name);
		return;
	}
	outowedspace(p);
	bool braced = BUF(p, pos) == '{';
	if (braced)
		stepone(p, pos);
	else if (alphaname(cmd))
		skipblanks(p, pos);
	if (pos >= BUFSZ(p)) {
		texiwarning(p, "truncated: @%s", cmdtable[cmd].name);
		return;
	}

	// A NUL byte is a byte like any other, in no letter set.
	char letter = BUF(p, pos);
	if (a.letters != nullptr) {
		if (std::string_view(a.letters).find(letter) != std::string_view::npos)
			outstr(p, a.escape);
		else
			texiwarning(p, "ignoring accent");
	}
	outchar(p, letter);
	stepone(p, pos);

	if (braced) {
		while (pos < BUFSZ(p) && BUF(p, pos) != '}') {
			outchar(p, BUF(p, pos));
			stepone(p, pos);
		}
		if (pos < BUFSZ(p))
			stepone(p, pos);
	}
	if (a.after != 0)
		outchar(p, a.after);
}

// The names of page headings and running heads (@thischapter, @thisfile,
// ...) have no place in a page: they write nothing, owe nothing and take no
// braces.
void donothing(texistate *, cmdid, size_t &)
{
}

// @today{}: the date of the run, as "December 10, 2026".
void dotoday(texistate *p, cmdid cmd, size_t &pos)
{
	static constexpr const char *months[] = {"January", "February", "March", "April", "May",
	    "June", "July", "August", "September", "October", "November", "December"};
	outowedspace(p);
	std::tm tm{};
	char year[32];
	if (texitime(p, tm) && tm.tm_mon >= 0 && tm.tm_mon < 12 && std::strftime(year, sizeof(year), "%Y", &tm) != 0) {
		char date[64];
		std::snprintf(date, sizeof(date), "%s %d, %s", months[tm.tm_mon], tm.tm_mday, year);
		outstr(p, date);
	}
	emptybraces(p, cmd, pos);
}
