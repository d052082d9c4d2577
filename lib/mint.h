/* mint.h: the C interface of the mint identifier library (libmint).
 *
 * Derives a patient's 12-character identifier from plain fields, for callers
 * in any language that can call C. It gives exactly the identifier that
 * mintbatch, mintsolo and libmintcore give for the same fields, and refuses
 * exactly the records they refuse; by default an SSN must have exactly nine
 * digits, as in the two programs.
 *
 *   mint_person patient = MINT_PERSON_INIT;
 *   char id[MINT_ID_SIZE];
 *   patient.name = "Jane Doe";  patient.ssn = "123-45-6789";
 *   patient.gender = 2;  patient.birth_year = 1970;
 *   patient.birth_month = 1;  patient.birth_day = 31;
 *   if (mint_derive(&patient, NULL, NULL, id, NULL) == MINT_IDENTIFIER)
 *       puts(id);                                            // uc1kb3lfu4p3
 *
 * Fields "not given": a text is not given when its pointer is NULL or it is
 * empty (""), as mintbatch skips an empty CSV field; a number is not given
 * when it is MINT_NOT_GIVEN (INT32_MIN), never 0: a 0 is a given value, and
 * out of range. Every given field is judged by the library's own rules.
 *
 * The functions print nothing, allocate nothing, keep no state between
 * calls and may be called from any number of threads at once. Valid C99 and
 * later, and C++98 and later.
 */
#ifndef MINT_H
#define MINT_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__) || defined(__clang__)
#define MINT_API __attribute__((visibility("default")))
#else
#define MINT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A number field that is not given. Every field's range excludes it, so a
 * caller that holds a real out-of-range value must pass any other value
 * outside the range (INT32_MIN + 1, say) to have it refused. */
#define MINT_NOT_GIVEN INT32_MIN

/* Bytes of an identifier text: 12 characters and a terminating zero. */
#define MINT_ID_SIZE 13

/* One person's six fields. Names count by their ASCII letters (case folded,
 * the first 20), SSNs by their digits. Gender 1 or 2; birth year 1851 to
 * 2099, month 1 to 12, day 1 to 31 (no calendar check). */
typedef struct mint_person {
    const char* name;     /* NULL or "": not given */
    const char* ssn;      /* NULL or "": not given */
    int32_t gender;       /* MINT_NOT_GIVEN: not given */
    int32_t birth_year;
    int32_t birth_month;
    int32_t birth_day;
} mint_person;

/* A person with no field given: start every mint_person from this. */
#define MINT_PERSON_INIT { NULL, NULL, MINT_NOT_GIVEN, MINT_NOT_GIVEN, MINT_NOT_GIVEN, MINT_NOT_GIVEN }

/* SSN rules (mint_options.ssn_rule). */
#define MINT_SSN_STRICT 0   /* exactly nine digits, as mintbatch and mintsolo (default) */
#define MINT_SSN_LENIENT 1  /* at least one digit, the first nine used, as libmintcore */

/* Options of a call; a NULL options pointer, or an all-zero struct, means
 * the strict SSN rule and no key. With a key (a secret of one byte or more;
 * a key pointer with length 0 is refused with MINT_EMPTY_KEY), the
 * last SHA-256 computation of a derivation is HMAC-SHA-256 under it: only
 * holders of the secret can compute the identifiers, and the same secret
 * gives the same keyed identifiers wherever it is used. The zero identifier
 * and every refusal stay as they are. The call prepares the secret once and
 * keeps no copy of it. */
typedef struct mint_options {
    int32_t ssn_rule;          /* MINT_SSN_STRICT or MINT_SSN_LENIENT */
    const unsigned char* key;  /* the secret's bytes; NULL (with length 0): unkeyed */
    size_t key_length;         /* bytes of key; 0 only without a key */
} mint_options;

/* What a call gave (mint_result.status, and the return value of mint_derive). */
#define MINT_IDENTIFIER 0    /* an identifier was derived (patient key or policy key) */
#define MINT_ZERO 1          /* no SSN given anywhere: "000000000000", which is nobody's identifier */
#define MINT_REFUSED 2       /* a given field's value is refused: mint_result.field says which */
#define MINT_INCOMPLETE 3    /* an SSN is given but neither key has all its fields: see mint_result.flags */
#define MINT_BAD_ARGUMENT 4  /* the call itself is wrong (no output buffer, unknown SSN rule, key NULL with a length) */
#define MINT_EMPTY_KEY 5     /* a key pointer with key_length 0: an empty secret, never taken for no key */

