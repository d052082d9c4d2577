// Two identifiers at once, for programs that derive many: internal to the
// library and its programs (not exported, not installed).
#ifndef MINTCORE_UUID_PAIR_H
#define MINTCORE_UUID_PAIR_H

#include "mintcore.h"

namespace mint {

// The same as uuid_create(first) then uuid_create(second), messages included;
// bit 0 of the result is what the first call returns, bit 1 the second. When
// both records are filled for a key, their hash computations run side by
// side, which takes little longer than one.
int uuid_create_pair(uuid_hash_data* first, uuid_hash_data* second);

}  // namespace mint

#endif
