// mintbatch's general path with a key, for the cross-check against the
// independent Python derivation: every data line is read as mintbatch reads
// it and, when it yields an identifier, gets the keyed one appended.
//
// usage: keyed_batch --key-file KEY INPUT OUTPUT
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "csv_record.h"
#include "key_file.h"
#include "patient_record.h"
#include "uuid_keyed.h"

int main(int argc, char** argv) {
    if (argc != 5 || std::strcmp(argv[1], "--key-file") != 0) {
        std::fprintf(stderr, "usage: %s --key-file KEY INPUT OUTPUT\n", argv[0]);
        return 1;
    }
    mint::uuid_key key;
    if (!read_key_file(argv[2], &key)) return 1;
    std::ifstream input(argv[3], std::ios::binary);
    std::ofstream output(argv[4], std::ios::binary);
    if (!input || !output) {
        std::fprintf(stderr, "cannot open %s or %s\n", argv[3], argv[4]);
        return 1;
    }
    output << "data_record,patient_name,patient_ssn,patient_gender,patient_birth_year,patient_birth_month,"
              "patient_birth_day,policy_name,policy_ssn,policy_gender,policy_birth_year,policy_birth_month,"
              "policy_birth_day,uuid\n";
    std::string line;
    std::getline(input, line);  // the input's header
    while (std::getline(input, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        output << line;
        char record_key[1000];
        int empty = 1;
        const char* position = read_csv_text_field(line.c_str(), &empty, record_key, sizeof record_key);
        patient_record record;
        clear_patient_record(&record);
        char uuid[13];
        if (position != nullptr && !empty && process_csv_record(position, &record, 0) &&
            generate_test_uuid_keyed(&record, &key, uuid)) {
            output << ',' << uuid;
        }
        output << '\n';
    }
    return output.flush() ? 0 : 1;
}
