// The C interface (mint.h): identifiers from plain fields, judged and derived
// by the setters' and uuid_create's own bodies, without their messages.
#include "mint.h"

#include <cstring>

#include "hmac_sha256.h"
#include "identity_fields.h"
#include "identity_rules.h"
#include "mintcore.h"
#include "uuid_keyed.h"
#include "uuid_mode.h"
// mintbatch's judging of field texts and mapping of column names, compiled in.
#include "field_values.h"
#include "named_csv.h"

#ifndef MINT_VERSION_TEXT
#error "MINT_VERSION_TEXT must be the project version as a string literal"
#endif

namespace {

namespace fields = mint::identity_fields;
namespace rules = mint::identity_rules;
using mint::uuid_mode;

// The marks mint.h promises are the library's own.
static_assert(MINT_MARK_PATIENT_SSN == PATIENT_SSN_SET && MINT_MARK_PATIENT_NAME == PATIENT_NAME_SET &&
              MINT_MARK_PATIENT_BIRTH_DAY == PATIENT_BIRTH_DAY_SET && MINT_MARK_PATIENT_GENDER == PATIENT_GENDER_SET &&
              MINT_MARK_PATIENT_BIRTH_YEAR == PATIENT_BIRTH_YEAR_SET &&
              MINT_MARK_PATIENT_BIRTH_MONTH == PATIENT_BIRTH_MONTH_SET);
static_assert(MINT_MARK_POLICY_SSN == POLICY_SSN_SET && MINT_MARK_POLICY_NAME == POLICY_NAME_SET &&
              MINT_MARK_POLICY_BIRTH_DAY == POLICY_BIRTH_DAY_SET && MINT_MARK_POLICY_GENDER == POLICY_GENDER_SET &&
              MINT_MARK_POLICY_BIRTH_YEAR == POLICY_BIRTH_YEAR_SET &&
              MINT_MARK_POLICY_BIRTH_MONTH == POLICY_BIRTH_MONTH_SET);
// "Not given" must never be a value some field accepts.
static_assert(!rules::gender_range.holds(MINT_NOT_GIVEN) && !rules::birth_year_range.holds(MINT_NOT_GIVEN) &&
              !rules::birth_month_range.holds(MINT_NOT_GIVEN) && !rules::birth_day_range.holds(MINT_NOT_GIVEN));

constexpr char zero_identifier[MINT_ID_SIZE] = "000000000000";
constexpr char no_identifier[MINT_ID_SIZE] = {};

bool given(const char* text) {
    return text != nullptr && *text != '\0';
}

bool given(int32_t number) {
    return number != MINT_NOT_GIVEN;
}

// The first refusals among a record's fields, in column order: of an SSN or
// a number, which refuses the record outright, and of a name, which refuses
// it only when it leaves the record unusable.
struct refusals {
    int32_t field = MINT_FIELD_NONE;
    int32_t name = MINT_FIELD_NONE;
};

void note(int32_t* first, int32_t field) {
    if (*first == MINT_FIELD_NONE) *first = field;
}

// One person's part of the record: where the fields go and how they are
// numbered. The policy holder's marks are the patient's shifted left by 8.
struct side {
    unsigned char (uuid_hash_data::*name)[rules::name_length];
    unsigned char (uuid_hash_data::*ssn)[rules::ssn_length];
    int32_t uuid_hash_data::*gender;
    int32_t uuid_hash_data::*birth_year;
    int32_t uuid_hash_data::*birth_month;
    int32_t uuid_hash_data::*birth_day;
    unsigned shift;
    int32_t first_field;  // its name's field number; the others follow in column order
};

constexpr side patient_side{&uuid_hash_data::patient_name,      &uuid_hash_data::patient_ssn,
                            &uuid_hash_data::patient_gender,    &uuid_hash_data::patient_birth_year,
                            &uuid_hash_data::patient_birth_month, &uuid_hash_data::patient_birth_day,
                            0,                                  MINT_PATIENT_NAME};
constexpr side policy_side{&uuid_hash_data::policy_name,       &uuid_hash_data::policy_ssn,
                           &uuid_hash_data::policy_gender,     &uuid_hash_data::policy_birth_year,
                           &uuid_hash_data::policy_birth_month, &uuid_hash_data::policy_birth_day,
                           8,                                  MINT_POLICY_NAME};
static_assert(MINT_PATIENT_SSN == MINT_PATIENT_NAME + 1 && MINT_PATIENT_BIRTH_DAY == MINT_PATIENT_NAME + 5 &&
              MINT_POLICY_SSN == MINT_POLICY_NAME + 1 && MINT_POLICY_BIRTH_DAY == MINT_POLICY_NAME + 5);

void judge_number(uuid_hash_data* data, int32_t uuid_hash_data::*field, uint32_t mark, int32_t value,
                  rules::value_range range, int32_t field_number, refusals* refused) {
    if (given(value) && !fields::set_number(data, data->*field, mark, value, range)) note(&refused->field, field_number);
}

// Hands each given field to the setters' body, as mintbatch does with each
// non-empty CSV field.
void judge_person(const mint_person& person, const side& s, fields::ssn_rule rule, uuid_hash_data* data,
                  refusals* refused) {
    if (given(person.name) &&
        fields::set_name(data, data->*s.name, PATIENT_NAME_SET << s.shift, person.name) != fields::text_verdict::accepted) {
        note(&refused->name, s.first_field);
    }
    if (given(person.ssn) && fields::set_ssn(data, data->*s.ssn, PATIENT_SSN_SET << s.shift, person.ssn, rule) !=
                                 fields::text_verdict::accepted) {
        note(&refused->field, s.first_field + 1);
    }
    judge_number(data, s.gender, PATIENT_GENDER_SET << s.shift, person.gender, rules::gender_range, s.first_field + 2,
                 refused);
    judge_number(data, s.birth_year, PATIENT_BIRTH_YEAR_SET << s.shift, person.birth_year, rules::birth_year_range,
                 s.first_field + 3, refused);
    judge_number(data, s.birth_month, PATIENT_BIRTH_MONTH_SET << s.shift, person.birth_month,
                 rules::birth_month_range, s.first_field + 4, refused);
    judge_number(data, s.birth_day, PATIENT_BIRTH_DAY_SET << s.shift, person.birth_day, rules::birth_day_range,
                 s.first_field + 5, refused);
}

// Fills `data` from the given fields and tells what the record gets. Only a
// MINT_IDENTIFIER result leaves an identifier to derive from `data`.
mint_result judge(const mint_person* patient, const mint_person* policy, fields::ssn_rule rule,
                  uuid_hash_data* data) {
    uuid_initialize(data);
    refusals refused;
    if (patient != nullptr) judge_person(*patient, patient_side, rule, data, &refused);
    if (policy != nullptr) judge_person(*policy, policy_side, rule, data, &refused);
    mint_result result{MINT_IDENTIFIER, MINT_FIELD_NONE, data->flags};
    if (refused.field != MINT_FIELD_NONE) {
        result.status = MINT_REFUSED;
        result.field = refused.field;
        return result;
    }
    switch (mint::uuid_mode_of(data->flags)) {
        case uuid_mode::patient_key:
        case uuid_mode::policy_key:
            break;
        case uuid_mode::zero:
            result.status = MINT_ZERO;
            break;
        case uuid_mode::unusable:
            result.status = refused.name != MINT_FIELD_NONE ? MINT_REFUSED : MINT_INCOMPLETE;
            result.field = refused.name;
            break;
    }
    return result;
}

// What a call's options ask for, the secret prepared once for all its
// records. The prepared key stands in for the secret: it is wiped when the
// call ends.
struct call_options {
    fields::ssn_rule rule = fields::ssn_rule::strict;
    bool keyed = false;
    mint::uuid_key key;

