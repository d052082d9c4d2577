// A program of a library user, built against an installed mintcore: derives
// the worked examples' identifiers and exits 1 when one of them differs.
#include <cstdio>
#include <cstring>

#include <mintcore.h>

namespace {

// One person's fields; a null text or a 0 number is a field not given.
struct person {
    const char* name;
    const char* ssn;
    int gender;
    int year;
    int month;
    int day;
};

struct example {
    const char* what;
    person patient;
    person policy_holder;
    const char* identifier;
};

const example examples[] = {
    {"patient key", {"Jane Doe", "123-45-6789", 2, 1970, 1, 31}, {}, "uc1kb3lfu4p3"},
    {"policy key", {"Jane Doe", nullptr, 2, 1970, 1, 31}, {"John Doe", "987-65-4321", 1, 1968, 7, 4}, "1q2chvgo0ecq"},
    // Eight digits: the shared library keeps them; the programs would refuse them.
    {"lenient SSN", {"Jane Doe", "12345678", 2, 1970, 1, 31}, {}, "pd6l21movp5l"},
};

// The setters take writable text.
int set_text(int (*setter)(uuid_hash_data*, char*), uuid_hash_data* data, const char* text) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s", text);
    return setter(data, buffer);
}

bool derive(const example& e, char identifier[13]) {
    uuid_hash_data data;
    uuid_initialize(&data);
    const person& p = e.policy_holder;
    if (p.name) set_text(uuid_hash_set_policy_name, &data, p.name);
    if (p.ssn) set_text(uuid_hash_set_policy_ssn, &data, p.ssn);
    if (p.gender) uuid_hash_set_policy_gender(&data, p.gender);
    if (p.year) uuid_hash_set_policy_birth_year(&data, p.year);
    if (p.month) uuid_hash_set_policy_birth_month(&data, p.month);
    if (p.day) uuid_hash_set_policy_birth_day(&data, p.day);
    const person& q = e.patient;
    if (q.name) set_text(uuid_hash_set_patient_name, &data, q.name);
    if (q.ssn) set_text(uuid_hash_set_patient_ssn, &data, q.ssn);
    if (q.gender) uuid_hash_set_patient_gender(&data, q.gender);
    if (q.year) uuid_hash_set_patient_birth_year(&data, q.year);
    if (q.month) uuid_hash_set_patient_birth_month(&data, q.month);
    if (q.day) uuid_hash_set_patient_birth_day(&data, q.day);
    if (!uuid_create(&data)) return false;
    std::memcpy(identifier, data.uuid, 13);
    return true;
}

}  // namespace

int main() {
    int failures = 0;
    for (const example& e : examples) {
        char identifier[13] = "";
        if (!derive(e, identifier)) {
            std::printf("%s: uuid_create failed\n", e.what);
            ++failures;
        } else if (std::strcmp(identifier, e.identifier) != 0) {
            std::printf("%s: got %s, expected %s\n", e.what, identifier, e.identifier);
            ++failures;
        } else {
            std::printf("%s: %s\n", e.what, identifier);
        }
    }
    return failures == 0 ? 0 : 1;
}
