/* A binding's module in miniature: it links libmint's static twin and
 * exports one function of its own, which must be all it exports. */
#include <stddef.h>

#include "mint.h"

int module_derive(const char* name, const char* ssn, char* identifier) {
    mint_person patient = MINT_PERSON_INIT;
    patient.name = name;
    patient.ssn = ssn;
    return mint_derive(&patient, NULL, NULL, identifier, NULL);
}
