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

// One made-up person, drawn in the order the positional file prints them.
struct person {
    const char* given;
    const char* family;
    bool quoted;  // "Family, Given"
    bool with_ssn;
    uint32_t area, group, serial;
    bool dashed;
    uint32_t gender, year, month, day;
};

person draw_person(uint64_t* state, const char* family, bool with_ssn, uint32_t earliest_year, uint32_t years) {
    person p{};
    p.family = family;
    p.given = given_names[below(state, sizeof given_names / sizeof *given_names)];
    // Some files write "Family, Given" in quotes; both normalise the same way.
    p.quoted = below(state, 5) == 0;
    p.with_ssn = with_ssn;
    if (with_ssn) {
        p.area = 1 + below(state, 899);
        p.group = 1 + below(state, 99);
        p.serial = 1 + below(state, 9999);
        p.dashed = below(state, 2) == 0;
    }
    // Drawn last first: the order in which GCC evaluated the arguments of the
    // one printf that drew them before, so that files stay as they were.
    p.day = 1 + below(state, 28);
    p.month = 1 + below(state, 12);
    p.year = earliest_year + below(state, years);
    p.gender = 1 + below(state, 2);
    return p;
}

void print_name(std::FILE* out, const person& p) {
    if (p.quoted) {
        std::fprintf(out, "\"%s, %s\"", p.family, p.given);
    } else {
        std::fprintf(out, "%s %s", p.given, p.family);
    }
}

void print_ssn(std::FILE* out, const person& p) {
    if (!p.with_ssn) return;
    std::fprintf(out, p.dashed ? "%03u-%02u-%04u" : "%03u%02u%04u", p.area, p.group, p.serial);
}

void print_person(std::FILE* out, const person& p) {
    print_name(out, p);
    std::fputc(',', out);
    print_ssn(out, p);
    std::fprintf(out, ",%u,%u,%u,%u", p.gender, p.year, p.month, p.day);
}

// One record: its patient and, for a policy key, its policy holder.
struct generated_record {
    uint32_t kind;  // 0-6 patient key, 7-8 policy key, 9 no SSN
    person patient;
    person policy;
};

generated_record draw_record(uint64_t* state) {
    generated_record record{};
    const char* family = family_names[below(state, sizeof family_names / sizeof *family_names)];
    record.kind = below(state, 10);
    if (record.kind < 7) {
        record.patient = draw_person(state, family, true, 1920, 100);
    } else if (record.kind < 9) {
        record.patient = draw_person(state, family, false, 2000, 24);
        record.policy = draw_person(state, family, true, 1950, 50);
    } else {
        record.patient = draw_person(state, family, false, 1930, 90);
    }
    return record;
}

}  // namespace

void write_generated_records(std::FILE* out, uint64_t count, uint64_t seed) {
    uint64_t state = seed;
    std::fprintf(out, "data_record,patient_name,patient_ssn,patient_gender,patient_birth_year,patient_birth_month,"
                "patient_birth_day,policy_name,policy_ssn,policy_gender,policy_birth_year,policy_birth_month,"
                "policy_birth_day\n");
    for (uint64_t i = 0; i < count; ++i) {
        const generated_record record = draw_record(&state);
        std::fprintf(out, "%" PRIu64 ",", 100000 + i);
        print_person(out, record.patient);
        if (record.kind == 7 || record.kind == 8) {
            std::fputc(',', out);
            print_person(out, record.policy);
            std::fputc('\n', out);
        } else {
            std::fprintf(out, ",,,,,,\n");
        }
    }
}

void write_generated_export(std::FILE* out, uint64_t count, uint64_t seed) {
    uint64_t state = seed;
    // The columns in another order, a date column for each birth and two
    // columns of other data, as a hospital export has them.
    std::fprintf(out, "ward,policy_birth_date,patient_name,policy_ssn,data_record,patient_gender,admitted,"
                "policy_name,patient_ssn,patient_birth_date,policy_gender\n");
    constexpr const char* wards[] = {"3B", "ICU", "2A", "NICU", "5C"};
    for (uint64_t i = 0; i < count; ++i) {
        const generated_record record = draw_record(&state);
        const bool policy = record.kind == 7 || record.kind == 8;
        const person& p = record.patient;
        const person& h = record.policy;
        std::fprintf(out, "%s,", wards[i % 5]);
        if (policy) std::fprintf(out, "%04u-%02u-%02u", h.year, h.month, h.day);
        std::fputc(',', out);
        print_name(out, p);
        std::fputc(',', out);
        if (policy) print_ssn(out, h);
        std::fprintf(out, ",%" PRIu64 ",%u,2024-%02u-%02u 08:%02u,", 100000 + i, p.gender, 1 + unsigned(i % 12),
                    1 + unsigned(i % 28), unsigned(i % 60));
        if (policy) print_name(out, h);
        std::fputc(',', out);
        print_ssn(out, p);
        std::fprintf(out, ",%04u-%02u-%02u,", p.year, p.month, p.day);
        if (policy) std::fprintf(out, "%u", h.gender);
        std::fputc('\n', out);
    }
}
