// Definition blocks.

#include "../teximan.h"

void dodefinition(texistate *, cmdid, size_t &) {}
