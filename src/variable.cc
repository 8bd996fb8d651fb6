// Variables, conditional and skipped blocks, index names.

#include "teximan.h"

void dotransparent(texistate *, cmdid, size_t &) {}
void dovariable(texistate *, cmdid, size_t &) {}
void doignblock(texistate *, cmdid, size_t &) {}
void doindexdefine(texistate *, cmdid, size_t &) {}
