// The setters' one body: how a field's value is judged, stored and marked in
// an identity record, without any message. The exported setters add their
// messages on top; the C interface reports its own way. Internal to the
// library (not installed).
#ifndef MINTCORE_IDENTITY_FIELDS_H
#define MINTCORE_IDENTITY_FIELDS_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "identity_rules.h"
#include "mintcore.h"

namespace mint::identity_fields {

using identity_rules::code_table;

// The shared library accepts an SSN with at least one digit and keeps its
// first nine; the programs' copy accepts exactly nine digits.
enum class ssn_rule { lenient, strict };

enum class text_verdict { accepted, null_text, invalid };

// Normalises `text` into a scratch copy first, so that an accepted value
// replaces the whole field and a rejected one leaves it as it was.
template <size_t L, const code_table& codes_of>
text_verdict set_text_field(uuid_hash_data* data, unsigned char (&field)[L], uint32_t mark, const char* text,
                            bool count_all_digits) {
    if (text == nullptr) {
        data->flags &= ~mark;
        return text_verdict::null_text;
    }
    // One spare byte takes the writes of characters that are skipped or
    // come after the L-th code, so the loop has no data-dependent branch:
    // letters and blanks alternate unpredictably in names.
    unsigned char codes[L + 1] = {};
    size_t count = 0;
    // Under the name and lenient rules reading stops at L codes, before the
    // next character is even looked at.
    for (const char* p = text; (count_all_digits || count < L) && *p != '\0'; ++p) {
        const int code = codes_of[static_cast<unsigned char>(*p)];
        const size_t slot = code >= 0 && count < L ? count : L;
        codes[slot] = static_cast<unsigned char>(code);
        count += code >= 0 ? 1 : 0;
    }
    const bool accepted = count_all_digits ? count == L : count > 0;
    if (!accepted) {
        data->flags &= ~mark;
        return text_verdict::invalid;
    }
    std::memcpy(field, codes, L);
    data->flags |= mark;
    return text_verdict::accepted;
}

inline text_verdict set_name(uuid_hash_data* data, unsigned char (&field)[identity_rules::name_length],
                             uint32_t mark, const char* text) {
    return set_text_field<identity_rules::name_length, identity_rules::letter_codes>(data, field, mark, text, false);
}

inline text_verdict set_ssn(uuid_hash_data* data, unsigned char (&field)[identity_rules::ssn_length], uint32_t mark,
                            const char* text, ssn_rule rule) {
    return set_text_field<identity_rules::ssn_length, identity_rules::digit_values>(data, field, mark, text,
                                                                                    rule == ssn_rule::strict);
}

// Returns whether the value was in range, stored and marked.
inline bool set_number(uuid_hash_data* data, int32_t& field, uint32_t mark, int value,
                       identity_rules::value_range range) {
    if (!range.holds(value)) {
        data->flags &= ~mark;
        return false;
    }
    field = value;
    data->flags |= mark;
    return true;
}

}  // namespace mint::identity_fields

#endif
