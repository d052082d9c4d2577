/* key_text.h: the text of a key file, as every reader of one judges it.
 *
 * A key file holds the secret of keyed identifiers as hex digits in either
 * case; spaces, tabs, CRs and LFs anywhere are ignored. It must hold an even
 * number of digits, from 32 (16 bytes) to 1024. The programs' key file
 * reader and the Python package's read_key share these rules and the words
 * of each fault, so they can never disagree. Internal to the library's
 * builds (not exported, not installed); C, for the Python module.
 */
#ifndef MINT_KEY_TEXT_H
#define MINT_KEY_TEXT_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define MINT_KEY_TEXT_MIN_DIGITS 32
#define MINT_KEY_TEXT_MAX_DIGITS 1024

/* What is wrong with a text (mint_key_text_take, mint_key_text_finish). */
#define MINT_KEY_TEXT_OK 0
#define MINT_KEY_TEXT_BAD_CHARACTER 1
#define MINT_KEY_TEXT_TOO_LONG 2
#define MINT_KEY_TEXT_EMPTY 3
#define MINT_KEY_TEXT_ODD 4
#define MINT_KEY_TEXT_TOO_SHORT 5

/* The secret as it is read: bytes from pairs of digits, and the number of
 * digits so far. A secret: wipe it (mint_key_text_wipe) when done. */
typedef struct mint_key_text {
    unsigned char bytes[MINT_KEY_TEXT_MAX_DIGITS / 2];
    size_t digits;
} mint_key_text;

/* Starts an empty secret. */
void mint_key_text_start(mint_key_text* secret);

/* Takes the next `length` bytes of the text. Returns MINT_KEY_TEXT_OK, or
 * the first fault met (a bad character, or a digit beyond the most), after
 * which the text is no key. */
int mint_key_text_take(mint_key_text* secret, const unsigned char* text, size_t length);

/* After the whole text: MINT_KEY_TEXT_OK when it holds a key of
 * secret->digits / 2 bytes, else the fault (empty, odd, too short). */
int mint_key_text_finish(const mint_key_text* secret);

/* Why a text with that fault is no key, as the messages say it:
 * "it holds an odd number of hex digits"; "" for MINT_KEY_TEXT_OK. */
const char* mint_key_text_fault(int fault);

/* 1 when `length` bytes look like a key file's text rather than a secret:
 * nothing but hex digits and the whitespace above, with at least
 * MINT_KEY_TEXT_MIN_DIGITS digits (and any number beyond); else 0. */
int mint_key_text_resembles(const unsigned char* bytes, size_t length);

/* Overwrites `length` bytes with zeros, a store the compiler keeps. */
void mint_key_text_wipe(void* data, size_t length);

#ifdef __cplusplus
}
#endif

#endif
