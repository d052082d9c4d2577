// mint_uuid_text's fields through mintbatch's own readers, so that the text
// form and mintbatch can never judge the same field differently.
#include "csv_fields.h"

#include "csv_record.h"
#include "patient_record.h"

int mint_pg_csv_number(char* buffer, size_t length, int32_t* value) {
    // Followed by a comma, the field is read as it is in the middle of a
    // line: a malformed field then ends the read (nullptr), and a field with
    // a comma of its own (from a quoted CSV field) stops short of its end.
    buffer[length] = ',';
    buffer[length + 1] = '\0';
    int empty = 1;
    int32_t number = 0;
    const char* next = read_csv_int_field(buffer, &empty, &number);
    if (next != buffer + length + 1) return MINT_PG_NUMBER_MALFORMED;
    if (empty) return MINT_PG_NUMBER_NOT_GIVEN;
    *value = number;
    return MINT_PG_NUMBER_GIVEN;
}

size_t mint_pg_csv_name_bytes(void) {
    return sizeof patient_record{}.patient_name - 1;
}

size_t mint_pg_csv_ssn_bytes(void) {
    return csv_ssn_field_capacity - 1;
}
