// mintbatch: appends the patient identifier to every record of a CSV file.
#include <sched.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "csv_batch.h"
#include "key_file.h"
#include "named_file.h"

namespace {

void usage(const char* program) {
    std::printf("Usage:\n");
    std::printf("%s <-v> <-vv> [input data filename] [output data filename]\n", program);
    std::printf("\n");
    std::printf("This program loads patient records from a file in CSV format, generates the\n");
    std::printf("UUID for each record, then writes the records including the UUID field to an\n");
    std::printf("output file.\n");
    std::printf("\n");
    std::printf("The '-v' and '-vv' options run the program in 'verbose' modes.\n");
    std::printf("This program exits 1 on failure, 0 on success.\n");
}

// More threads than this gain nothing by default: reading and writing the
// files, which one thread does, then take most of the time.
constexpr int default_threads_limit = 16;
// A count beyond any machine this is meant for is a typing error (and each
// thread keeps blocks of input in memory).
constexpr int most_threads = 64;

// The CPUs this process may run on, at most default_threads_limit.
int default_threads() {
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    if (sched_getaffinity(0, sizeof cpus, &cpus) != 0) return 1;
    const int count = CPU_COUNT(&cpus);
    return count < 1 ? 1 : count > default_threads_limit ? default_threads_limit : count;
}

// A thread count: decimal digits giving 1 to most_threads. Anything else is
// named on standard error, as an unknown option is.
bool take_threads(const char* program, const char* text, batch_options* options) {
    int value = *text == '\0' ? -1 : 0;
    for (const char* digit = text; *digit != '\0' && value >= 0; ++digit) {
        value = *digit >= '0' && *digit <= '9' ? value * 10 + (*digit - '0') : -1;
        if (value > most_threads) value = -1;
    }
    if (value < 1) {
        std::fprintf(stderr, "%s: invalid thread count '%s' (1 to %d)\n", program, text, most_threads);
        return false;
    }
    options->threads = value;
    return true;
}

void further_options() {
    std::printf("\n");
    std::printf("Options (before the file names; '--' ends them):\n");
    std::printf("  -v, --verbose     file names, one line per record and a summary; twice (or -vv):\n");
    std::printf("                    also each record's fields and why a record was refused\n");
    std::printf("  --key-only        write only 'data_record,uuid': each input line's record key\n");
    std::printf("                    as written and its identifier, one line per input line\n");
    std::printf("  --progress        show a progress line on standard error (default: when it is\n");
    std::printf("                    a terminal and the run lasts over a second)\n");
    std::printf("  --no-progress     never show it\n");
    std::printf("  --key-file FILE   keyed identifiers, with the secret in FILE (hex digits)\n");
    std::printf("  -j, --threads N   derive identifiers on N threads (default: the CPUs this\n");
    std::printf("                    process may run on, at most %d); the output is the same\n", default_threads_limit);
    std::printf("\n");
    std::printf("Reading columns by name (see the manual page):\n");
    std::printf("  --by-name         the first line names the columns; fields are found by name\n");
    std::printf("  --map FIELD=COLUMN[,...]  the column for a field (data_record for the record\n");
    std::printf("                    key; patient_birth_date, policy_birth_date for date columns)\n");
    std::printf("  --delimiter C     ',' ';' 'tab' or '|' (by name: found from the header)\n");
    std::printf("  --date-format F   %%Y-%%m-%%d (default), %%d/%%m/%%Y, %%m/%%d/%%Y, %%d.%%m.%%Y, %%Y%%m%%d\n");
    std::printf("  --gender-values CODE=N[,...]  gender codes, such as M=1,F=2 (any case)\n");
    std::printf("  --drop-identifying  write every column but the names, SSNs and birth dates\n");
    std::printf("  --drop COLUMN[,...]  leave these columns out too\n");
    std::printf("  --uuid-column NAME  the identifier column's name (default: uuid)\n");
    std::printf("  --report FILE     one CSV line for each record without an identifier and each\n");
    std::printf("                    skipped line, with no values but the record key\n");
    std::printf("  -h, --help        show this help\n");
    std::printf("  --version         show the program's version\n");
    std::printf("\n");
    std::printf("A file name '-' means standard input or standard output; with standard output,\n");
    std::printf("every message goes to standard error. A file output is written in full to a\n");
    std::printf("temporary file beside it and renamed into place only when the run succeeds.\n");
}

enum class parsed { run, help, full_help, version, wrong };

// The value of an option that takes one: "--name=VALUE", or "--name VALUE"
// with the value in the next argument. Null when `argument` is not the option;
// sets *missing when it is but has no value.
const char* option_value(const char* argument, const char* name, int* next, int arguments, char** argv,
                         bool* missing) {
    const size_t length = std::strlen(name);
    if (std::strncmp(argument, name, length) != 0) return nullptr;
    if (argument[length] == '=') return argument + length + 1;
    if (argument[length] != '\0') return nullptr;
    if (*next == arguments) {
        *missing = true;
        return nullptr;
    }
    return argv[++*next];
}

// The options of reading by name, and those both formats share; the lists
// given on the command line are split into `text`.
struct named_arguments {
    bool by_name = false;
    const char* report_path = nullptr;
    char delimiter = 0;
    const char* only_by_name = nullptr;  // the first option given that needs --by-name
    bool drop_identifying = false;
    by_name_options conversion;
    gender_codes genders;
    char text[16 * 1024];
    size_t used = 0;
};

// A copy of `value` in the arguments' text, or null when it is full.
char* keep_text(named_arguments* named, const char* value) {
    const size_t length = std::strlen(value);
    if (named->used + length + 1 > sizeof named->text) return nullptr;
    char* kept = named->text + named->used;
    std::memcpy(kept, value, length + 1);
    named->used += length + 1;
    return kept;
}

// "FIELD=COLUMN[,FIELD=COLUMN...]" into the column choice.
bool take_mappings(const char* program, const char* value, named_arguments* named) {
    char* list = keep_text(named, value);
    if (list == nullptr) {
        std::fprintf(stderr, "%s: too many --map and --drop columns\n", program);
        return false;
    }
    for (char* item = list; item != nullptr;) {
        char* comma = std::strchr(item, ',');
        if (comma != nullptr) *comma = '\0';
        char* equals = std::strchr(item, '=');
        named_field field;
        if (equals == nullptr || equals[1] == '\0' || !find_named_field(item, static_cast<size_t>(equals - item), &field)) {
            std::fprintf(stderr, "%s: invalid mapping '%s' (FIELD=COLUMN, FIELD one of data_record, patient_name, "
                         "patient_ssn, patient_gender, patient_birth_date, patient_birth_year, patient_birth_month, "
                         "patient_birth_day, and the same for policy_)\n", program, item);
            return false;
        }
        named->conversion.columns.mapped[static_cast<int>(field)] = equals + 1;
        item = comma != nullptr ? comma + 1 : nullptr;
    }
    return true;
}

bool take_dropped(const char* program, const char* value, named_arguments* named) {
    char* list = keep_text(named, value);
    column_choice& columns = named->conversion.columns;
    for (char* item = list; item != nullptr;) {
        char* comma = std::strchr(item, ',');
        if (comma != nullptr) *comma = '\0';
        if (columns.dropped_count == column_choice::most_dropped) list = nullptr;
        if (list == nullptr) break;
        columns.dropped[columns.dropped_count++] = item;
        item = comma != nullptr ? comma + 1 : nullptr;
    }
    if (list == nullptr) {
        std::fprintf(stderr, "%s: too many --drop columns\n", program);
        return false;
    }
    return true;
}

// ',' ';' '|', "tab" or a tab character.
bool take_delimiter(const char* program, const char* value, named_arguments* named) {
    if (std::strcmp(value, "tab") == 0 || std::strcmp(value, "\\t") == 0 || std::strcmp(value, "\t") == 0) {
        named->delimiter = '\t';
    } else if (std::strcmp(value, ",") == 0 || std::strcmp(value, ";") == 0 || std::strcmp(value, "|") == 0) {
        named->delimiter = value[0];
    } else {
        std::fprintf(stderr, "%s: invalid delimiter '%s' (',', ';', 'tab' or '|')\n", program, value);
        return false;
    }
    return true;
}

// The options that take a value, other than --key-file and the thread count.
// Returns false after naming a wrong value; *taken when it was one of them.
bool take_named_option(const char* program, const char* argument, int* next, int arguments, char** argv,
                       named_arguments* named, bool* taken) {
    struct valued {
        const char* name;
        const char* wants;
        bool by_name_only;
    };
    static constexpr valued options[] = {
        {"--map", "a mapping", true},          {"--delimiter", "a delimiter", false},
        {"--date-format", "a date format", true}, {"--gender-values", "gender codes", true},
        {"--drop", "column names", true},      {"--uuid-column", "a column name", true},
        {"--report", "a file name", false},
    };
    *taken = false;
    for (const valued& option : options) {
        bool missing = false;
        const char* value = option_value(argument, option.name, next, arguments, argv, &missing);
        if (missing) {
            std::fprintf(stderr, "%s: option '%s' needs %s\n", program, argument, option.wants);
            return false;
        }
        if (value == nullptr) continue;
        *taken = true;
        if (option.by_name_only && named->only_by_name == nullptr) named->only_by_name = option.name;
        const std::string_view name = option.name;
        if (name == "--map") return take_mappings(program, value, named);
        if (name == "--drop") return take_dropped(program, value, named);
        if (name == "--delimiter") return take_delimiter(program, value, named);
        if (name == "--report") {
            named->report_path = value;
            return true;
        }
        if (name == "--uuid-column") {
            named->conversion.uuid_column = value;
            return true;
        }
        if (name == "--date-format") {
            if (find_date_format(value, &named->conversion.dates)) return true;
            std::fprintf(stderr, "%s: invalid date format '%s' (%%Y-%%m-%%d, %%d/%%m/%%Y, %%m/%%d/%%Y, %%d.%%m.%%Y or %%Y%%m%%d)\n",
                         program, value);
            return false;
        }
        if (parse_gender_codes(value, &named->genders)) {
            named->conversion.genders = &named->genders;
            return true;
        }
        std::fprintf(stderr, "%s: invalid gender values '%s' (CODE=NUMBER[,CODE=NUMBER...], such as M=1,F=2)\n",
                     program, value);
        return false;
    }
    return true;
}

// GNU-style options before the two file names. "-h" is help only alone, as it
// always was; anywhere else it is a file name.
parsed parse_arguments(int arguments, char** argv, batch_options* options, const char** key_file,
                       named_arguments* named) {
    if (arguments == 0 || (arguments == 1 && std::strcmp(argv[1], "-h") == 0)) return parsed::help;
    int verbosity = 0;
    int next = 1;
    bool options_ended = false;
    for (; next <= arguments; ++next) {
        const char* argument = argv[next];
        if (argument[0] != '-' || argument[1] == '\0' || std::strcmp(argument, "-h") == 0) break;
        if (std::strcmp(argument, "--") == 0) {
            ++next;
            options_ended = true;
            break;
        }
        bool missing = false;
        bool taken = false;
        if (!take_named_option(argv[0], argument, &next, arguments, argv, named, &taken)) return parsed::wrong;
        if (taken) continue;
        if (const char* value = option_value(argument, "--key-file", &next, arguments, argv, &missing)) {
            *key_file = value;
        } else if (missing) {
            std::fprintf(stderr, "%s: option '%s' needs a file name\n", argv[0], argument);
            return parsed::wrong;
        } else if (std::strcmp(argument, "-v") == 0 || std::strcmp(argument, "--verbose") == 0) {
            verbosity += 1;
        } else if (std::strcmp(argument, "-vv") == 0) {
            verbosity += 2;
        } else if (std::strcmp(argument, "--key-only") == 0) {
            options->format = output_format::key_only;
        } else if (std::strcmp(argument, "--by-name") == 0) {
            named->by_name = true;
        } else if (std::strcmp(argument, "--drop-identifying") == 0) {
            named->drop_identifying = true;
            if (named->only_by_name == nullptr) named->only_by_name = "--drop-identifying";
        } else if (std::strcmp(argument, "--progress") == 0) {
            options->progress = progress_mode::on;
        } else if (std::strcmp(argument, "--no-progress") == 0) {
            options->progress = progress_mode::off;
        } else if (std::strcmp(argument, "-j") == 0 || std::strcmp(argument, "--threads") == 0) {
            if (next == arguments) {
                std::fprintf(stderr, "%s: option '%s' needs a thread count\n", argv[0], argument);
                return parsed::wrong;
            }
            if (!take_threads(argv[0], argv[++next], options)) return parsed::wrong;
        } else if (std::strncmp(argument, "-j", 2) == 0) {
            if (!take_threads(argv[0], argument + 2, options)) return parsed::wrong;
        } else if (std::strncmp(argument, "--threads=", 10) == 0) {
            if (!take_threads(argv[0], argument + 10, options)) return parsed::wrong;
        } else if (std::strcmp(argument, "--help") == 0) {
            return parsed::full_help;
        } else if (std::strcmp(argument, "--version") == 0) {
            return parsed::version;
        } else {
            std::fprintf(stderr, "%s: unknown option '%s'\n", argv[0], argument);
            return parsed::wrong;
        }
    }
    if (arguments - next + 1 != 2) {
        // An option after a file name is a common slip: name it. (Two file
        // names, the second one looking like an option, still run, as they
        // always did; after "--" every argument is a file name.)
        for (int later = next + 1; later <= arguments && !options_ended; ++later) {
            const char* argument = argv[later];
            if (argument[0] == '-' && argument[1] != '\0' && std::strcmp(argument, "--") != 0) {
                std::fprintf(stderr, "%s: options go before the file names: '%s'\n", argv[0], argument);
                break;
            }
        }
        return parsed::wrong;
    }
    if (named->only_by_name != nullptr && !named->by_name) {
        std::fprintf(stderr, "%s: option '%s' needs --by-name\n", argv[0], named->only_by_name);
        return parsed::wrong;
    }
    if (named->conversion.columns.dropped_count > 0 && !named->drop_identifying) {
        std::fprintf(stderr, "%s: option '--drop' needs --drop-identifying\n", argv[0]);
        return parsed::wrong;
    }
    if (named->drop_identifying && options->format == output_format::key_only) {
        std::fprintf(stderr, "%s: --drop-identifying and --key-only are two different outputs\n", argv[0]);
        return parsed::wrong;
    }
    options->verbosity = verbosity < 2 ? verbosity : 2;
    options->input_path = argv[next];
    options->output_path = argv[next + 1];
    return parsed::run;
}

void print_summary(const char* program, const run_counts& counts) {
    char summary[256];
    format_summary(counts, summary, sizeof summary);
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s", program, summary);
}

int run_by_name(const char* program, const batch_options& options, named_arguments& named) {
    named_file_options file;
    file.input_path = options.input_path;
    file.output_path = options.output_path;
    file.report_path = named.report_path;
    file.progress = options.progress;
    file.conversion = named.conversion;
    by_name_options& conversion = file.conversion;
    conversion.delimiter = named.delimiter;
    conversion.output = named.drop_identifying ? named_output::drop_identifying
                        : options.format == output_format::key_only ? named_output::key_only
                                                                     : named_output::full;
    conversion.verbosity = options.verbosity;
    conversion.threads = options.threads;
    conversion.key = options.key;
    run_counts counts{};
    const int status = process_named_file(file, &counts);
    if (status == 0) print_summary(program, counts);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    char fallback_name[] = "mintbatch";
    char* fallback_argv[] = {fallback_name, nullptr};
    if (argc < 1 || argv[0] == nullptr) {
        argc = 1;
        argv = fallback_argv;
    }
    batch_options options = {nullptr, nullptr, 0, output_format::full, progress_mode::automatic, default_threads()};
    const char* key_file = nullptr;
    static named_arguments named;
    const parsed outcome = parse_arguments(argc - 1, argv, &options, &key_file, &named);
    int status = 0;
    switch (outcome) {
        case parsed::help:
            usage(argv[0]);
            break;
        case parsed::full_help:
            usage(argv[0]);
            further_options();
            break;
        case parsed::version:
            std::printf("mintbatch (mint) %s\n", MINT_VERSION);
            break;
        case parsed::wrong:
            usage(argv[0]);
            status = 1;
            break;
        case parsed::run: {
            // The key is read before anything else is opened or written.
            mint::uuid_key key;
            if (key_file != nullptr) {
                if (!read_key_file(key_file, &key)) return 1;
                options.key = &key;
            }
            // A reader that goes away (a closed pipe) must show as a write
            // error, and a file size limit as a failed write, not a kill.
            std::signal(SIGPIPE, SIG_IGN);
            std::signal(SIGXFSZ, SIG_IGN);
            if (!named.by_name && named.report_path == nullptr && named.delimiter == 0) return process_csv_file(options);
            if (!named.by_name) {
                options.report_path = named.report_path;
                options.delimiter = named.delimiter;
                run_counts counts{};
                const int result = process_csv_file(options, &counts);
                if (result == 0 && named.report_path != nullptr) print_summary(argv[0], counts);
                return result;
            }
            return run_by_name(argv[0], options, named);
        }
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fputs("Unable to write standard output.\n", stderr);
        return 1;
    }
    return status;
}