/* Fields (mint_result.field), in the order of mintbatch's CSV columns. Each
 * field has one reason for refusal: a name without letters, an SSN without
 * the digits its rule needs, a number out of its range. */
#define MINT_FIELD_NONE 0
#define MINT_PATIENT_NAME 1
#define MINT_PATIENT_SSN 2
#define MINT_PATIENT_GENDER 3
#define MINT_PATIENT_BIRTH_YEAR 4
#define MINT_PATIENT_BIRTH_MONTH 5
#define MINT_PATIENT_BIRTH_DAY 6
#define MINT_POLICY_NAME 7
#define MINT_POLICY_SSN 8
#define MINT_POLICY_GENDER 9
#define MINT_POLICY_BIRTH_YEAR 10
#define MINT_POLICY_BIRTH_MONTH 11
#define MINT_POLICY_BIRTH_DAY 12

/* Set-marks (mint_result.flags): one bit per field given and accepted, the
 * same values that libmintcore's uuid_create prints ("Flags 002f"). */
#define MINT_MARK_PATIENT_SSN 0x0001u
#define MINT_MARK_PATIENT_NAME 0x0002u
#define MINT_MARK_PATIENT_BIRTH_DAY 0x0004u
#define MINT_MARK_PATIENT_GENDER 0x0008u
#define MINT_MARK_PATIENT_BIRTH_YEAR 0x0010u
#define MINT_MARK_PATIENT_BIRTH_MONTH 0x0020u
#define MINT_MARK_POLICY_SSN 0x0100u
#define MINT_MARK_POLICY_NAME 0x0200u
#define MINT_MARK_POLICY_BIRTH_DAY 0x0400u
#define MINT_MARK_POLICY_GENDER 0x0800u
#define MINT_MARK_POLICY_BIRTH_YEAR 0x1000u
#define MINT_MARK_POLICY_BIRTH_MONTH 0x2000u

/* The outcome for one record.
 * - MINT_REFUSED: `field` is the first refused SSN or number in column
 *   order. A refused name (one without letters), as in mintbatch, refuses
 *   the record only when it leaves the record incomplete, and is then the
 *   field: with no SSN anywhere the record still gets the zero identifier,
 *   and a complete patient key does not need the policy holder's name.
 * - `flags` holds the marks of every field given and accepted (all twelve
 *   are judged, also after a refused one); for MINT_INCOMPLETE it is the
 *   value to show, as "%04x". */
typedef struct mint_result {
    int32_t status;  /* MINT_IDENTIFIER ... MINT_EMPTY_KEY */
    int32_t field;   /* MINT_REFUSED: the refused field; else MINT_FIELD_NONE */
    uint32_t flags;  /* MINT_MARK_... bits */
} mint_result;

/* Derives one record's identifier from the patient's fields and, where
 * given, the policy holder's (either pointer may be NULL: nothing given).
 * Writes MINT_ID_SIZE bytes to `identifier`: the identifier for
 * MINT_IDENTIFIER, "000000000000" for MINT_ZERO, an empty text otherwise.
 * Fills *result when `result` is not NULL. Returns result->status.
 * MINT_BAD_ARGUMENT when `identifier` is NULL or the options are wrong,
 * MINT_EMPTY_KEY when the options give a key of length 0. */
MINT_API int32_t mint_derive(const mint_person* patient, const mint_person* policy, const mint_options* options,
                             char* identifier, mint_result* result);

/* Columns of many records, one entry per row. A NULL column means that field
 * is not given in any row; within a column, a NULL or "" text and a
 * MINT_NOT_GIVEN number mean not given in that row. */
