#include "record_generator.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>

namespace {

// splitmix64: small, fast and the same on every platform.
uint64_t next_random(uint64_t* state) {
    uint64_t z = (*state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

uint32_t below(uint64_t* state, uint32_t n) {
    return static_cast<uint32_t>(next_random(state) % n);
}

constexpr const char* given_names[] = {
    "James", "Mary", "Robert", "Patricia", "John", "Jennifer", "Michael", "Linda", "David", "Elizabeth",
    "William", "Barbara", "Richard", "Susan", "Joseph", "Jessica", "Thomas", "Sarah", "Carlos", "Karen",
    "Wei", "Aisha", "Jose", "Fatima", "Olga", "Kenji", "Priya", "Mateo", "Zoe", "Liam",
};
constexpr const char* family_names[] = {
    "Smith", "Johnson", "Williams", "Brown", "Jones", "Garcia", "Miller", "Davis", "Rodriguez", "Martinez",
    "Hernandez", "Lopez", "Gonzalez", "Wilson", "Anderson", "Thomas", "Taylor", "Moore", "Jackson", "Martin",
    "Lee", "O'Neil", "Nguyen", "Kowalski", "Chen", "Patel", "Okafor", "Schmidt", "Rossi", "Haddad",
};

void print_name(std::FILE* out, uint64_t* state, const char* family) {
    const char* given = given_names[below(state, sizeof given_names / sizeof *given_names)];
    // Some files write "Family, Given" in quotes; both normalise the same way.
    if (below(state, 5) == 0) {
        std::fprintf(out, "\"%s, %s\"", family, given);
    } else {
        std::fprintf(out, "%s %s", given, family);
    }
}

void print_ssn(std::FILE* out, uint64_t* state) {
    const uint32_t area = 1 + below(state, 899);
    const uint32_t group = 1 + below(state, 99);
    const uint32_t serial = 1 + below(state, 9999);
    if (below(state, 2) == 0) {
        std::fprintf(out, "%03u-%02u-%04u", area, group, serial);
    } else {
        std::fprintf(out, "%03u%02u%04u", area, group, serial);
    }
}

void print_person(std::FILE* out, uint64_t* state, const char* family, bool with_ssn, uint32_t earliest_year, uint32_t years) {
    print_name(out, state, family);
    std::fputc(',', out);
    if (with_ssn) print_ssn(out, state);
    std::fprintf(out, ",%u,%u,%u,%u", 1 + below(state, 2), earliest_year + below(state, years), 1 + below(state, 12),
                1 + below(state, 28));
}

}  // namespace

void write_generated_records(std::FILE* out, uint64_t count, uint64_t seed) {
    uint64_t state = seed;
    std::fprintf(out, "data_record,patient_name,patient_ssn,patient_gender,patient_birth_year,patient_birth_month,"
                "patient_birth_day,policy_name,policy_ssn,policy_gender,policy_birth_year,policy_birth_month,"
                "policy_birth_day\n");
    for (uint64_t i = 0; i < count; ++i) {
        const char* family = family_names[below(&state, sizeof family_names / sizeof *family_names)];
        const uint32_t kind = below(&state, 10);
        std::fprintf(out, "%" PRIu64 ",", 100000 + i);
        if (kind < 7) {
            // Patient key: the patient's own SSN.
            print_person(out, &state, family, true, 1920, 100);
            std::fprintf(out, ",,,,,,\n");
        } else if (kind < 9) {
            // Policy key: a dependant without an SSN of their own.
            print_person(out, &state, family, false, 2000, 24);
            std::fputc(',', out);
            print_person(out, &state, family, true, 1950, 50);
            std::fputc('\n', out);
        } else {
            // No SSN anywhere: the zero identifier.
            print_person(out, &state, family, false, 1930, 90);
            std::fprintf(out, ",,,,,,\n");
        }
    }
}