    call_options() = default;
    call_options(const call_options&) = delete;
    call_options& operator=(const call_options&) = delete;
    ~call_options() {
        if (keyed) mint::wipe_secret(&key, sizeof key);
    }

    // Null: the plain derivation.
    const mint::uuid_key* key_or_null() const { return keyed ? &key : nullptr; }
};

// 0 when the options are right, else the status that refuses the call.
int32_t read_options(const mint_options* options, call_options* call) {
    if (options == nullptr) return 0;
    switch (options->ssn_rule) {
        case MINT_SSN_STRICT:
            call->rule = fields::ssn_rule::strict;
            break;
        case MINT_SSN_LENIENT:
            call->rule = fields::ssn_rule::lenient;
            break;
        default:
            return MINT_BAD_ARGUMENT;
    }
    // A length without its bytes is a caller's mistake, never an unkeyed call.
    if (options->key == nullptr) return options->key_length == 0 ? 0 : MINT_BAD_ARGUMENT;
    // Nor is a key of no bytes: an empty secret read from somewhere would
    // otherwise give identifiers that anyone can compute.
    if (options->key_length == 0) return MINT_EMPTY_KEY;
    mint::uuid_key_init(&call->key, options->key, options->key_length);
    call->keyed = true;
    return 0;
}

void write_identifier(char* out, const char (&text)[MINT_ID_SIZE]) {
    std::memcpy(out, text, MINT_ID_SIZE);
}

// The identifier text of a result other than MINT_IDENTIFIER.
const char (&text_without_derivation(int32_t status))[MINT_ID_SIZE] {
    return status == MINT_ZERO ? zero_identifier : no_identifier;
}

mint_person row_person(const char* const* name, const char* const* ssn, const int32_t* gender,
                       const int32_t* birth_year, const int32_t* birth_month, const int32_t* birth_day, size_t row) {
    return {name != nullptr ? name[row] : nullptr,
            ssn != nullptr ? ssn[row] : nullptr,
            gender != nullptr ? gender[row] : MINT_NOT_GIVEN,
            birth_year != nullptr ? birth_year[row] : MINT_NOT_GIVEN,
            birth_month != nullptr ? birth_month[row] : MINT_NOT_GIVEN,
            birth_day != nullptr ? birth_day[row] : MINT_NOT_GIVEN};
}

// Each refusal's text names the field as mintbatch's CSV header does.
const char* const field_names[] = {
    "",
    "patient_name",
    "patient_ssn",
    "patient_gender",
    "patient_birth_year",
    "patient_birth_month",
    "patient_birth_day",
    "policy_name",
    "policy_ssn",
    "policy_gender",
    "policy_birth_year",
    "policy_birth_month",
    "policy_birth_day",
};
constexpr int32_t field_count = sizeof field_names / sizeof field_names[0] - 1;
static_assert(field_count == MINT_POLICY_BIRTH_DAY);

const char* const refusal_texts[] = {
    "",
    "patient_name: no letters",
    "patient_ssn: invalid ssn",
    "patient_gender: not 1 or 2",
    "patient_birth_year: not from 1851 to 2099",
    "patient_birth_month: not from 1 to 12",
    "patient_birth_day: not from 1 to 31",
    "policy_name: no letters",
    "policy_ssn: invalid ssn",
    "policy_gender: not 1 or 2",
    "policy_birth_year: not from 1851 to 2099",
    "policy_birth_month: not from 1 to 12",
    "policy_birth_day: not from 1 to 31",
};
static_assert(sizeof refusal_texts / sizeof refusal_texts[0] == field_count + 1);
// The texts state the setters' ranges.
static_assert(rules::gender_range.lowest == 1 && rules::gender_range.highest == 2);
static_assert(rules::birth_year_range.lowest == 1851 && rules::birth_year_range.highest == 2099);
static_assert(rules::birth_month_range.lowest == 1 && rules::birth_month_range.highest == 12);
static_assert(rules::birth_day_range.lowest == 1 && rules::birth_day_range.highest == 31);

bool is_field(int32_t field) {
    return field >= MINT_PATIENT_NAME && field <= field_count;
}

// One record judged and, where it gets one, its identifier derived under
// `key` (null: unkeyed) into `identifier`.
mint_result derive_one(const mint_person* patient, const mint_person* policy, fields::ssn_rule rule,
                       const mint::uuid_key* key, char* identifier) {
    uuid_hash_data data;
    const mint_result outcome = judge(patient, policy, rule, &data);
    if (outcome.status == MINT_IDENTIFIER) {
        mint::uuid_derive(&data, key);
        write_identifier(identifier, data.uuid);
    } else {
        write_identifier(identifier, text_without_derivation(outcome.status));
    }
    return outcome;
}

// A mint_key holds a uuid_key's bytes, copied in and out: the caller's
// struct need not be aligned or typed for the library's.
static_assert(sizeof(mint::uuid_key) == sizeof(mint_key::state));
constexpr uint32_t key_prepared_mark = 0x6d696e74;  // "mint"

bool unpack_key(const mint_key* key, mint::uuid_key* out) {
    if (key == nullptr || key->prepared != key_prepared_mark) return false;
    std::memcpy(out, key->state, sizeof *out);
    return true;
}

// The label whose MAC under a key is its fingerprint.
constexpr char key_id_label[] = "mint key id";
constexpr size_t key_id_bytes = (MINT_KEY_ID_SIZE - 1) / 2;
static_assert(key_id_bytes <= mint::hmac_sha256_mac_bytes);

}  // namespace

