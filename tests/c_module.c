/* A binding's module in miniature: it links libmint's static twin and
 * exports one function of its own, which must be all it exports. */
#include <stddef.h>

#include "mint.h"

int module_derive(const char* name, const char* ssn, int gender, int year, int month, int day, char* identifier) {
    mint_person patient = MINT_PERSON_INIT;
    patient.name = name;
    patient.ssn = ssn;
    patient.gender = gender;
    patient.birth_year = year;
    patient.birth_month = month;
    patient.birth_day = day;
    return mint_derive(&patient, NULL, NULL, identifier, NULL);
}
