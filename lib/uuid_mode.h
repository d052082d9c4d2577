// Which derivation a record's set-marks call for, and uuid_create's body
// without its message: internal to the library (not exported, not
// installed), for callers that report an unusable record their own way.
#ifndef MINTCORE_UUID_MODE_H
#define MINTCORE_UUID_MODE_H

#include <cstdint>

#include "mintcore.h"

namespace mint {

enum class uuid_mode { zero, patient_key, policy_key, unusable };

// All six patient fields make a patient key, whatever the policy holder has;
// a policy key needs all else and no patient SSN. With neither, an SSN
// anywhere makes the record unusable, and without one it gets the zero
// identifier.
constexpr uuid_mode uuid_mode_of(uint32_t flags) {
    if ((flags & PATIENT_FIELDS) == PATIENT_FIELDS) return uuid_mode::patient_key;
    if (flags == POLICY_KEY_FLAGS) return uuid_mode::policy_key;
    if ((flags & ANY_SSN) != 0) return uuid_mode::unusable;
    return uuid_mode::zero;
}

constexpr bool derivable(uuid_mode mode) {
    return mode == uuid_mode::patient_key || mode == uuid_mode::policy_key;
}

struct uuid_key;

// Writes the identifier into data->uuid, the zero identifier unless the mode
// is derivable, and returns the mode: uuid_create (uuid_create_keyed with a
// key, see uuid_keyed.h) without its message.
uuid_mode uuid_derive(uuid_hash_data* data, const uuid_key* key = nullptr);

}  // namespace mint

#endif
