/* A C program of a library user, built against libmint: derives the worked
 * examples' identifiers one record at a time and as columns, checks a
 * refusal's code and text, and exits 1 when anything differs. */
#include <stdio.h>
#include <string.h>

#include <mint.h>

static int failures = 0;

static void expect_text(const char* what, const char* got, const char* expected) {
    if (strcmp(got, expected) != 0) {
        printf("%s: got '%s', expected '%s'\n", what, got, expected);
        ++failures;
    } else {
        printf("%s: %s\n", what, got);
    }
}

static void expect_number(const char* what, long got, long expected) {
    if (got != expected) {
        printf("%s: got %ld, expected %ld\n", what, got, expected);
        ++failures;
    }
}

int main(void) {
    mint_person jane = MINT_PERSON_INIT;
    mint_person dependant = MINT_PERSON_INIT;
    mint_person john = MINT_PERSON_INIT;
    mint_options lenient = {MINT_SSN_LENIENT, NULL, 0};
    mint_result result;
    char identifier[MINT_ID_SIZE];

    jane.name = "Jane Doe";
    jane.ssn = "123-45-6789";
    jane.gender = 2;
    jane.birth_year = 1970;
    jane.birth_month = 1;
    jane.birth_day = 31;
    dependant = jane;
    dependant.ssn = NULL;
    john.name = "John Doe";
    john.ssn = "987-65-4321";
    john.gender = 1;
    john.birth_year = 1968;
    john.birth_month = 7;
    john.birth_day = 4;

    expect_number("patient key status", mint_derive(&jane, NULL, NULL, identifier, &result), MINT_IDENTIFIER);
    expect_text("patient key", identifier, "uc1kb3lfu4p3");
    expect_number("policy key status", mint_derive(&dependant, &john, NULL, identifier, NULL), MINT_IDENTIFIER);
    expect_text("policy key", identifier, "1q2chvgo0ecq");

    /* Eight digits: refused by default, kept under the lenient rule. */
    jane.ssn = "12345678";
    expect_number("strict SSN status", mint_derive(&jane, NULL, NULL, identifier, &result), MINT_REFUSED);
    expect_number("strict SSN field", result.field, MINT_PATIENT_SSN);
    expect_text("strict SSN", mint_result_text(&result), "patient_ssn: invalid ssn");
    expect_number("lenient SSN status", mint_derive(&jane, NULL, &lenient, identifier, NULL), MINT_IDENTIFIER);
    expect_text("lenient SSN", identifier, "pd6l21movp5l");

    {
        /* Columns: the patients' own fields, and the policy holder's for the
         * second row only. */
        const char* patient_name[2] = {"Jane Doe", "Jane Doe"};
        const char* patient_ssn[2] = {"123-45-6789", NULL};
        const int32_t gender[2] = {2, 2};
        const int32_t year[2] = {1970, 1970};
        const int32_t month[2] = {1, 1};
        const int32_t day[2] = {31, 31};
        const char* policy_name[2] = {NULL, "John Doe"};
        const char* policy_ssn[2] = {NULL, "987-65-4321"};
        const int32_t policy_gender[2] = {MINT_NOT_GIVEN, 1};
        const int32_t policy_year[2] = {MINT_NOT_GIVEN, 1968};
        const int32_t policy_month[2] = {MINT_NOT_GIVEN, 7};
        const int32_t policy_day[2] = {MINT_NOT_GIVEN, 4};
        mint_columns columns;
        char identifiers[2 * MINT_ID_SIZE];
        mint_result results[2];
        columns.patient_name = patient_name;
        columns.patient_ssn = patient_ssn;
        columns.patient_gender = gender;
        columns.patient_birth_year = year;
        columns.patient_birth_month = month;
        columns.patient_birth_day = day;
        columns.policy_name = policy_name;
        columns.policy_ssn = policy_ssn;
        columns.policy_gender = policy_gender;
        columns.policy_birth_year = policy_year;
        columns.policy_birth_month = policy_month;
        columns.policy_birth_day = policy_day;
        expect_number("columns", mint_derive_columns(&columns, 2, NULL, identifiers, results), 0);
        expect_text("columns row 0", identifiers, "uc1kb3lfu4p3");
        expect_text("columns row 1", identifiers + MINT_ID_SIZE, "1q2chvgo0ecq");
        expect_number("columns row 1 status", results[1].status, MINT_IDENTIFIER);
    }

    expect_text("version", mint_version(), MINT_EXPECTED_VERSION);
    return failures == 0 ? 0 : 1;
}
