// Any bytes as one CSV data line for the quick route of silent mintbatch runs:
// it prints nothing, its answer does not depend on the bytes behind the
// line's terminator, and a line it derives gets the general path's
// identifier, which the general path derives without printing anything.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "csv_fast.h"
#include "mintcore.h"
#include "csv_record.h"
#include "fuzz_support.h"
#include "patient_record.h"

namespace {

// Standard output goes to an in-memory file, so that whether a call printed
// is told by how far the file grew.
off_t printed_bytes() {
    std::fflush(stdout);
    return lseek(STDOUT_FILENO, 0, SEEK_CUR);
}

// The line as mintbatch's reader hands it over: exactly csv_line_slack bytes
// of `fill` after the terminator, so that AddressSanitizer reports any read
// beyond them.
std::unique_ptr<char[]> line_in_buffer(const uint8_t* data, size_t size, char fill) {
    auto buffer = std::make_unique<char[]>(size + 1 + csv_line_slack);
    if (size > 0) std::memcpy(buffer.get(), data, size);
    buffer[size] = '\0';
    std::memset(buffer.get() + size + 1, fill, csv_line_slack);
    return buffer;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::fflush(stdout);
    const int sink = memfd_create("mint_fuzz_stdout", 0);
    FUZZ_CHECK(sink >= 0);
    FUZZ_CHECK(dup2(sink, STDOUT_FILENO) == STDOUT_FILENO);
    close(sink);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Keep the in-memory file small over long runs.
    if (printed_bytes() > (1 << 20)) {
        FUZZ_CHECK(ftruncate(STDOUT_FILENO, 0) == 0);
        FUZZ_CHECK(lseek(STDOUT_FILENO, 0, SEEK_SET) == 0);
    }

    // Read as part of the line, digits behind the terminator would lengthen
    // a number, commas would complete a short record, quotes open a field.
    const auto digits_after = line_in_buffer(data, size, '1');
    const auto commas_after = line_in_buffer(data, size, ',');
    const auto quotes_after = line_in_buffer(data, size, '"');
    const off_t before = printed_bytes();
    char uuid[12];
    const fast_line answer = derive_csv_line_fast(digits_after.get(), size, uuid);
    for (const char* line : {commas_after.get(), quotes_after.get()}) {
        char other_uuid[12];
        FUZZ_CHECK(derive_csv_line_fast(line, size, other_uuid) == answer);
        if (answer == fast_line::derived) FUZZ_CHECK(std::memcmp(other_uuid, uuid, sizeof uuid) == 0);
    }
    FUZZ_CHECK(printed_bytes() == before);

    // Every compilation of the quick route this CPU runs answers alike and
    // derives the same identifier.
    for (const quick_route& route : quick_routes()) {
        if (!route.supported()) continue;
        uuid_hash_data read;
        FUZZ_CHECK(route.read(digits_after.get(), size, &read) == answer);
        if (answer == fast_line::derived) {
            FUZZ_CHECK(uuid_create(&read) == 1 && std::memcmp(read.uuid, uuid, sizeof uuid) == 0);
        }
    }
    FUZZ_CHECK(printed_bytes() == before);
    if (answer != fast_line::derived) return 0;

    // The general path as convert_line takes it at verbosity 0.
    char key[1000];
    int empty = 1;
    const char* position = read_csv_text_field(digits_after.get(), &empty, key, sizeof key);
    FUZZ_CHECK(position != nullptr && !empty);
    patient_record record;
    clear_patient_record(&record);
    FUZZ_CHECK(process_csv_record(position, &record, 0) == 1);
    FUZZ_CHECK(printed_bytes() == before);
    FUZZ_CHECK(std::memcmp(record.patient_uuid, uuid, sizeof uuid) == 0 && record.patient_uuid[12] == '\0');
    return 0;
}