extern "C" {

int32_t mint_derive(const mint_person* patient, const mint_person* policy, const mint_options* options,
                    char* identifier, mint_result* result) {
    call_options call;
    mint_result outcome{MINT_BAD_ARGUMENT, MINT_FIELD_NONE, 0};
    if (identifier == nullptr) {
        // Nowhere to write to.
    } else if (const int32_t refused = read_options(options, &call); refused != 0) {
        outcome.status = refused;
        write_identifier(identifier, no_identifier);
    } else {
        outcome = derive_one(patient, policy, call.rule, call.key_or_null(), identifier);
    }
    if (result != nullptr) *result = outcome;
    return outcome.status;
}

int32_t mint_derive_columns(const mint_columns* columns, size_t rows, const mint_options* options,
                            char* identifiers, mint_result* results) {
    call_options call;
    if (rows == 0) return read_options(options, &call);
    if (columns == nullptr || identifiers == nullptr) return MINT_BAD_ARGUMENT;
    if (const int32_t refused = read_options(options, &call); refused != 0) return refused;
    const mint_columns& c = *columns;
    // Records to derive wait in pairs, whose hash computations run side by
    // side: a record waits in one slot until the next one fills the other.
    uuid_hash_data records[2];
    size_t waiting_row = 0;
    bool waiting = false;
    for (size_t row = 0; row < rows; ++row) {
        const mint_person patient = row_person(c.patient_name, c.patient_ssn, c.patient_gender, c.patient_birth_year,
                                               c.patient_birth_month, c.patient_birth_day, row);
        const mint_person policy = row_person(c.policy_name, c.policy_ssn, c.policy_gender, c.policy_birth_year,
                                              c.policy_birth_month, c.policy_birth_day, row);
        uuid_hash_data& data = records[waiting ? 1 : 0];
        const mint_result outcome = judge(&patient, &policy, call.rule, &data);
        if (results != nullptr) results[row] = outcome;
        char* const identifier = identifiers + row * MINT_ID_SIZE;
        if (outcome.status != MINT_IDENTIFIER) {
            write_identifier(identifier, text_without_derivation(outcome.status));
        } else if (!waiting) {
            waiting = true;
            waiting_row = row;
        } else {
            // Both records are derivable, so the pair prints nothing.
            mint::uuid_create_pair_keyed(&records[0], &records[1], call.key_or_null());
            write_identifier(identifiers + waiting_row * MINT_ID_SIZE, records[0].uuid);
            write_identifier(identifier, records[1].uuid);
            waiting = false;
        }
    }
    if (waiting) {
        mint::uuid_derive(&records[0], call.key_or_null());
        write_identifier(identifiers + waiting_row * MINT_ID_SIZE, records[0].uuid);
    }
    return 0;
}

const char* mint_result_text(const mint_result* result) {
    if (result == nullptr) return "unknown result";
    switch (result->status) {
        case MINT_IDENTIFIER:
            return "identifier derived";
        case MINT_ZERO:
            return "no ssn given: the zero identifier";
        case MINT_REFUSED:
            return is_field(result->field) ? refusal_texts[result->field] : "refused field";
        case MINT_INCOMPLETE:
            return "incomplete record: an ssn is given but neither key has all its fields";
        case MINT_BAD_ARGUMENT:
            return "bad argument: no output buffer, an unknown ssn rule or a key without its bytes";
        case MINT_EMPTY_KEY:
            return "empty key: a key needs at least one byte (no key at all is a NULL key)";
        default:
            return "unknown result";
    }
}

const char* mint_field_name(int32_t field) {
    return is_field(field) ? field_names[field] : "";
}

const char* mint_version(void) {
    return MINT_VERSION_TEXT;
}

int32_t mint_key_prepare(const unsigned char* secret, size_t length, mint_key* key) {
    if (secret == nullptr || length == 0 || key == nullptr) return MINT_BAD_ARGUMENT;
    mint::uuid_key prepared;
    mint::uuid_key_init(&prepared, secret, length);
    std::memcpy(key->state, &prepared, sizeof prepared);
    mint::wipe_secret(&prepared, sizeof prepared);
    key->prepared = key_prepared_mark;
    return 0;
}

int32_t mint_derive_prepared(const mint_person* patient, const mint_person* policy, int32_t ssn_rule,
                             const mint_key* key, char* identifier, mint_result* result) {
    mint_result outcome{MINT_BAD_ARGUMENT, MINT_FIELD_NONE, 0};
    mint::uuid_key prepared;
    const bool keyed = key != nullptr;
    const bool rule_known = ssn_rule == MINT_SSN_STRICT || ssn_rule == MINT_SSN_LENIENT;
    if (identifier == nullptr) {
        // Nowhere to write to.
    } else if (!rule_known || (keyed && !unpack_key(key, &prepared))) {
        write_identifier(identifier, no_identifier);
    } else {
        const auto rule = ssn_rule == MINT_SSN_LENIENT ? fields::ssn_rule::lenient : fields::ssn_rule::strict;
        outcome = derive_one(patient, policy, rule, keyed ? &prepared : nullptr, identifier);
    }
    if (keyed) mint::wipe_secret(&prepared, sizeof prepared);
    if (result != nullptr) *result = outcome;
    return outcome.status;
}

int32_t mint_key_id(const mint_key* key, char* key_id) {
    mint::uuid_key prepared;
    if (key_id == nullptr || !unpack_key(key, &prepared)) return MINT_BAD_ARGUMENT;
    unsigned char mac[mint::hmac_sha256_mac_bytes];
    mint::hmac_sha256(&prepared.mac, reinterpret_cast<const unsigned char*>(key_id_label), sizeof key_id_label - 1,
                      mac);
    mint::wipe_secret(&prepared, sizeof prepared);
    constexpr char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < key_id_bytes; ++i) {
        key_id[2 * i] = digits[mac[i] >> 4];
        key_id[2 * i + 1] = digits[mac[i] & 0x0f];
    }
    key_id[2 * key_id_bytes] = '\0';
    return 0;
}

}  // extern "C"