typedef struct mint_columns {
    const char* const* patient_name;
    const char* const* patient_ssn;
    const int32_t* patient_gender;
    const int32_t* patient_birth_year;
    const int32_t* patient_birth_month;
    const int32_t* patient_birth_day;
    const char* const* policy_name;
    const char* const* policy_ssn;
    const int32_t* policy_gender;
    const int32_t* policy_birth_year;
    const int32_t* policy_birth_month;
    const int32_t* policy_birth_day;
} mint_columns;

/* Derives the identifiers of `rows` records at once, row i exactly as
 * mint_derive would. Writes rows * MINT_ID_SIZE bytes to `identifiers` (row
 * i's text at identifiers + i * MINT_ID_SIZE) and, when `results` is not
 * NULL, row i's outcome to results[i]. Returns 0 when every row was done;
 * MINT_BAD_ARGUMENT, writing nothing, when `columns` or `identifiers` is
 * NULL (with rows above 0) or the options are wrong; MINT_EMPTY_KEY, writing
 * nothing, when the options give a key of length 0. */
MINT_API int32_t mint_derive_columns(const mint_columns* columns, size_t rows, const mint_options* options,
                                     char* identifiers, mint_result* results);

/* A stable English text for a result, such as "patient_ssn: invalid ssn" or
 * "incomplete record: an ssn is given but neither key has all its fields".
 * Never NULL; the text is static. */
MINT_API const char* mint_result_text(const mint_result* result);

/* The name of a field ("patient_ssn"), as in mintbatch's CSV header; "" for
 * MINT_FIELD_NONE and any other value. */
MINT_API const char* mint_field_name(int32_t field);

/* The library's version, "1.0.0". */
MINT_API const char* mint_version(void);


/* ---- Prepared keys, for callers that derive many records under one key ----
 * mint_derive prepares its key on every call (two SHA-256 compressions). A
 * caller that keeps one key for many calls prepares it once into a mint_key
 * and derives with mint_derive_prepared. A mint_key stands in for the secret:
 * keep it as secret, and overwrite it with zeros when done. */

/* A prepared key; its contents are the library's own. */
typedef struct mint_key {
    uint32_t state[16];
    uint32_t prepared;  /* nonzero once mint_key_prepare has filled it */
} mint_key;

/* Bytes of a key fingerprint text: 16 hex digits and a terminating zero. */
#define MINT_KEY_ID_SIZE 17

/* Prepares `length` bytes of secret (length above 0) into *key. Returns 0;
 * MINT_BAD_ARGUMENT when key or secret is NULL or length is 0. */
MINT_API int32_t mint_key_prepare(const unsigned char* secret, size_t length, mint_key* key);

/* mint_derive with the SSN rule given directly and the key prepared: a NULL
 * key gives unkeyed identifiers, a prepared one exactly what mint_derive
 * gives with the same secret in its options. MINT_BAD_ARGUMENT when
 * `identifier` is NULL, the rule is unknown or the key is not prepared. */
MINT_API int32_t mint_derive_prepared(const mint_person* patient, const mint_person* policy, int32_t ssn_rule,
                                      const mint_key* key, char* identifier, mint_result* result);

/* A short public fingerprint of a prepared key, so that stored identifiers
 * can record which key made them: the first 8 bytes of HMAC-SHA-256 under
 * the key of the fixed text "mint key id", as 16 lowercase hex digits in
 * MINT_KEY_ID_SIZE bytes. It tells keys apart and reveals nothing of them.
 * Returns 0; MINT_BAD_ARGUMENT when either pointer is NULL or the key is not
 * prepared. */
MINT_API int32_t mint_key_id(const mint_key* key, char* key_id);

/* ---- Fields as CSV exports hold them: texts judged as mintbatch judges them ----
 * For callers that read files as text (a DataFrame read with every column
 * as text, say) and must give exactly mintbatch's identifiers: the same
 * code judges a number, a date and a gender code, and maps column names to
 * fields as mintbatch --by-name does. */

/* What a text gave (the return value of mint_read_number, mint_read_date
 * and mint_read_gender). The value written is always one to pass on to
 * mint_derive as it is: MINT_NOT_GIVEN for MINT_TEXT_ABSENT, the value for
 * MINT_TEXT_VALUE (within 32 bits, never MINT_NOT_GIVEN: a number below
 * every range reads as INT32_MIN + 1), MINT_TEXT_REFUSED_VALUE for
 * MINT_TEXT_REFUSED, which refuses the field as mintbatch refuses the
 * record. MINT_BAD_ARGUMENT (4) when a pointer is NULL, writing nothing. */
