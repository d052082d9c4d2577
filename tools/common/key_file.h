// The key file of keyed identifiers: the shared secret as hexadecimal text.
#ifndef MINT_TOOLS_KEY_FILE_H
#define MINT_TOOLS_KEY_FILE_H

#include <cstddef>

#include "uuid_keyed.h"

// Hex digits in either case; spaces, tabs, CRs and LFs anywhere are ignored.
// At least key_file_min_digits (16 bytes), key_file_recommended_digits
// recommended, at most key_file_max_digits.
constexpr size_t key_file_min_digits = 32;
constexpr size_t key_file_recommended_digits = 64;
constexpr size_t key_file_max_digits = 1024;

// Reads the secret in the file at `path` and prepares `key` from it. Returns
// false, after one line on standard error naming the file, when the file
// cannot be opened or read or does not hold a key:
//   Unable to open key file 'PATH'.
//   Unable to read key file 'PATH'.
//   Key file 'PATH' is not a key: it is empty.
//   Key file 'PATH' is not a key: it holds a character other than hex digits and whitespace.
//   Key file 'PATH' is not a key: it holds an odd number of hex digits.
//   Key file 'PATH' is not a key: it holds fewer than 32 hex digits.
//   Key file 'PATH' is not a key: it holds more than 1024 hex digits.
// A key file that group or others may read or write still gives its key,
// after one line on standard error:
//   Warning: key file 'PATH' is open to other users; keep it to its owner (chmod 600).
// The file is read in fixed buffers, which are wiped before return.
bool read_key_file(const char* path, mint::uuid_key* key);

#endif