// ---- Fields as CSV exports hold them: mintbatch's own judging and mapping ----

namespace {

// "Not given" and the values that refuse a field, from a verdict.
int32_t pass_on(value_verdict verdict, int32_t value, int32_t* to) {
    switch (verdict) {
        case value_verdict::absent:
            *to = MINT_NOT_GIVEN;
            return MINT_TEXT_ABSENT;
        case value_verdict::value:
            // INT32_MIN is no field's value either way, but here it would read as not given.
            *to = value == MINT_NOT_GIVEN ? MINT_TEXT_REFUSED_VALUE : value;
            return MINT_TEXT_VALUE;
        case value_verdict::refused:
            break;
    }
    *to = MINT_TEXT_REFUSED_VALUE;
    return MINT_TEXT_REFUSED;
}

static_assert(MINT_MOST_GENDER_CODES == most_gender_codes && MINT_GENDER_CODE_SIZE == most_gender_code_length + 1);
static_assert(MINT_COLUMN_FIELDS == named_field_count && MINT_MOST_COLUMNS == most_columns);
static_assert(static_cast<int>(named_field::patient_name) == MINT_PATIENT_NAME &&
              static_cast<int>(named_field::policy_birth_day) == MINT_POLICY_BIRTH_DAY &&
              static_cast<int>(named_field::data_record) == MINT_COLUMN_DATA_RECORD &&
              static_cast<int>(named_field::patient_birth_date) == MINT_COLUMN_PATIENT_BIRTH_DATE &&
              static_cast<int>(named_field::policy_birth_date) == MINT_COLUMN_POLICY_BIRTH_DATE);

constexpr date_format date_formats[] = {date_format::year_month_day, date_format::day_month_year_slash,
                                        date_format::month_day_year_slash, date_format::day_month_year_dot,
                                        date_format::compact};

int32_t map_problem(mapping_problem problem) {
    switch (problem) {
        case mapping_problem::none: return MINT_MAP_OK;
        case mapping_problem::too_many_columns: return MINT_MAP_TOO_MANY_COLUMNS;
        case mapping_problem::duplicate_column: return MINT_MAP_DUPLICATE_COLUMN;
        case mapping_problem::missing_column: return MINT_MAP_MISSING_COLUMN;
        case mapping_problem::missing_mapped: return MINT_MAP_MISSING_MAPPED;
        case mapping_problem::claimed_twice: return MINT_MAP_CLAIMED_TWICE;
        case mapping_problem::date_and_numbers: return MINT_MAP_DATE_AND_NUMBERS;
    }
    return MINT_MAP_TOO_MANY_COLUMNS;
}

}  // namespace