#define MINT_TEXT_ABSENT 0   /* empty (or a lone '-' for a number): not given */
#define MINT_TEXT_VALUE 1
#define MINT_TEXT_REFUSED 2  /* not a value of its kind (blanks, '+', letters, a fraction, another date layout) */
#define MINT_TEXT_REFUSED_VALUE (INT32_MIN + 1)

/* A number field's text: an optional '-' and decimal digits. */
MINT_API int32_t mint_read_number(const char* text, int32_t* value);

/* Date layouts (mint_date_format gives one from its strftime-style text). */
#define MINT_DATE_Y_M_D 0        /* "%Y-%m-%d" (mintbatch's default) */
#define MINT_DATE_D_M_Y_SLASH 1  /* "%d/%m/%Y" */
#define MINT_DATE_M_D_Y_SLASH 2  /* "%m/%d/%Y" */
#define MINT_DATE_D_M_Y_DOT 3    /* "%d.%m.%Y" */
#define MINT_DATE_COMPACT 4      /* "%Y%m%d" */

/* The layout named by `text` ("%Y-%m-%d", ...), as --date-format takes it;
 * -1 for any other text or NULL. */
MINT_API int32_t mint_date_format(const char* text);

/* A date column's text in `format`: four digits of year, one or two of
 * month and day (exactly eight digits for MINT_DATE_COMPACT). Writes the
 * year, month and day (each as mint_read_number describes; a refused date
 * refuses the year and leaves month and day not given). MINT_BAD_ARGUMENT
 * for an unknown format too. */
MINT_API int32_t mint_read_date(const char* text, int32_t format, int32_t* year, int32_t* month, int32_t* day);

/* Gender codes, as --gender-values takes them: "M=1,F=2" reads M and m as
 * 1, F and f as 2 (ASCII case ignored). Plain data, filled by
 * mint_gender_codes_parse. */
#define MINT_MOST_GENDER_CODES 16
#define MINT_GENDER_CODE_SIZE 32  /* a code of at most 31 bytes and its zero */
typedef struct mint_gender_codes {
    uint32_t count;
    int32_t value[MINT_MOST_GENDER_CODES];
    char code[MINT_MOST_GENDER_CODES][MINT_GENDER_CODE_SIZE];
} mint_gender_codes;

/* Parses "CODE=NUMBER[,CODE=NUMBER...]" into *codes (codes not empty, without
 * '=' or ',', at most 31 bytes; at most 16 of them). Returns 0;
 * MINT_BAD_ARGUMENT for any other text or a NULL pointer. */
MINT_API int32_t mint_gender_codes_parse(const char* text, mint_gender_codes* codes);

/* A gender column's text: one of the codes gives its number, anything else
 * is read as a number (codes may be NULL: numbers only). */
MINT_API int32_t mint_read_gender(const char* text, const mint_gender_codes* codes, int32_t* value);

/* Columns a name may give: index 0 the record key, 1 to 12 the fields
 * MINT_PATIENT_NAME to MINT_POLICY_BIRTH_DAY, and one date column for each
 * person's birth in place of its year, month and day. */
#define MINT_COLUMN_DATA_RECORD 0
#define MINT_COLUMN_PATIENT_BIRTH_DATE 13
#define MINT_COLUMN_POLICY_BIRTH_DATE 14
#define MINT_COLUMN_FIELDS 15
#define MINT_MOST_COLUMNS 1024  /* columns mint_map_columns reads, at most 64 KiB of names */

/* The name of column field `index` ("data_record", "patient_birth_date");
 * "" for any other index. */
MINT_API const char* mint_column_field_name(int32_t index);

/* The column field named `name` (ASCII case and surrounding blanks
 * ignored, as --map's FIELD); -1 when none. */
MINT_API int32_t mint_column_field(const char* name);

