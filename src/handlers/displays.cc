// Displays, examples, quotations and verbatim text.

#include "../teximan.h"

void dofilled(texistate *, cmdid, size_t &) {}
void doexampleblock(texistate *, cmdid, size_t &) {}
void doquoteblock(texistate *, cmdid, size_t &) {}
void dovertspace(texistate *, cmdid, size_t &) {}
void doverbatim(texistate *, cmdid, size_t &) {}
