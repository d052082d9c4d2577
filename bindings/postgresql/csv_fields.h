/*
 * csv_fields.h: the fields of mint_uuid_text as mintbatch reads the same
 * fields of a CSV line, by mintbatch's own code (csv_fields.cpp).
 */
#ifndef MINT_PG_CSV_FIELDS_H
#define MINT_PG_CSV_FIELDS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* What a number field's text is to mintbatch. */
#define MINT_PG_NUMBER_NOT_GIVEN 0 /* empty, or a lone '-' */
#define MINT_PG_NUMBER_GIVEN 1     /* an optional '-' and digits: *value, saturated to 32 bits */
#define MINT_PG_NUMBER_MALFORMED 2 /* anything else: cuts the line short */

/*
 * Judges the `length` bytes of text at `buffer` as mintbatch judges the
 * same text as an unquoted field followed by a comma. The buffer holds at
 * least length + 2 bytes: this writes the comma and a terminator behind the
 * text. In the line's last field, where no comma follows, mintbatch counts
 * a malformed field as not given; the caller decides that.
 */
int mint_pg_csv_number(char *buffer, size_t length, int32_t *value);

/* Bytes of a name and of an SSN field that mintbatch keeps. */
size_t mint_pg_csv_name_bytes(void);
size_t mint_pg_csv_ssn_bytes(void);

#ifdef __cplusplus
}
#endif

#endif
