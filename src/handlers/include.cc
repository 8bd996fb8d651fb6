// File inclusion.

#include "../teximan.h"

void doincludefile(texistate *, cmdid, size_t &) {}
void doverbatimfile(texistate *, cmdid, size_t &) {}
