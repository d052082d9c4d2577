// Identity record: clearing it and the twelve validating field setters.
#include <cstdio>
#include <cstring>

#include "identity_rules.h"
#include "mintcore.h"

#ifndef MINTCORE_STRICT_SSN
#error "MINTCORE_STRICT_SSN must be 0 (shared library) or 1 (the programs' copy)"
#endif

namespace {

using namespace mint::identity_rules;

// The shared library accepts any SSN with a digit and keeps its first nine;
// the programs' copy accepts exactly nine digits.
constexpr bool strict_ssn_rule = MINTCORE_STRICT_SSN != 0;

struct text_field_messages {
    const char* null_value;
    const char* invalid_value;
};

// Normalises `text` into a scratch copy first, so that an accepted value
// replaces the whole field and a rejected one leaves it as it was.
template <size_t L, const code_table& codes_of>
int set_text_field(uuid_hash_data* data, unsigned char (&field)[L], uint32_t mark, const char* text,
                   bool count_all_digits, const text_field_messages& messages) {
    if (text == nullptr) {
        std::fputs(messages.null_value, stdout);
        data->flags &= ~mark;
        return 0;
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
        std::fputs(messages.invalid_value, stdout);
        data->flags &= ~mark;
        return 0;
    }
    std::memcpy(field, codes, L);
    data->flags |= mark;
    return 1;
}

int set_name(uuid_hash_data* data, unsigned char (&field)[name_length], uint32_t mark, const char* text,
             const text_field_messages& messages) {
    return set_text_field<name_length, letter_codes>(data, field, mark, text, false, messages);
}

int set_ssn(uuid_hash_data* data, unsigned char (&field)[ssn_length], uint32_t mark, const char* text,
            const text_field_messages& messages) {
    return set_text_field<ssn_length, digit_values>(data, field, mark, text, strict_ssn_rule, messages);
}

// `format` holds one %d for the rejected value.
int set_int_field(uuid_hash_data* data, int32_t& field, uint32_t mark, int value, value_range range,
                  const char* format) {
    if (!range.holds(value)) {
        std::printf(format, value);
        data->flags &= ~mark;
        return 0;
    }
    field = value;
    data->flags |= mark;
    return 1;
}

}  // namespace

void uuid_initialize(uuid_hash_data* data) {
    std::memset(data, 0, sizeof *data);
}

int uuid_hash_set_patient_name(uuid_hash_data* data, char* name) {
    return set_name(data, data->patient_name, PATIENT_NAME_SET, name,
                    {"Error in uuid_hash_set_patient_name(), NULL name passed in.\n",
                     "Error in uuid_hash_set_patient_name(), invalid name passed in.\n"});
}

int uuid_hash_set_patient_ssn(uuid_hash_data* data, char* ssn) {
    return set_ssn(data, data->patient_ssn, PATIENT_SSN_SET, ssn,
                   {"Error in uuid_hash_set_patient_ssn(), NULL ssn passed in.\n",
                    "Error in uuid_hash_set_patient_ssn(), invalid ssn passed in.\n"});
}

int uuid_hash_set_patient_gender(uuid_hash_data* data, int gender) {
    return set_int_field(data, data->patient_gender, PATIENT_GENDER_SET, gender, gender_range,
                         "Error in uuid_hash_set_patient_gender(), bogus gender %d passed in.\n");
}

int uuid_hash_set_patient_birth_year(uuid_hash_data* data, int year) {
    return set_int_field(data, data->patient_birth_year, PATIENT_BIRTH_YEAR_SET, year, birth_year_range,
                         "Error in uuid_hash_set_patient_birth_year(), bogus year %d passed in.\n");
}

int uuid_hash_set_patient_birth_month(uuid_hash_data* data, int month) {
    return set_int_field(data, data->patient_birth_month, PATIENT_BIRTH_MONTH_SET, month, birth_month_range,
                         "Error in uuid_hash_set_patient_birth_month(), bogus month %d passed in.\n");
}

int uuid_hash_set_patient_birth_day(uuid_hash_data* data, int day) {
    return set_int_field(data, data->patient_birth_day, PATIENT_BIRTH_DAY_SET, day, birth_day_range,
                         "Error in uuid_hash_set_patient_birth_day(), bogus day %d passed in.\n");
}

int uuid_hash_set_policy_name(uuid_hash_data* data, char* name) {
    return set_name(data, data->policy_name, POLICY_NAME_SET, name,
                    {"Error in uuid_hash_set_policy_name(), NULL name passed in.\n",
                     "Error in uuid_hash_set_policy_name(), invalid name passed in.\n"});
}

int uuid_hash_set_policy_ssn(uuid_hash_data* data, char* ssn) {
    return set_ssn(data, data->policy_ssn, POLICY_SSN_SET, ssn,
                   {"Error in uuid_hash_set_policy_ssn(), NULL ssn passed in.\n",
                    "Error in uuid_hash_set_policy_ssn(), invalid ssn passed in.\n"});
}

int uuid_hash_set_policy_gender(uuid_hash_data* data, int gender) {
    return set_int_field(data, data->policy_gender, POLICY_GENDER_SET, gender, gender_range,
                         "Error in uuid_hash_set_policy_gender(), bogus gender %d passed in.\n");
}

int uuid_hash_set_policy_birth_year(uuid_hash_data* data, int year) {
    return set_int_field(data, data->policy_birth_year, POLICY_BIRTH_YEAR_SET, year, birth_year_range,
                         "Error in uuid_hash_set_policy_birth_year(), bogus year %d passed in.\n");
}

int uuid_hash_set_policy_birth_month(uuid_hash_data* data, int month) {
    return set_int_field(data, data->policy_birth_month, POLICY_BIRTH_MONTH_SET, month, birth_month_range,
                         "Error in uuid_hash_set_policy_birth_month(), bogus month %d passed in.\n");
}

int uuid_hash_set_policy_birth_day(uuid_hash_data* data, int day) {
    return set_int_field(data, data->policy_birth_day, POLICY_BIRTH_DAY_SET, day, birth_day_range,
                         "Error in uuid_hash_set_policy_birth_day(), bogus day %d passed in.\n");
}
