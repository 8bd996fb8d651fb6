// The command table and the lookup of command names.
//
// The table is constant data, one row per command in identifier order.  The
// lookup built over it at compile time (an open-addressed hash of the names)
// gives exactly what a scan of the rows in order would: names are unique, so
// the first matching row is the only one.

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <bit>
#include <cstring>

#include "teximan.h"

extern constexpr cmdentry cmdtable[CMD_NONE] = {
	{ doskipline,      "afourpaper"           }, // 0
	{ doglyph,         "AA"                   }, // 1
	{ doglyph,         "aa"                   }, // 2
	{ doacronym,       "acronym"              }, // 3
	{ dodiacritic,     "'"                    }, // 4
	{ doglyph,         "AE"                   }, // 5
	{ doglyph,         "ae"                   }, // 6
	{ doskipgroup,     "anchor"               }, // 7
	{ dochapter,       "appendix"             }, // 8
	{ dochapter,       "appendixsec"          }, // 9
	{ dosubsect,       "appendixsubsec"       }, // 10
	{ dosubsubsect,    "appendixsubsubsec"    }, // 11
	{ dofont,          "asis"                 }, // 12
	{ doglyph,         "*"                    }, // 13
	{ doglyph,         "@"                    }, // 14
	{ doskipline,      "author"               }, // 15
	{ dofont,          "b"                    }, // 16
	{ doglyph,         "!"                    }, // 17
	{ doglyph,         "bullet"               }, // 18
	{ dofinish,        "bye"                  }, // 19
	{ dotransparent,   "cartouche"            }, // 20
	{ dodiacritic,     ","                    }, // 21
	{ dolinetext,      "center"               }, // 22
	{ dochapter,       "chapter"              }, // 23
	{ doskipline,      "cindex"               }, // 24
	{ dodiacritic,     "^"                    }, // 25
	{ dofont,          "cite"                 }, // 26
	{ dovariable,      "clear"                }, // 27
	{ dofont,          "code"                 }, // 28
	{ doglyph,         ":"                    }, // 29
	{ nullptr,         "columnfractions"      }, // 30
	{ doglyph,         "comma"                }, // 31
	{ dofont,          "command"              }, // 32
	{ doskipline,      "c"                    }, // 33
	{ doskipline,      "comment"              }, // 34
	{ doskipline,      "contents"             }, // 35
	{ doignblock,      "copying"              }, // 36
	{ doglyph,         "copyright"            }, // 37
	{ doindexdefine,   "defcodeindex"         }, // 38
	{ dodefinition,    "deffn"                }, // 39
	{ dodefinition,    "deffnx"               }, // 40
	{ doindexdefine,   "defindex"             }, // 41
	{ dodefinition,    "defmac"               }, // 42
	{ dodefinition,    "defmacx"              }, // 43
	{ dodefinition,    "deftp"                }, // 44
	{ dodefinition,    "deftpx"               }, // 45
	{ dodefinition,    "deftypefn"            }, // 46
	{ dodefinition,    "deftypefnx"           }, // 47
	{ dodefinition,    "deftypefun"           }, // 48
	{ dodefinition,    "deftypefunx"          }, // 49
	{ dodefinition,    "deftypemethod"        }, // 50
	{ dodefinition,    "deftypemethodx"       }, // 51
	{ dodefinition,    "deftypevar"           }, // 52
	{ dodefinition,    "deftypevarx"          }, // 53
	{ dodefinition,    "deftypevr"            }, // 54
	{ dodefinition,    "deftypevrx"           }, // 55
	{ dodefinition,    "defun"                }, // 56
	{ dodefinition,    "defunx"               }, // 57
	{ dodefinition,    "defvar"               }, // 58
	{ dodefinition,    "defvarx"              }, // 59
	{ dodefinition,    "defvr"                }, // 60
	{ dodefinition,    "defvrx"               }, // 61
	{ doignblock,      "detailmenu"           }, // 62
	{ dofont,          "dfn"                  }, // 63
	{ doglyph,         "DH"                   }, // 64
	{ doglyph,         "dh"                   }, // 65
	{ doskipline,      "dircategory"          }, // 66
	{ doignblock,      "direntry"             }, // 67
	{ dofilled,        "display"              }, // 68
	{ doplaingroup,    "dmn"                  }, // 69
	{ doignblock,      "documentdescription"  }, // 70
	{ doskipline,      "documentencoding"     }, // 71
	{ doskipline,      "documentlanguage"     }, // 72
	{ dodiacritic,     "dotaccent"            }, // 73
	{ dodiacritic,     "dotless"              }, // 74
	{ doglyph,         "dots"                 }, // 75
	{ doreference,     "email"                }, // 76
	{ dofont,          "emph"                 }, // 77
	{ dostrayend,      "end"                  }, // 78
	{ doglyph,         "enddots"              }, // 79
	{ doenumlist,      "enumerate"            }, // 80
	{ dofont,          "env"                  }, // 81
	{ doglyph,         "equiv"                }, // 82
	{ doglyph,         "error"                }, // 83
	{ doglyph,         "euro"                 }, // 84
	{ doexampleblock,  "example"              }, // 85
	{ doglyph,         "exclamdown"           }, // 86
	{ dolinetext,      "exdent"               }, // 87
	{ doglyph,         "expansion"            }, // 88
	{ dofont,          "file"                 }, // 89
	{ doskipline,      "finalout"             }, // 90
	{ doskipline,      "findex"               }, // 91
	{ dotransparent,   "flushleft"            }, // 92
	{ dotransparent,   "flushright"           }, // 93
	{ doskipline,      "firstparagraphindent" }, // 94
	{ dofootnote,      "footnote"             }, // 95
	{ doskipline,      "footnotestyle"        }, // 96
	{ dotaglist,       "ftable"               }, // 97
	{ dofilled,        "format"               }, // 98
	{ doglyph,         "geq"                  }, // 99
	{ dodiacritic,     "`"                    }, // 100
	{ dotransparent,   "group"                }, // 101
	{ doglyph,         "guillemetleft"        }, // 102
	{ doglyph,         "guillemetright"       }, // 103
	{ doglyph,         "guillemotleft"        }, // 104
	{ doglyph,         "guillemotright"       }, // 105
	{ doglyph,         "guilsinglleft"        }, // 106
	{ doglyph,         "guilsinglright"       }, // 107
	{ dodiacritic,     "H"                    }, // 108
	{ dochapter,       "heading"              }, // 109
	{ doskipline,      "headings"             }, // 110
	{ dolistitem,      "headitem"             }, // 111
	{ doignblock,      "html"                 }, // 112
	{ doglyph,         "-"                    }, // 113
	{ dofont,          "i"                    }, // 114
	{ dovariable,      "ifclear"              }, // 115
	{ doignblock,      "ifdocbook"            }, // 116
	{ doignblock,      "ifhtml"               }, // 117
	{ dotransparent,   "ifinfo"               }, // 118
	{ dotransparent,   "ifnotdocbook"         }, // 119
	{ dotransparent,   "ifnothtml"            }, // 120
	{ doignblock,      "ifnotinfo"            }, // 121
	{ doignblock,      "ifnotplaintext"       }, // 122
	{ dotransparent,   "ifnottex"             }, // 123
	{ dotransparent,   "ifnotxml"             }, // 124
	{ dotransparent,   "ifplaintext"          }, // 125
	{ doignblock,      "iftex"                }, // 126
	{ dovariable,      "ifset"                }, // 127
	{ doignblock,      "ifxml"                }, // 128
	{ doignblock,      "ignore"               }, // 129
	{ doskipgroup,     "image"                }, // 130
	{ doincludefile,   "include"              }, // 131
	{ dofilled,        "indentblock"          }, // 132
	{ doreference,     "indicateurl"          }, // 133
	{ doreference,     "inforef"              }, // 134
	{ doskipline,      "insertcopying"        }, // 135
	{ dolistitem,      "item"                 }, // 136
	{ dobulletlist,    "itemize"              }, // 137
	{ dolistitem,      "itemx"                }, // 138
	{ dofont,          "kbd"                  }, // 139
	{ doplaingroup,    "key"                  }, // 140
	{ doskipline,      "kindex"               }, // 141
	{ doglyph,         "L"                    }, // 142
	{ doglyph,         "LaTeX"                }, // 143
	{ doglyph,         "leq"                  }, // 144
	{ doshiftsections, "lowersections"        }, // 145
	{ doglyph,         "l"                    }, // 146
	{ domacro,         "macro"                }, // 147
	{ dodiacritic,     "="                    }, // 148
	{ domath,          "math"                 }, // 149
	{ doignblock,      "menu"                 }, // 150
	{ doglyph,         "minus"                }, // 151
	{ docolumntable,   "multitable"           }, // 152
	{ doskipline,      "need"                 }, // 153
	{ doglyph,         "\n"                   }, // 154
	{ doskipline,      "node"                 }, // 155
	{ dolinetext,      "noindent"             }, // 156
	{ doglyph,         "O"                    }, // 157
	{ doglyph,         "OE"                   }, // 158
	{ doglyph,         "oe"                   }, // 159
	{ dodiacritic,     "ogonek"               }, // 160
	{ dofont,          "option"               }, // 161
	{ doglyph,         "ordf"                 }, // 162
	{ doglyph,         "ordm"                 }, // 163
	{ doglyph,         "o"                    }, // 164
	{ doskipline,      "page"                 }, // 165
	{ doskipline,      "paragraphindent"      }, // 166
	{ doglyph,         "."                    }, // 167
	{ doskipline,      "pindex"               }, // 168
	{ doglyph,         "pounds"               }, // 169
	{ doskipline,      "printindex"           }, // 170
	{ doreference,     "pxref"                }, // 171
	{ doglyph,         "questiondown"         }, // 172
	{ doglyph,         "?"                    }, // 173
	{ doquoteblock,    "quotation"            }, // 174
	{ doglyph,         "quotedblbase"         }, // 175
	{ doglyph,         "quotedblleft"         }, // 176
	{ doglyph,         "quotedblright"        }, // 177
	{ doglyph,         "quotesinglbase"       }, // 178
	{ doglyph,         "quoteleft"            }, // 179
	{ doglyph,         "quoteright"           }, // 180
	{ dofont,          "r"                    }, // 181
	{ doshiftsections, "raisesections"        }, // 182
	{ doreference,     "ref"                  }, // 183
	{ doskipline,      "refill"               }, // 184
	{ doglyph,         "registeredsymbol"     }, // 185
	{ doglyph,         "result"               }, // 186
	{ dodiacritic,     "ringaccent"           }, // 187
	{ dofont,          "samp"                 }, // 188
	{ dofont,          "sansserif"            }, // 189
	{ dosmallcaps,     "sc"                   }, // 190
	{ dochapter,       "section"              }, // 191
	{ dovariable,      "set"                  }, // 192
	{ doskipline,      "setchapternewpage"    }, // 193
	{ doskipline,      "setcontentsaftertitlepage" }, // 194
	{ doskipline,      "setfilename"          }, // 195
	{ dodoctitle,      "settitle"             }, // 196
	{ doskipline,      "shortcontents"        }, // 197
	{ dofont,          "slanted"              }, // 198
	{ doglyph,         "/"                    }, // 199
	{ dovertspace,     "sp"                   }, // 200
	{ doglyph,         " "                    }, // 201
	{ doskipline,      "smallbook"            }, // 202
	{ dofilled,        "smalldisplay"         }, // 203
	{ doexampleblock,  "smallexample"         }, // 204
	{ dofilled,        "smallformat"          }, // 205
	{ dofilled,        "smallindentblock"     }, // 206
	{ doglyph,         "{"                    }, // 207
	{ doglyph,         "}"                    }, // 208
	{ doglyph,         "ss"                   }, // 209
	{ dofont,          "strong"               }, // 210
	{ dosubsect,       "subheading"           }, // 211
	{ dosubsect,       "subsection"           }, // 212
	{ dosubsubsect,    "subsubheading"        }, // 213
	{ dosubsubsect,    "subsubsection"        }, // 214
	{ doskipline,      "subtitle"             }, // 215
	{ doskipline,      "summarycontents"      }, // 216
	{ doskipline,      "synindex"             }, // 217
	{ doskipline,      "syncodeindex"         }, // 218
	{ dofont,          "t"                    }, // 219
	{ docolumntab,     "tab"                  }, // 220
	{ doglyph,         "\t"                   }, // 221
	{ dotaglist,       "table"                }, // 222
	{ doignblock,      "tex"                  }, // 223
	{ doglyph,         "TeX"                  }, // 224
	{ doglyph,         "textdegree"           }, // 225
	{ doglyph,         "TH"                   }, // 226
	{ doglyph,         "th"                   }, // 227
	{ doglyph,         "tie"                  }, // 228
	{ dodiacritic,     "tieaccent"            }, // 229
	{ dodiacritic,     "~"                    }, // 230
	{ doskipline,      "tindex"               }, // 231
	{ doskipline,      "title"                }, // 232
	{ doplaingroup,    "titlefont"            }, // 233
	{ doignblock,      "titlepage"            }, // 234
	{ dotopnode,       "top"                  }, // 235
	{ dodiacritic,     "u"                    }, // 236
	{ dodiacritic,     "ubaraccent"           }, // 237
	{ dodiacritic,     "udotaccent"           }, // 238
	{ dodiacritic,     "\""                   }, // 239
	{ dochapter,       "unnumbered"           }, // 240
	{ dochapter,       "unnumberedsec"        }, // 241
	{ dosubsect,       "unnumberedsubsec"     }, // 242
	{ dosubsubsect,    "unnumberedsubsubsec"  }, // 243
	{ doreference,     "uref"                 }, // 244
	{ doreference,     "url"                  }, // 245
	{ doskipline,      ""                     }, // 246
	{ dodiacritic,     "v"                    }, // 247
	{ dovariable,      "value"                }, // 248
	{ dofont,          "var"                  }, // 249
	{ doverb,          "verb"                 }, // 250
	{ doverbatim,      "verbatim"             }, // 251
	{ doverbatimfile,  "verbatiminclude"      }, // 252
	{ doskipline,      "vindex"               }, // 253
	{ dovertspace,     "vskip"                }, // 254
	{ dotaglist,       "vtable"               }, // 255
	{ doplaingroup,    "w"                    }, // 256
	{ doreference,     "xref"                 }, // 257

	// Today's Texinfo beyond the base rows.
	{ doexampleblock,  "lisp"                 }, // 258
	{ doexampleblock,  "smalllisp"            }, // 259
	{ doverbatim,      "displaymath"          }, // 260
	{ doquoteblock,    "smallquotation"       }, // 261
	{ dofilled,        "indentedblock"        }, // 262
	{ dofilled,        "smallindentedblock"   }, // 263
	{ dotransparent,   "raggedright"          }, // 264
	{ dolineignblock,  "docbook"              }, // 265
	{ dolineignblock,  "latex"                }, // 266
	{ dolineignblock,  "xml"                  }, // 267
	{ dolineignblock,  "nodedescriptionblock" }, // 268
	{ dolineignblock,  "iflatex"              }, // 269
	{ dotransparent,   "ifnotlatex"           }, // 270
	{ dofloat,         "float"                }, // 271
	{ dodefblock,      "defblock"             }, // 272
	{ doifcommand,     "ifcommanddefined"     }, // 273
	{ doifcommand,     "ifcommandnotdefined"  }, // 274
	{ domacro,         "rmacro"               }, // 275
	{ domacro,         "linemacro"            }, // 276
	{ dochapter,       "appendixsection"      }, // 277
	{ dochapter,       "centerchap"           }, // 278
	{ dochapter,       "chapheading"          }, // 279
	{ dochapter,       "majorheading"         }, // 280
	{ doskipline,      "part"                 }, // 281
	{ dodefinition,    "defline"              }, // 282
	{ dodefinition,    "deftypeline"          }, // 283
	{ dounmacro,       "unmacro"              }, // 284
	{ doalias,         "alias"                }, // 285
	{ dodefinfoenclose, "definfoenclose"       }, // 286
	{ doskipline,      "afivepaper"           }, // 287
	{ doskipline,      "afourlatex"           }, // 288
	{ doskipline,      "afourwide"            }, // 289
	{ doskipline,      "bsixpaper"            }, // 290
	{ doskipline,      "allowcodebreaks"      }, // 291
	{ doskipline,      "clickstyle"           }, // 292
	{ doskipline,      "codequotebacktick"    }, // 293
	{ doskipline,      "codequoteundirected"  }, // 294
	{ doskipline,      "deftypefnnewline"     }, // 295
	{ doskipline,      "evenfooting"          }, // 296
	{ doskipline,      "evenfootingmarks"     }, // 297
	{ doskipline,      "evenheading"          }, // 298
	{ doskipline,      "evenheadingmarks"     }, // 299
	{ doskipline,      "everyfooting"         }, // 300
	{ doskipline,      "everyfootingmarks"    }, // 301
	{ doskipline,      "everyheading"         }, // 302
	{ doskipline,      "everyheadingmarks"    }, // 303
	{ doskipline,      "oddfooting"           }, // 304
	{ doskipline,      "oddfootingmarks"      }, // 305
	{ doskipline,      "oddheading"           }, // 306
	{ doskipline,      "oddheadingmarks"      }, // 307
	{ doskipline,      "exampleindent"        }, // 308
	{ doskipline,      "fonttextsize"         }, // 309
	{ doskipline,      "frenchspacing"        }, // 310
	{ doskipline,      "kbdinputstyle"        }, // 311
	{ doskipline,      "microtype"            }, // 312
	{ doskipline,      "novalidate"           }, // 313
	{ doskipline,      "pagesizes"            }, // 314
	{ doskipline,      "urefbreakstyle"       }, // 315
	{ doskipline,      "xrefautomaticsectiontitle" }, // 316
	{ doskipline,      "shorttitlepage"       }, // 317
	{ doskipline,      "listoffloats"         }, // 318
	{ doskipline,      "nodedescription"      }, // 319
	{ dolinetext,      "indent"               }, // 320
	{ doskipline,      "subentry"             }, // 321
	{ doskipline,      "cpindex"              }, // 322
	{ doskipline,      "fnindex"              }, // 323
	{ doskipline,      "kyindex"              }, // 324
	{ doskipline,      "pgindex"              }, // 325
	{ doskipline,      "tpindex"              }, // 326
	{ doskipline,      "vrindex"              }, // 327
	{ doglyph,         "print"                }, // 328
	{ doglyph,         "point"                }, // 329
	{ doglyph,         "arrow"                }, // 330
	{ doglyph,         "click"                }, // 331
	{ doglyph,         "hashchar"             }, // 332
	{ doglyph,         "atchar"               }, // 333
	{ doglyph,         "lbracechar"           }, // 334
	{ doglyph,         "rbracechar"           }, // 335
	{ doglyph,         "backslashchar"        }, // 336
	{ doglyph,         "ampchar"              }, // 337
	{ doglyph,         "&"                    }, // 338
	{ doglyph,         "\\"                   }, // 339
	{ donothing,       "thischapter"          }, // 340
	{ donothing,       "thischaptername"      }, // 341
	{ donothing,       "thischapternum"       }, // 342
	{ donothing,       "thissection"          }, // 343
	{ donothing,       "thissectionname"      }, // 344
	{ donothing,       "thissectionnum"       }, // 345
	{ donothing,       "thisfile"             }, // 346
	{ donothing,       "thispage"             }, // 347
	{ donothing,       "thistitle"            }, // 348
	{ dotoday,         "today"                }, // 349
	{ dounicode,       "U"                    }, // 350
	{ dosupsub,        "sup"                  }, // 351
	{ dosupsub,        "sub"                  }, // 352
	{ doacronym,       "abbr"                 }, // 353
	{ doacronym,       "link"                 }, // 354
	{ doplaingroup,    "caption"              }, // 355
	{ doplaingroup,    "clicksequence"        }, // 356
	{ doplaingroup,    "headitemfont"         }, // 357
	{ doskipgroup,     "shortcaption"         }, // 358
	{ doskipgroup,     "hyphenation"          }, // 359
	{ doskipgroup,     "sortas"               }, // 360
	{ doskipgroup,     "seealso"              }, // 361
	{ doskipgroup,     "seeentry"             }, // 362
	{ doerrormsg,      "errormsg"             }, // 363
	{ doinlinecond,    "inlinefmt"            }, // 364
	{ doinlinecond,    "inlinefmtifelse"      }, // 365
	{ doinlinecond,    "inlineraw"            }, // 366
	{ doinlinecond,    "inlineifset"          }, // 367
	{ doinlinecond,    "inlineifclear"        }, // 368
	{ dodefinition,    "defopt"               }, // 369
	{ dodefinition,    "defoptx"              }, // 370
	{ dodefinition,    "defspec"              }, // 371
	{ dodefinition,    "defspecx"             }, // 372
	{ dodefinition,    "defop"                }, // 373
	{ dodefinition,    "defopx"               }, // 374
	{ dodefinition,    "deftypeop"            }, // 375
	{ dodefinition,    "deftypeopx"           }, // 376
	{ dodefinition,    "defmethod"            }, // 377
	{ dodefinition,    "defmethodx"           }, // 378
	{ dodefinition,    "defcv"                }, // 379
	{ dodefinition,    "defcvx"               }, // 380
	{ dodefinition,    "deftypecv"            }, // 381
	{ dodefinition,    "deftypecvx"           }, // 382
	{ dodefinition,    "defivar"              }, // 383
	{ dodefinition,    "defivarx"             }, // 384
	{ dodefinition,    "deftypeivar"          }, // 385
	{ dodefinition,    "deftypeivarx"         }, // 386

	// Known inside a program's page alone.
	{ dogol,           "gol"                  }, // 387
	{ dofont,          "gcctabopt"            }, // 388
	{ dogccoptlist,    "gccoptlist"           }, // 389
};

