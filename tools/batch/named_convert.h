// The by-name stage of mintbatch: a CSV export whose first line names its
// columns, to the same records with identifiers (source -> records ->
// converter -> output format -> sink, beside the positional stages).
//
// Everything here works over byte_source and byte_sink and prints its
// messages with stdio (as the library does), so that another front end (a
// browser page feeding slices of a file) runs exactly this code.
#ifndef MINT_TOOLS_BATCH_NAMED_CONVERT_H
#define MINT_TOOLS_BATCH_NAMED_CONVERT_H

#include <cstddef>
#include <cstdint>

#include "field_values.h"
#include "line_stream.h"
#include "named_csv.h"
#include "run_report.h"
#include "uuid_keyed.h"

// What becomes of each record: the record as read with its identifier, the
// record without its identifying columns, or its key and identifier alone.
enum class named_output { full, drop_identifying, key_only };

// Everything a front end chooses; plain data, filled by the command line or
// any other front end. Texts are borrowed for the run.
struct by_name_options {
    char delimiter = 0;  // 0: found from the header line
    date_format dates = date_format::year_month_day;
    const gender_codes* genders = nullptr;  // null: gender columns hold numbers
    column_choice columns = {};
    named_output output = named_output::full;
    const char* uuid_column = "uuid";
    // 0 prints nothing of its own; 1 adds the delimiter, one line per
    // record (its key and line number, never other values) and the totals;
    // 2 adds why a record was refused.
    int verbosity = 0;
    // Threads deriving identifiers (the calling thread among them) at level
    // 0; the result does not depend on it.
    int threads = 1;
    size_t records_per_block = 0;  // the most records a thread takes at once (0: by size); for tests
    const mint::uuid_key* key = nullptr;  // null: plain identifiers
    const char* input_name = "-";   // named in messages
    const char* output_name = "-";
    // A slice of a file after its first: the mapping of the file's header
    // (the slice has no header line and none is written), the line number of
    // the slice's first line and the number of its first record.
    const header_mapping* mapping = nullptr;
    int64_t first_line = 1;
    int64_t first_record = 1;
    // Called now and then with the records and bytes read so far (may be null).
    void (*progress)(void* context, int64_t records, int64_t bytes_read) = nullptr;
    void* progress_context = nullptr;
};

// Reads and maps the header line at the start of `bytes` (up to its line
// end, which need not be there when `bytes` holds all of it): for a front
// end to show the columns, the delimiter and the proposed mapping before it
// converts. *header_length is the header's bytes with its line end, and
// *line_end_length (when not null) that line end's (0 to 2). False with
// mapping->problem none: no line end yet, and more bytes may come.
bool read_named_header(const char* bytes, size_t size, bool at_end, const by_name_options& options,
                       header_mapping* mapping, size_t* header_length, size_t* line_end_length = nullptr);

enum class named_status { done, unmapped, read_failed, write_failed, report_failed };

// Converts the source into the sink and, when `report` is not null, the
// report into it. *counts receives the records of each outcome. Messages
// (the unmapped header's included) are printed; failures to read and write
// are returned, for the caller to name.
named_status convert_by_name(byte_source* source, byte_sink* sink, byte_sink* report, const by_name_options& options,
                             run_counts* counts);

// The same in working memory kept from run to run (about 600 KiB), for a
// caller that converts many small inputs or slices one after another.
struct named_workspace;
named_workspace* open_named_workspace();
void close_named_workspace(named_workspace* workspace);
named_status convert_by_name(byte_source* source, byte_sink* sink, byte_sink* report, const by_name_options& options,
                             run_counts* counts, named_workspace* workspace);

#endif
