// The report of a run: one CSV line for every record that got no identifier
// (or the zero one) and every line that was skipped, and the one-line
// summary. A report line holds the line number, the record key as written,
// the outcome, the field and the reason, and never any other value of the
// record. Nothing here prints, reads files or calls the system.
#ifndef MINT_TOOLS_BATCH_RUN_REPORT_H
#define MINT_TOOLS_BATCH_RUN_REPORT_H

#include <cstddef>
#include <cstdint>

enum class record_outcome { patient_key, policy_key, zero, refused, incomplete, skipped };

// Records of each outcome.
struct run_counts {
    int64_t patient_key;
    int64_t policy_key;
    int64_t zero;
    int64_t refused;
    int64_t incomplete;
    int64_t skipped;
};

void count_outcome(run_counts* counts, record_outcome outcome);
void add_counts(run_counts* total, const run_counts& more);

// Appends report text to a growing buffer (the caller's, in memory), so that
// threads can compose their share and one writes it out.
struct text_buffer {
    char* data;
    size_t used;
    size_t capacity;
};
void init_text_buffer(text_buffer* buffer);
void free_text_buffer(text_buffer* buffer);
void append_text(text_buffer* buffer, const char* bytes, size_t length);
void append_string(text_buffer* buffer, const char* text);

void append_report_header(text_buffer* report);

// One report line. `key` is the record key as written (may be empty).
// `field` and `reason` are fixed texts of the program (may be empty).
void append_report_line(text_buffer* report, int64_t line, const char* key, size_t key_length,
                        record_outcome outcome, const char* field, const char* reason);

// For a record the library could not use: the first field, in the
// positional order, that the identifier it was meant for lacks (the patient
// key's fields when it has a patient SSN, else the policy key's), named as
// the positional header names it, and *reason why it was needed.
const char* missing_identity_field(uint32_t flags, const char** reason);

// "N identifiers (P patient key, Q policy key, Z zero), R refused, I
// incomplete, S skipped." with a line end, at most capacity - 1 bytes,
// always terminated. Returns its length.
size_t format_summary(const run_counts& counts, char* to, size_t capacity);

#endif