static_assert(CMD_xref == 257 && sizeof(cmdtable) / sizeof(cmdtable[0]) == 390);
static_assert(CMD_gol == 387 && cmdtable[CMD_gccoptlist].fn == dogccoptlist);
static_assert(cmdtable[CMD_end].len == 3 && cmdtable[CMD_end].fn == dostrayend);
static_assert(cmdtable[CMD_columnfractions].fn == nullptr && cmdtable[CMD_columnfractions].len == 15);
static_assert(cmdtable[CMD_value].fn == dovariable && cmdtable[CMD_value].len == 5);
static_assert(cmdtable[CMD_USERINDEX].len == 0 && cmdtable[CMD_USERINDEX].fn == doskipline);
static_assert(cmdtable[CMD_tab].len == 3 && cmdtable[CMD_TAB].name[0] == '\t');
static_assert(cmdtable[CMD_bye].fn == dofinish && cmdtable[CMD_top].fn == dotopnode);

// Each definition command's "x" form directly follows its block form.
constexpr bool xformsfollow()
{
	const cmdid blocks[] = {CMD_deffn, CMD_defmac, CMD_deftp, CMD_deftypefn,
	    CMD_deftypefun, CMD_deftypemethod, CMD_deftypevar, CMD_deftypevr,
	    CMD_defun, CMD_defvar, CMD_defvr, CMD_defopt, CMD_defspec, CMD_defop,
	    CMD_deftypeop, CMD_defmethod, CMD_defcv, CMD_deftypecv, CMD_defivar,
	    CMD_deftypeivar};
	for (cmdid b : blocks) {
		const cmdentry &blk = cmdtable[b], &x = cmdtable[b + 1];
		if (blk.fn != dodefinition || x.fn != dodefinition || x.len != blk.len + 1)
			return false;
		if (std::string_view(x.name, blk.len) != std::string_view(blk.name, blk.len) ||
		    x.name[blk.len] != 'x')
			return false;
	}
	return true;
}
static_assert(xformsfollow());

