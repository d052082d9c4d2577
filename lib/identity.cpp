// Identity record: clearing it and the twelve validating field setters.
#include <cstdio>
#include <cstring>

#include "identity_fields.h"
#include "identity_rules.h"
#include "mintcore.h"

#ifndef MINTCORE_STRICT_SSN
#error "MINTCORE_STRICT_SSN must be 0 (shared library) or 1 (the programs' copy)"
#endif

namespace {

using namespace mint::identity_rules;
namespace fields = mint::identity_fields;

// The shared library accepts any SSN with a digit and keeps its first nine;
// the programs' copy accepts exactly nine digits.
constexpr fields::ssn_rule ssn_rule_of_this_build =
    MINTCORE_STRICT_SSN != 0 ? fields::ssn_rule::strict : fields::ssn_rule::lenient;

struct text_field_messages {
    const char* null_value;
    const char* invalid_value;
};

// The setters print one line for a rejected value.
int reported(fields::text_verdict verdict, const text_field_messages& messages) {
    switch (verdict) {
        case fields::text_verdict::accepted:
            return 1;
        case fields::text_verdict::null_text:
            std::fputs(messages.null_value, stdout);
            return 0;
        case fields::text_verdict::invalid:
            break;
    }
    std::fputs(messages.invalid_value, stdout);
    return 0;
}

int set_name(uuid_hash_data* data, unsigned char (&field)[name_length], uint32_t mark, const char* text,
             const text_field_messages& messages) {
    return reported(fields::set_name(data, field, mark, text), messages);
}

int set_ssn(uuid_hash_data* data, unsigned char (&field)[ssn_length], uint32_t mark, const char* text,
            const text_field_messages& messages) {
    return reported(fields::set_ssn(data, field, mark, text, ssn_rule_of_this_build), messages);
}

// `format` holds one %d for the rejected value.
int set_int_field(uuid_hash_data* data, int32_t& field, uint32_t mark, int value, value_range range,
                  const char* format) {
    if (!fields::set_number(data, field, mark, value, range)) {
        std::printf(format, value);
        return 0;
    }
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
