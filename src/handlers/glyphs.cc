// Symbols and accented letters.

#include "../teximan.h"

void doglyph(texistate *, cmdid, size_t &) {}
void dodiacritic(texistate *, cmdid, size_t &) {}