namespace {

// A name as two words of its first sixteen bytes, in memory order (the
// bytes past its end zero), and its length: what the lookup hashes and
// compares.  The words of the rows are made at compile time and those of a
// name in the text by loading its bytes, so both are made the way a load
// reads memory on this machine.
struct namekey {
	uint64_t lo = 0, hi = 0;
	size_t len = 0;
};

constexpr uint64_t bytesword(const char *s, size_t n)
{
	uint64_t w = 0;
	for (size_t i = 0; i < n && i < 8; i++) {
		const unsigned shift = std::endian::native == std::endian::little ? 8 * i : 56 - 8 * i;
		w |= uint64_t{static_cast<unsigned char>(s[i])} << shift;
	}
	return w;
}

constexpr namekey makekey(const char *s, size_t n)
{
	return {bytesword(s, n), n > 8 ? bytesword(s + 8, n - 8) : 0, n};
}

// The first k of a word's eight bytes, in memory order.
inline uint64_t firstbytes(uint64_t w, size_t k)
{
	if (k >= 8)
		return w;
	if (k == 0)
		return 0;
	return std::endian::native == std::endian::little ? w & ((uint64_t{1} << 8 * k) - 1)
							  : w & ~((uint64_t{1} << (64 - 8 * k)) - 1);
}

// The key of the n bytes at s, of which at least sixteen can be read.
inline namekey loadkey(const char *s, size_t n)
{
	uint64_t w[2];
	std::memcpy(w, s, sizeof w);
	return {firstbytes(w[0], n), n > 8 ? firstbytes(w[1], n - 8) : 0, n};
}

constexpr size_t SLOTS = 2048; // a power of two, over four times the rows
constexpr uint16_t EMPTY = 0xffff;

constexpr size_t keyslot(const namekey &k)
{
	uint64_t h = (k.lo ^ (k.hi * 0xc2b2ae3d27d4eb4full) ^ k.len) * 0x9e3779b97f4a7c15ull;
	return static_cast<size_t>(h >> 53) & (SLOTS - 1);
}

struct lookuptable {
	uint16_t slot[SLOTS];
	namekey key[CMD_NONE]; // by row
	uint16_t single[256];  // the rows of one-character names by their byte
	size_t maxlen;
};

constexpr lookuptable buildlookup()
{
	lookuptable t{};
	for (uint16_t &s : t.slot)
		s = EMPTY;
	for (uint16_t &s : t.single)
		s = CMD_NONE;
	for (unsigned id = 0; id < CMD_gol; id++) {
		const cmdentry &e = cmdtable[id];
		if (e.len == 0)
			continue; // the entry command of declared indexes has no name
		t.maxlen = e.len > t.maxlen ? e.len : t.maxlen;
		t.key[id] = makekey(e.name, e.len);
		if (e.len == 1)
			t.single[static_cast<unsigned char>(e.name[0])] = static_cast<uint16_t>(id);
		size_t i = keyslot(t.key[id]);
		while (t.slot[i] != EMPTY)
			i = (i + 1) & (SLOTS - 1);
		t.slot[i] = static_cast<uint16_t>(id);
	}
	return t;
}

constexpr lookuptable lookup = buildlookup();

// The row whose name has the key k and, past its first sixteen bytes, the
// bytes at rest.
constexpr cmdid findkey(const namekey &k, const char *rest)
{
	for (size_t i = keyslot(k); lookup.slot[i] != EMPTY; i = (i + 1) & (SLOTS - 1)) {
		const uint16_t id = lookup.slot[i];
		const namekey &r = lookup.key[id];
		if (r.lo == k.lo && r.hi == k.hi && r.len == k.len &&
		    (k.len <= 16 || std::string_view(cmdtable[id].name + 16, k.len - 16) == std::string_view(rest, k.len - 16)))
			return static_cast<cmdid>(id);
	}
	return CMD_NONE;
}

constexpr cmdid findcmd(const char *s, size_t n)
{
	if (n == 0 || n > lookup.maxlen)
		return CMD_NONE;
	if (n == 1)
		return static_cast<cmdid>(lookup.single[static_cast<unsigned char>(s[0])]);
	return findkey(makekey(s, n), s + (n > 16 ? 16 : n));
}

// The lookup agrees with a scan in row order: every named row finds itself
// (but for those of a program's page alone, which it does not find), and no
// two rows share a name.
constexpr bool lookupagrees()
{
	for (unsigned id = 0; id < CMD_NONE; id++) {
		const cmdentry &e = cmdtable[id];
		if (e.len != 0 && findcmd(e.name, e.len) != (id < CMD_gol ? id : CMD_NONE))
			return false;
		for (unsigned j = 0; j < id; j++)
			if (std::string_view(cmdtable[j].name, cmdtable[j].len) ==
			    std::string_view(e.name, e.len))
				return false;
	}
	return true;
}
static_assert(lookupagrees());

// Bytes that end an alphabetic command name after its first letter.
constexpr struct namestops {
	bool stop[256];
	constexpr namestops() : stop{}
	{
		for (unsigned char c : {' ', '\t', '\n', '@', '{', '}'})
			stop[c] = true;
	}
} namestop;

} // namespace

