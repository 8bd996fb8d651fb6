// User macros: definition, argument reading and expansion.

#include "teximan.h"

void domacro(texistate *, cmdid, size_t &) {}

void texiexecmacro(texistate *, const macrodef &, size_t &) {}

void texisplice(texistate *, const char *, size_t, size_t &) {}
