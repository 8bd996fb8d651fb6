// Inline markup and references.

#include "../teximan.h"

void doacronym(texistate *, cmdid, size_t &) {}
void dofont(texistate *, cmdid, size_t &) {}
void doreference(texistate *, cmdid, size_t &) {}
void domath(texistate *, cmdid, size_t &) {}
void doverb(texistate *, cmdid, size_t &) {}