// What a name stands for after the rows of the table: a command of a
// program's page (in such a page), a declared index's entry command, then a
// name defined by @alias or @definfoenclose, then a macro.
static inline cmdid lookupdefined(texistate *p, const char *s, size_t n, cmdtarget &target)
{
	if (p->policy.pagecommands)
		for (unsigned id = CMD_gol; id < CMD_NONE; id++)
			if (std::string_view(cmdtable[id].name, cmdtable[id].len) == std::string_view(s, n))
				return static_cast<cmdid>(id);
	if (n > 5 && std::memcmp(s + n - 5, "index", 5) == 0 &&
	    p->indexnames.find(std::string_view(s, n - 5)) != p->indexnames.end())
		return CMD_USERINDEX;
	if (!p->aliases.empty())
		if (auto a = p->aliases.find(std::string_view(s, n)); a != p->aliases.end()) {
			target.macro = a->second.macro.get();
			target.enclose = a->second.enclose.get();
			return a->second.cmd;
		}
	if (auto m = p->macros.find(std::string_view(s, n)); m != p->macros.end())
		target.macro = m->second.get();
	return CMD_NONE;
}

// Whether only blanks stand before pos on its line, as far as the bytes the
// input keeps show.
static bool atlinestart(texistate *p, size_t pos)
{
	const textbuf &t = TOP(p).text;
	for (; pos > 0; pos--) {
		if (!t.kept(pos - 1))
			return false;
		char c = t.byte(pos - 1);
		if (c == '\n')
			return true;
		if (!blankbyte(c))
			return false;
	}
	return true;
}