/* Problems of a mapping (mint_column_map.problem). */
#define MINT_MAP_OK 0
#define MINT_MAP_TOO_MANY_COLUMNS 16  /* more than MINT_MOST_COLUMNS, or over 64 KiB of names */
#define MINT_MAP_DUPLICATE_COLUMN 17  /* two columns of one name: `duplicate` is the second */
#define MINT_MAP_MISSING_COLUMN 18    /* a required `field` (the patient's name, gender, birth) has no column */
#define MINT_MAP_MISSING_MAPPED 19    /* the column named for `field` is not among the names */
#define MINT_MAP_CLAIMED_TWICE 20     /* one column named for `field` and `other` */
#define MINT_MAP_DATE_AND_NUMBERS 21  /* a date column (`field`) beside its year, month or day columns */

/* Which column gives each field. */
typedef struct mint_column_map {
    int32_t column[MINT_COLUMN_FIELDS];  /* each field's column (an index into the names), or -1 */
    int32_t problem;                     /* MINT_MAP_... */
    int32_t field;                       /* the field the problem concerns */
    int32_t other;
    int32_t duplicate;                   /* MINT_MAP_DUPLICATE_COLUMN: the second column's index */
} mint_column_map;

/* Maps `count` column names to fields exactly as mintbatch --by-name maps
 * its header: a field's column is the one of its name (ASCII case and
 * surrounding blanks ignored), or the one `mapped[index]` names when
 * `mapped` (NULL, or MINT_COLUMN_FIELDS entries, NULL where not mapped)
 * names one. A NULL or "" name is a column without a name, which nothing
 * maps. Returns MINT_MAP_OK or the problem (also in map->problem), or
 * MINT_BAD_ARGUMENT when `map` is NULL or `names` is NULL with a count.
 * With MINT_MAP_MISSING_COLUMN every field's column is filled, for a caller
 * that goes on without the field; with the other problems `column` is not
 * to be used. Uses about 140 KiB of stack. */
MINT_API int32_t mint_map_columns(const char* const* names, size_t count, const char* const* mapped,
                                  mint_column_map* map);

#ifdef __cplusplus
}
#endif

/* The layouts are the binary interface: bindings declare them too. Checked
 * where the language has static assertions (C11, C++11); older C and C++
 * compile the header without the checks. */
#if defined(__cplusplus) && (__cplusplus >= 201103L || (defined(_MSVC_LANG) && _MSVC_LANG >= 201103L))
#define MINT_STATIC_ASSERT(condition, message) static_assert(condition, message)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define MINT_STATIC_ASSERT(condition, message) _Static_assert(condition, message)
#endif
#if defined(MINT_STATIC_ASSERT) && UINTPTR_MAX == UINT64_MAX
MINT_STATIC_ASSERT(sizeof(mint_person) == 32, "mint_person layout");
MINT_STATIC_ASSERT(offsetof(mint_person, ssn) == 8, "mint_person layout");
MINT_STATIC_ASSERT(offsetof(mint_person, gender) == 16, "mint_person layout");
MINT_STATIC_ASSERT(offsetof(mint_person, birth_day) == 28, "mint_person layout");
MINT_STATIC_ASSERT(sizeof(mint_options) == 24, "mint_options layout");
MINT_STATIC_ASSERT(offsetof(mint_options, key) == 8, "mint_options layout");
MINT_STATIC_ASSERT(offsetof(mint_options, key_length) == 16, "mint_options layout");
MINT_STATIC_ASSERT(sizeof(mint_result) == 12, "mint_result layout");
MINT_STATIC_ASSERT(offsetof(mint_result, field) == 4, "mint_result layout");
MINT_STATIC_ASSERT(offsetof(mint_result, flags) == 8, "mint_result layout");
MINT_STATIC_ASSERT(sizeof(mint_columns) == 96, "mint_columns layout");
MINT_STATIC_ASSERT(offsetof(mint_columns, policy_name) == 48, "mint_columns layout");
MINT_STATIC_ASSERT(sizeof(mint_key) == 68, "mint_key layout");
MINT_STATIC_ASSERT(sizeof(mint_gender_codes) == 580, "mint_gender_codes layout");
MINT_STATIC_ASSERT(sizeof(mint_column_map) == 76, "mint_column_map layout");
#endif
#if defined(MINT_STATIC_ASSERT)
#undef MINT_STATIC_ASSERT
#endif

#endif
