// Lists and multi-column tables.

#include "../teximan.h"

void doenumlist(texistate *, cmdid, size_t &) {}
void dotaglist(texistate *, cmdid, size_t &) {}
void dolistitem(texistate *, cmdid, size_t &) {}
void dobulletlist(texistate *, cmdid, size_t &) {}
void docolumntable(texistate *, cmdid, size_t &) {}
void docolumntab(texistate *, cmdid, size_t &) {}