// A name of n bytes at s that begins with a letter and is not in the
// table: an index's entry command, an alias or enclosure command, a macro,
// or nothing.
[[gnu::noinline]] static cmdid lookupname(texistate *p, size_t pos, const char *s, size_t n, cmdtarget &t, bool wanttarget)
{
	cmdid id = lookupdefined(p, s, n, t);
	if (id == CMD_NONE && t.macro == nullptr && t.enclose == nullptr) {
		// Program pages come from manuals whose index entries may be of
		// an index declared elsewhere: such a line is dropped as one.
		if (p->policy.pagecommands && n > 5 && std::memcmp(s + n - 5, "index", 5) == 0 && atlinestart(p, pos))
			return CMD_USERINDEX;
		texiwarning(p, "bad command: @%.*s", n > INT32_MAX ? INT32_MAX : static_cast<int>(n), s);
	}
	if (!wanttarget && (t.macro != nullptr || t.enclose != nullptr))
		return CMD_NONE;
	return id;
}

// The general lookup of texicmd below: the end of the input, names that
// do not begin with a letter or are not in the table, and names longer than
// a block.
[[gnu::noinline]] static cmdid lookupat(texistate *p, size_t pos, size_t &end, cmdtarget &t, bool wanttarget)
{
	end = pos;
	size_t size = BUFSZ(p);
	if (pos >= size)
		return CMD_NONE;
	end = pos + 1;
	if (end >= size)
		return CMD_NONE;

	const char *s = BUFAT(p, end);
	size_t avail = size - end;
	if (!letterbyte(static_cast<unsigned char>(s[0]))) {
		end = pos + 2;
		cmdid id = findcmd(s, 1);
		if (id == CMD_NONE)
			texiwarning(p, "bad command: @%c", s[0]);
		return id;
	}

	size_t n = 1;
	while (n < avail && !namestop.stop[static_cast<unsigned char>(s[n])])
		n++;
	end = pos + 1 + n;
	if (n <= lookup.maxlen) {
		char b[16] = {};
		std::memcpy(b, s, n < 16 ? n : 16);
		if (cmdid id = findkey(loadkey(b, n), s + 16); id != CMD_NONE)
			return id;
	}
	return lookupname(p, pos, s, n, t, wanttarget);
}

