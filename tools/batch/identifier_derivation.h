// Where mintbatch derives identifiers: every identifier it writes comes from
// one of these calls, whichever path read the record.
#ifndef MINT_TOOLS_BATCH_IDENTIFIER_DERIVATION_H
#define MINT_TOOLS_BATCH_IDENTIFIER_DERIVATION_H

#include "mintcore.h"
#include "uuid_keyed.h"

// uuid_create, keyed when `key` is not null: true when record->uuid holds the
// identifier; otherwise the library has printed why.
inline bool derive_identifier(uuid_hash_data* record, const mint::uuid_key* key) {
    return mint::uuid_create_keyed(record, key) != 0;
}

// Two records at once, as derive_identifier on each in turn (messages
// included); bit 0 of the result is the first's success, bit 1 the second's.
inline int derive_identifier_pair(uuid_hash_data* first, uuid_hash_data* second, const mint::uuid_key* key) {
    return mint::uuid_create_pair_keyed(first, second, key);
}

// Four records at once, as derive_identifier on each in turn; bit i of the
// result is records[i]'s success.
inline int derive_identifier_quad(uuid_hash_data* const records[4], const mint::uuid_key* key) {
    return mint::uuid_create_quad_keyed(records, key);
}

#endif
