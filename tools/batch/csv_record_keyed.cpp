#include "csv_record.h"

int process_csv_record_keyed(const char* position, patient_record* record, int verbosity,
                             const mint::uuid_key* key, char delimiter, csv_refusal* why) {
    uuid_hash_data identity;
    if (!read_csv_record_fields(position, record, verbosity, &identity, delimiter, why)) return 0;
    return finish_csv_record(mint::uuid_create_keyed(&identity, key), &identity, record, verbosity, why);
}