// Reads the command whose "@" stands at pos.  end is set just past what was
// read; nothing in the state moves.  A user macro or an enclosure command
// comes back through `target` with CMD_NONE.  Built-in names win over
// declared indexes, those over aliases and enclosure commands, and those
// over macros.
//
// There is one lookup for every "@" of a document, and nearly every one is
// of a name of the table that ends within the sixteen bytes after the "@":
// that name's end is found in one block and the rows are compared by its
// words, and everything else is left to the general lookup.
cmdid texicmd(texistate *p, size_t pos, size_t &end, cmdtarget *target)
{
	if (target != nullptr)
		*target = {};
#ifdef __SSE2__
	const texiinput &in = TOP(p);
	if (pos < in.text.size() && in.text.size() - pos > 16) {
		const char *s = in.text.at(pos + 1);
		const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s));
		auto eq = [&](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
		__m128i m = _mm_or_si128(_mm_or_si128(eq(' '), eq('\t')), _mm_or_si128(eq('\n'), eq('@')));
		m = _mm_or_si128(m, _mm_or_si128(eq('{'), eq('}')));
		const unsigned stops = static_cast<unsigned>(_mm_movemask_epi8(m));
		if (letterbyte(static_cast<unsigned char>(s[0])) && stops != 0) {
			const size_t n = static_cast<size_t>(__builtin_ctz(stops));
			const namekey k = loadkey(s, n);
			for (size_t i = keyslot(k);; i = (i + 1) & (SLOTS - 1)) {
				const uint16_t id = lookup.slot[i];
				if (id == EMPTY)
					break;
				const namekey &r = lookup.key[id];
				if (r.lo == k.lo && r.hi == k.hi && r.len == n) {
					end = pos + 1 + n;
					return static_cast<cmdid>(id);
				}
			}
			end = pos + 1 + n;
			cmdtarget none;
			return lookupname(p, pos, s, n, target != nullptr ? *target : none, target != nullptr);
		}
	}
#endif
	cmdtarget none;
	return lookupat(p, pos, end, target != nullptr ? *target : none, target != nullptr);
}

// The same lookup for a whole name read elsewhere (the target of an alias, a
// command asked about by @ifcommanddefined): a single byte other than a
// letter is a one-character command; a name that begins with a letter and
// holds nothing that would end a command name is looked up as texicmd looks
// it up; anything else names nothing.
cmdid texilookup(texistate *p, std::string_view name, cmdtarget &target)
{
	target = {};
	if (name.empty())
		return CMD_NONE;
	if (!letterbyte(static_cast<unsigned char>(name[0])))
		return name.size() == 1 ? findcmd(name.data(), 1) : CMD_NONE;
	for (char c : name)
		if (namestop.stop[static_cast<unsigned char>(c)])
			return CMD_NONE;
	cmdid id = findcmd(name.data(), name.size());
	if (id != CMD_NONE)
		return id;
	return lookupdefined(p, name.data(), name.size(), target);
}
