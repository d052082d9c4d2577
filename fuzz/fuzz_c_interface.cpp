// The C interface against the library's record path on any fields: for every
// record the input describes, mint_derive gives the identifier that the
// setters and uuid_create give on a uuid_hash_data, or refuses it for the
// field a setter refused or with the marks uuid_create reported; under the
// strict rule (the programs' copy, linked here) and the lenient one (the
// shared library libmintcore, loaded at run time). mint_derive_columns over
// all the records gives what the single calls give, row by row.
//
// Input: one control byte, then records separated by '\n', each with up to
// twelve fields in mintbatch's column order separated by '|'. A number field
// is an optional '-' and digits (saturated to 32 bits), or '#' and four raw
// bytes; an empty field, or one without digits, is not given. With control
// bit 2 the first line is a secret, of any bytes and length, and every
// identifier is keyed with it (the reference derives with the keyed
// derivation on the record the setters filled).
#include <dlfcn.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "mint.h"
#include "mintcore.h"
#include "uuid_keyed.h"

namespace {

constexpr size_t max_records = 16;
constexpr size_t field_count = 12;

using text_setter = int (*)(uuid_hash_data*, char*);
using number_setter = int (*)(uuid_hash_data*, int);

// One build of the library's record path: its setters in column order.
struct record_path {
    void (*initialize)(uuid_hash_data*);
    text_setter name[2];
    text_setter ssn[2];
    number_setter number[2][4];  // gender, year, month, day
    int (*create)(uuid_hash_data*);
};

const record_path strict_path = {
    uuid_initialize,
    {uuid_hash_set_patient_name, uuid_hash_set_policy_name},
    {uuid_hash_set_patient_ssn, uuid_hash_set_policy_ssn},
    {{uuid_hash_set_patient_gender, uuid_hash_set_patient_birth_year, uuid_hash_set_patient_birth_month,
      uuid_hash_set_patient_birth_day},
     {uuid_hash_set_policy_gender, uuid_hash_set_policy_birth_year, uuid_hash_set_policy_birth_month,
      uuid_hash_set_policy_birth_day}},
    uuid_create,
};

template <typename F>
F symbol(void* library, const char* name) {
    void* address = dlsym(library, name);
    FUZZ_CHECK(address != nullptr);
    return reinterpret_cast<F>(address);
}

// The shared library's own functions, by their C++ symbol names: the same
// names in this program are the programs' strict copy.
record_path load_lenient_path() {
    void* library = dlopen(MINT_FUZZ_MINTCORE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    FUZZ_CHECK(library != nullptr);
    record_path path{};
    path.initialize = symbol<void (*)(uuid_hash_data*)>(library, "_Z15uuid_initializeP14uuid_hash_data");
    path.name[0] = symbol<text_setter>(library, "_Z26uuid_hash_set_patient_nameP14uuid_hash_dataPc");
    path.name[1] = symbol<text_setter>(library, "_Z25uuid_hash_set_policy_nameP14uuid_hash_dataPc");
    path.ssn[0] = symbol<text_setter>(library, "_Z25uuid_hash_set_patient_ssnP14uuid_hash_dataPc");
    path.ssn[1] = symbol<text_setter>(library, "_Z24uuid_hash_set_policy_ssnP14uuid_hash_dataPc");
    path.number[0][0] = symbol<number_setter>(library, "_Z28uuid_hash_set_patient_genderP14uuid_hash_datai");
    path.number[0][1] = symbol<number_setter>(library, "_Z32uuid_hash_set_patient_birth_yearP14uuid_hash_datai");
    path.number[0][2] = symbol<number_setter>(library, "_Z33uuid_hash_set_patient_birth_monthP14uuid_hash_datai");
    path.number[0][3] = symbol<number_setter>(library, "_Z31uuid_hash_set_patient_birth_dayP14uuid_hash_datai");
    path.number[1][0] = symbol<number_setter>(library, "_Z27uuid_hash_set_policy_genderP14uuid_hash_datai");
    path.number[1][1] = symbol<number_setter>(library, "_Z31uuid_hash_set_policy_birth_yearP14uuid_hash_datai");
    path.number[1][2] = symbol<number_setter>(library, "_Z32uuid_hash_set_policy_birth_monthP14uuid_hash_datai");
    path.number[1][3] = symbol<number_setter>(library, "_Z30uuid_hash_set_policy_birth_dayP14uuid_hash_datai");
    path.create = symbol<int (*)(uuid_hash_data*)>(library, "_Z11uuid_createP14uuid_hash_data");
    return path;
}

// One record's fields: texts as given (not given: null), numbers.
struct record_fields {
    std::string text[2][2];  // [person][name, ssn]
    bool text_given[2][2] = {};
    int32_t number[2][4] = {};
};

int32_t number_of(const std::string& piece) {
    if (piece.size() >= 5 && piece[0] == '#') {
        uint32_t raw = 0;
        std::memcpy(&raw, piece.data() + 1, 4);
        return static_cast<int32_t>(raw);
    }
    size_t i = 0;
    const bool negative = i < piece.size() && piece[i] == '-';
    if (negative) ++i;
    if (i >= piece.size() || piece[i] < '0' || piece[i] > '9') return MINT_NOT_GIVEN;
    int64_t value = 0;
    for (; i < piece.size() && piece[i] >= '0' && piece[i] <= '9'; ++i) {
        value = value * 10 + (piece[i] - '0');
        if (value > int64_t{INT32_MAX} + 1) value = int64_t{INT32_MAX} + 1;
    }
    value = negative ? -value : value;
    if (value > INT32_MAX) value = INT32_MAX;
    return static_cast<int32_t>(value);
}

std::vector<record_fields> records_of(const uint8_t* data, size_t size, bool empty_is_null) {
    std::vector<record_fields> records;
    size_t at = 0;
    while (at <= size && records.size() < max_records) {
        size_t end = at;
        while (end < size && data[end] != '\n') ++end;
        record_fields r;
        size_t field = 0;
        size_t piece_start = at;
        for (size_t i = at; i <= end && field < field_count; ++i) {
            if (i < end && data[i] != '|') continue;
            std::string piece(reinterpret_cast<const char*>(data) + piece_start, i - piece_start);
            // A text ends at its first zero byte, for the C interface and the setters alike.
            piece.resize(std::strlen(piece.c_str()));
            const size_t person = field / 6;
            const size_t kind = field % 6;
            if (kind < 2) {
                r.text[person][kind] = piece;
                // An empty text is "not given" both ways; which one the
                // C interface sees depends on the control byte.
                r.text_given[person][kind] = !piece.empty() || !empty_is_null;
            } else {
                r.number[person][kind - 2] = number_of(piece);
            }
            ++field;
            piece_start = i + 1;
        }
        for (; field < field_count; ++field) {
            if (field % 6 >= 2) r.number[field / 6][field % 6 - 2] = MINT_NOT_GIVEN;
        }
        records.push_back(r);
        at = end + 1;
    }
    return records;
}

const char* text_for_c(const record_fields& r, size_t person, size_t kind) {
    return r.text_given[person][kind] ? r.text[person][kind].c_str() : nullptr;
}

mint_person person_for_c(const record_fields& r, size_t person) {
    return {text_for_c(r, person, 0), text_for_c(r, person, 1), r.number[person][0], r.number[person][1],
            r.number[person][2], r.number[person][3]};
}

bool derivable(uint32_t flags) {
    return (flags & PATIENT_FIELDS) == PATIENT_FIELDS || flags == POLICY_KEY_FLAGS;
}

// The record through one build's setters and uuid_create, held against what
// the C interface said about it.
void check_against_path(const record_path& path, const mint::uuid_key* key, const record_fields& r,
                        const mint_result& result, const char* identifier) {
    uuid_hash_data data;
    path.initialize(&data);
    int32_t refused = MINT_FIELD_NONE;
    bool name_refused[2] = {};
    for (size_t person = 0; person < 2; ++person) {
        const int32_t first_field = person == 0 ? MINT_PATIENT_NAME : MINT_POLICY_NAME;
        // A non-empty text is handed over, as mintbatch hands over a non-empty CSV field.
        for (size_t kind = 0; kind < 2; ++kind) {
            if (r.text[person][kind].empty()) continue;
            std::string copy = r.text[person][kind];
            const text_setter set = kind == 0 ? path.name[person] : path.ssn[person];
            if (set(&data, copy.data())) continue;
            if (kind == 0) {
                name_refused[person] = true;
            } else if (refused == MINT_FIELD_NONE) {
                refused = first_field + 1;
            }
        }
        for (size_t i = 0; i < 4; ++i) {
            const int32_t value = r.number[person][i];
            if (value == MINT_NOT_GIVEN || path.number[person][i](&data, value)) continue;
            if (refused == MINT_FIELD_NONE) refused = first_field + 2 + static_cast<int32_t>(i);
        }
    }
    FUZZ_CHECK(result.flags == data.flags);
    if (refused != MINT_FIELD_NONE) {
        FUZZ_CHECK(result.status == MINT_REFUSED && result.field == refused);
        FUZZ_CHECK(identifier[0] == '\0');
        return;
    }
    if (key != nullptr ? mint::uuid_create_keyed(&data, key) : path.create(&data)) {
        FUZZ_CHECK(result.status == (derivable(data.flags) ? MINT_IDENTIFIER : MINT_ZERO));
        FUZZ_CHECK(result.field == MINT_FIELD_NONE);
        FUZZ_CHECK(std::memcmp(identifier, data.uuid, MINT_ID_SIZE) == 0);
        FUZZ_CHECK(is_uuid_text(identifier));
        return;
    }
    FUZZ_CHECK(identifier[0] == '\0');
    if (result.status == MINT_REFUSED) {
        FUZZ_CHECK((result.field == MINT_PATIENT_NAME && name_refused[0]) ||
                   (result.field == MINT_POLICY_NAME && name_refused[1] && !name_refused[0]));
    } else {
        FUZZ_CHECK(result.status == MINT_INCOMPLETE && result.field == MINT_FIELD_NONE);
        FUZZ_CHECK(!name_refused[0] && !name_refused[1]);
    }
}

// Columns over all records; a field no record gives may be left out as a
// null column.
struct record_columns {
    std::vector<const char*> text[2][2];
    std::vector<int32_t> number[2][4];

    mint_columns columns(bool leave_out_unused) const {
        auto text_column = [&](size_t person, size_t kind) -> const char* const* {
            bool used = false;
            for (const char* t : text[person][kind]) used = used || t != nullptr;
            return leave_out_unused && !used ? nullptr : text[person][kind].data();
        };
        auto number_column = [&](size_t person, size_t i) -> const int32_t* {
            bool used = false;
            for (int32_t n : number[person][i]) used = used || n != MINT_NOT_GIVEN;
            return leave_out_unused && !used ? nullptr : number[person][i].data();
        };
        return {text_column(0, 0),   text_column(0, 1),   number_column(0, 0), number_column(0, 1),
                number_column(0, 2), number_column(0, 3), text_column(1, 0),   text_column(1, 1),
                number_column(1, 0), number_column(1, 1), number_column(1, 2), number_column(1, 3)};
    }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const record_path lenient_path = load_lenient_path();
    if (size < 1) return 0;
    const uint8_t control = data[0];
    size_t records_at = 1;
    std::vector<unsigned char> secret;
    if ((control & 4) != 0) {
        while (records_at < size && data[records_at] != '\n') secret.push_back(data[records_at++]);
        ++records_at;
    }
    const std::vector<record_fields> records =
        records_at <= size ? records_of(data + records_at, size - records_at, (control & 1) != 0)
                           : std::vector<record_fields>{};
    mint::uuid_key prepared;
    mint::uuid_key_init(&prepared, secret.data(), secret.size());
    // No secret, or an empty one, is no key.
    const mint::uuid_key* key = secret.empty() ? nullptr : &prepared;

    for (const bool strict : {true, false}) {
        // An empty secret goes as no key: a key pointer of length 0 is refused.
        const mint_options options{strict ? MINT_SSN_STRICT : MINT_SSN_LENIENT,
                                   secret.empty() ? nullptr : secret.data(), secret.size()};
        const record_path& path = strict ? strict_path : lenient_path;
        std::vector<char> identifiers(records.size() * MINT_ID_SIZE);
        std::vector<mint_result> results(records.size());
        record_columns columns;
        for (size_t row = 0; row < records.size(); ++row) {
            const record_fields& r = records[row];
            const mint_person patient = person_for_c(r, 0);
            const mint_person policy = person_for_c(r, 1);
            char* const identifier = &identifiers[row * MINT_ID_SIZE];
            const int32_t status = mint_derive(&patient, &policy, &options, identifier, &results[row]);
            FUZZ_CHECK(status == results[row].status);
            FUZZ_CHECK(identifier[MINT_ID_SIZE - 1] == '\0');
            check_against_path(path, key, r, results[row], identifier);
            for (size_t person = 0; person < 2; ++person) {
                for (size_t kind = 0; kind < 2; ++kind) columns.text[person][kind].push_back(text_for_c(r, person, kind));
                for (size_t i = 0; i < 4; ++i) columns.number[person][i].push_back(r.number[person][i]);
            }
        }
        const mint_columns c = columns.columns((control & 2) != 0);
        std::vector<char> column_identifiers(records.size() * MINT_ID_SIZE, 'x');
        std::vector<mint_result> column_results(records.size());
        FUZZ_CHECK(mint_derive_columns(&c, records.size(), &options, column_identifiers.data(),
                                       column_results.data()) == 0);
        FUZZ_CHECK(column_identifiers == identifiers);
        for (size_t row = 0; row < records.size(); ++row) {
            FUZZ_CHECK(column_results[row].status == results[row].status);
            FUZZ_CHECK(column_results[row].field == results[row].field);
            FUZZ_CHECK(column_results[row].flags == results[row].flags);
        }
    }
    return 0;
}