extern "C" {

int32_t mint_read_number(const char* text, int32_t* value) {
    if (text == nullptr || value == nullptr) return MINT_BAD_ARGUMENT;
    int32_t number = 0;
    const value_verdict verdict = judge_number(text, &number);
    return pass_on(verdict, number, value);
}

int32_t mint_date_format(const char* text) {
    date_format format;
    if (text == nullptr || !find_date_format(text, &format)) return -1;
    for (int32_t i = 0; i < static_cast<int32_t>(sizeof date_formats / sizeof date_formats[0]); ++i) {
        if (date_formats[i] == format) return i;
    }
    return -1;
}

int32_t mint_read_date(const char* text, int32_t format, int32_t* year, int32_t* month, int32_t* day) {
    if (text == nullptr || year == nullptr || month == nullptr || day == nullptr || format < 0 ||
        format >= static_cast<int32_t>(sizeof date_formats / sizeof date_formats[0])) {
        return MINT_BAD_ARGUMENT;
    }
    int32_t parts[3] = {};
    const value_verdict verdict = judge_date(text, date_formats[format], &parts[0], &parts[1], &parts[2]);
    *month = MINT_NOT_GIVEN;
    *day = MINT_NOT_GIVEN;
    const int32_t status = pass_on(verdict, parts[0], year);
    if (status == MINT_TEXT_VALUE) {
        pass_on(verdict, parts[1], month);
        pass_on(verdict, parts[2], day);
    }
    return status;
}

int32_t mint_gender_codes_parse(const char* text, mint_gender_codes* codes) {
    if (text == nullptr || codes == nullptr) return MINT_BAD_ARGUMENT;
    gender_codes parsed;
    std::memset(codes, 0, sizeof *codes);
    if (!parse_gender_codes(text, &parsed)) return MINT_BAD_ARGUMENT;
    codes->count = static_cast<uint32_t>(parsed.count);
    for (size_t i = 0; i < parsed.count; ++i) {
        codes->value[i] = parsed.value[i];
        std::memcpy(codes->code[i], parsed.code[i], sizeof codes->code[i]);
    }
    return 0;
}

int32_t mint_read_gender(const char* text, const mint_gender_codes* codes, int32_t* value) {
    if (text == nullptr || value == nullptr) return MINT_BAD_ARGUMENT;
    gender_codes taken;
    if (codes != nullptr) {
        // Only what parse_gender_codes could have written counts: a
        // caller's struct may hold anything.
        taken.count = codes->count < most_gender_codes ? codes->count : most_gender_codes;
        for (size_t i = 0; i < taken.count; ++i) {
            taken.value[i] = codes->value[i];
            std::memcpy(taken.code[i], codes->code[i], most_gender_code_length);
            taken.code[i][most_gender_code_length] = '\0';
        }
    }
    int32_t number = 0;
    const value_verdict verdict = judge_gender(text, codes != nullptr ? &taken : nullptr, &number);
    return pass_on(verdict, number, value);
}

const char* mint_column_field_name(int32_t index) {
    if (index < 0 || index >= MINT_COLUMN_FIELDS) return "";
    return named_field_name(static_cast<named_field>(index));
}

int32_t mint_column_field(const char* name) {
    named_field field;
    if (name == nullptr || !find_named_field(name, std::strlen(name), &field)) return -1;
    return static_cast<int32_t>(field);
}

int32_t mint_map_columns(const char* const* names, size_t count, const char* const* mapped, mint_column_map* map) {
    if (map == nullptr || (names == nullptr && count > 0)) return MINT_BAD_ARGUMENT;
    std::memset(map, 0, sizeof *map);
    for (int32_t& column : map->column) column = -1;
    map->problem = MINT_MAP_TOO_MANY_COLUMNS;
    if (count > most_columns) return map->problem;
    // The names as the header line mintbatch would read, each quoted as CSV
    // needs, so that map_header itself maps them.
    char header[most_record_bytes];
    size_t used = 0;
    for (size_t c = 0; c < count; ++c) {
        const char* name = names[c] != nullptr ? names[c] : "";
        if (c > 0) {
            if (used == sizeof header) return map->problem;
            header[used++] = ',';
        }
        const size_t needed = quote_field(name, std::strlen(name), ',', header + used, sizeof header - used);
        if (needed > sizeof header - used) return map->problem;
        used += needed;
    }
    column_choice choice = {};
    for (int f = 0; f < named_field_count; ++f) {
        choice.mapped[f] = mapped != nullptr && mapped[f] != nullptr ? mapped[f] : nullptr;
    }
    header_mapping mapping;
    map_header(header, used, ',', choice, &mapping);
    map->problem = map_problem(mapping.problem);
    map->field = static_cast<int32_t>(mapping.field);
    map->other = static_cast<int32_t>(mapping.other);
    map->duplicate = static_cast<int32_t>(mapping.duplicate);
    if (map->problem == MINT_MAP_OK || map->problem == MINT_MAP_MISSING_COLUMN) {
        for (int f = 0; f < named_field_count; ++f) map->column[f] = mapping.column_of[f];
    }
    return map->problem;
}

}  // extern "C"
