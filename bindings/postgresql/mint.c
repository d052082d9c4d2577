/*
 * mint.c: the mint identifier as SQL functions.
 *
 * mint_uuid(...) gives a record's 12-character identifier, the zero
 * identifier when no SSN is given, or NULL when the record is refused;
 * mint_uuid_problem(...) gives the reason for a refusal. Each comes with the
 * birth dates as three numbers or as one date. A NULL argument (or an empty
 * text) is a field not given.
 *
 * The setting mint.key_file names a file on the server holding the secret
 * key of keyed identifiers, as hex digits. The key never passes through a
 * query, so it appears in no query text, log line or plan; each backend reads
 * the file once and again only when the setting changes.
 */
#include "postgres.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include "datatype/timestamp.h"
#include "fmgr.h"
#include "storage/fd.h"
#include "utils/builtins.h"
#include "utils/date.h"
#include "utils/datetime.h"
#include "utils/guc.h"

#include "mint.h"

PG_MODULE_MAGIC;

PG_FUNCTION_INFO_V1(pg_mint_uuid_fields);
PG_FUNCTION_INFO_V1(pg_mint_uuid_dates);
PG_FUNCTION_INFO_V1(pg_mint_uuid_problem_fields);
PG_FUNCTION_INFO_V1(pg_mint_uuid_problem_dates);

void _PG_init(void);

/* A key of 32 to 1024 hex digits, as the programs' key files hold. */
#define KEY_MIN_DIGITS 32
#define KEY_MAX_BYTES 512
/* Room for the longest key with generous white space around it. */
#define KEY_FILE_MAX_BYTES 16384

/* Texts up to this size are copied to the stack; names and SSNs normally
 * are, so a call allocates nothing but its result. */
#define TEXT_BUFFER_BYTES 128

static char *key_file_setting = NULL;
/* Whether key_bytes holds what the setting names; reset whenever the setting
 * changes, so the next call reads the file again. */
static bool key_current = false;
static unsigned char key_bytes[KEY_MAX_BYTES];
static size_t key_length = 0;

static void
assign_key_file(const char *newval, void *extra)
{
	(void) newval;
	(void) extra;
	key_current = false;
}

void
_PG_init(void)
{
	DefineCustomStringVariable("mint.key_file",
							   "File on the server holding the secret key of keyed identifiers.",
							   "32 to 1024 hex digits, white space ignored. "
							   "A relative path is taken from the data directory. "
							   "Empty: identifiers without a key.",
							   &key_file_setting,
							   "",
							   PGC_SUSET,
							   GUC_SUPERUSER_ONLY,
							   NULL,
							   assign_key_file,
							   NULL);
	MarkGUCPrefixReserved("mint");
}

static void
forget_key(void)
{
	explicit_bzero(key_bytes, sizeof key_bytes);
	key_length = 0;
}

static int
hex_value(char c)
{
	if (c >= '0' && c <= '9')
		return c - '0';
	if (c >= 'a' && c <= 'f')
		return c - 'a' + 10;
	if (c >= 'A' && c <= 'F')
		return c - 'A' + 10;
	return -1;
}

static bool
is_white_space(char c)
{
	return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

/*
 * Decodes the file's text into key_bytes. Returns NULL on success, else a
 * message that names no part of the key.
 */
static const char *
decode_key(const char *text, size_t length)
{
	size_t		digits = 0;
	int			high = 0;

	for (size_t i = 0; i < length; i++)
	{
		int			value;

		if (is_white_space(text[i]))
			continue;
		value = hex_value(text[i]);
		if (value < 0)
			return "holds a character that is neither a hex digit nor white space";
		if (digits / 2 >= KEY_MAX_BYTES)
			return "holds more than 1024 hex digits";
		if (digits % 2 == 0)
			high = value;
		else
			key_bytes[digits / 2] = (unsigned char) (high << 4 | value);
		digits++;
	}
	if (digits % 2 != 0)
		return "holds an odd number of hex digits";
	if (digits < KEY_MIN_DIGITS)
		return "holds fewer than 32 hex digits";
	key_length = digits / 2;
	return NULL;
}

/*
 * Makes key_bytes what mint.key_file names. On any failure the backend is
 * left without a key and with the setting still unread, so every call keeps
 * failing until the file or the setting is put right: a keyed setting never
 * quietly gives unkeyed identifiers.
 */
static void
load_key(void)
{
	const char *path = key_file_setting;
	char		text[KEY_FILE_MAX_BYTES + 1];
	size_t		length;
	FILE	   *file;
	struct stat status;
	int			read_errno = 0;
	const char *problem;

	forget_key();
	if (path == NULL || path[0] == '\0')
	{
		key_current = true;
		return;
	}

	file = AllocateFile(path, PG_BINARY_R);
	if (file == NULL)
		ereport(ERROR,
				(errcode_for_file_access(),
				 errmsg("could not open key file \"%s\": %m", path)));
	/* A secret that others may read is a secret no more; say so, and go on. */
	if (fstat(fileno(file), &status) == 0 && (status.st_mode & (S_IRWXG | S_IRWXO)) != 0)
		ereport(WARNING,
				(errmsg("key file \"%s\" may be read or written by users other than its owner", path),
				 errhint("Make it readable by the server's user alone (chmod 600).")));
	length = fread(text, 1, sizeof text, file);
	if (ferror(file))
		read_errno = errno;
	FreeFile(file);
	if (read_errno != 0)
	{
		explicit_bzero(text, sizeof text);
		errno = read_errno;
		ereport(ERROR,
				(errcode_for_file_access(),
				 errmsg("could not read key file \"%s\": %m", path)));
	}
	if (length > KEY_FILE_MAX_BYTES)
		problem = "is larger than 16384 bytes";
	else
		problem = decode_key(text, length);
	explicit_bzero(text, sizeof text);
	if (problem != NULL)
	{
		forget_key();
		ereport(ERROR,
				(errcode(ERRCODE_INVALID_PARAMETER_VALUE),
				 errmsg("key file \"%s\" %s", path, problem),
				 errhint("The file named by mint.key_file must hold the key as 32 to 1024 hex digits, white space aside.")));
	}
	key_current = true;
}

/* A text argument as a C string: NULL when the argument is NULL. */
static const char *
text_argument(FunctionCallInfo fcinfo, int argno, char *buffer)
{
	struct varlena *value;
	size_t		length;
	char	   *copy;

	if (PG_ARGISNULL(argno))
		return NULL;
	/* Short and uncompressed values are read in place, without a copy. */
	value = PG_DETOAST_DATUM_PACKED(PG_GETARG_DATUM(argno));
	length = VARSIZE_ANY_EXHDR(value);
	copy = length < TEXT_BUFFER_BYTES ? buffer : palloc(length + 1);
	memcpy(copy, VARDATA_ANY(value), length);
	copy[length] = '\0';
	return copy;
}

/* An int argument: MINT_NOT_GIVEN for NULL. The one value that would read as
 * "not given" becomes another value outside every range, so it is refused as
 * any other out-of-range number is. */
static int32_t
int_argument(FunctionCallInfo fcinfo, int argno)
{
	int32		value;

	if (PG_ARGISNULL(argno))
		return MINT_NOT_GIVEN;
	value = PG_GETARG_INT32(argno);
	return value == MINT_NOT_GIVEN ? MINT_NOT_GIVEN + 1 : value;
}

/* A date argument into the person's year, month and day. An infinite date
 * has no year in range, and is refused as such. */
static void
date_argument(FunctionCallInfo fcinfo, int argno, mint_person *person)
{
	DateADT		date;
	int			year;
	int			month;
	int			day;

	if (PG_ARGISNULL(argno))
		return;
	date = PG_GETARG_DATEADT(argno);
	if (DATE_NOT_FINITE(date))
	{
		person->birth_year = MINT_NOT_GIVEN + 1;
		return;
	}
	j2date(date + POSTGRES_EPOCH_JDATE, &year, &month, &day);
	person->birth_year = year;
	person->birth_month = month;
	person->birth_day = day;
}

/*
 * Derives the identifier of the record in the call's arguments: the birth
 * dates as three numbers each (13 arguments) or as one date each (9).
 */
static int32_t
derive(FunctionCallInfo fcinfo, bool dates, char *identifier, mint_result *result)
{
	char		buffers[4][TEXT_BUFFER_BYTES];
	mint_person patient = MINT_PERSON_INIT;
	mint_person policy = MINT_PERSON_INIT;
	mint_options options;
	int			lenient_argno;
	int32_t		status;

	if (PG_NARGS() != (dates ? 9 : 13))
		elog(ERROR, "mint_uuid: unexpected number of arguments %d", PG_NARGS());

	patient.name = text_argument(fcinfo, 0, buffers[0]);
	patient.ssn = text_argument(fcinfo, 1, buffers[1]);
	patient.gender = int_argument(fcinfo, 2);
	if (dates)
	{
		date_argument(fcinfo, 3, &patient);
		policy.name = text_argument(fcinfo, 4, buffers[2]);
		policy.ssn = text_argument(fcinfo, 5, buffers[3]);
		policy.gender = int_argument(fcinfo, 6);
		date_argument(fcinfo, 7, &policy);
		lenient_argno = 8;
	}
	else
	{
		patient.birth_year = int_argument(fcinfo, 3);
		patient.birth_month = int_argument(fcinfo, 4);
		patient.birth_day = int_argument(fcinfo, 5);
		policy.name = text_argument(fcinfo, 6, buffers[2]);
		policy.ssn = text_argument(fcinfo, 7, buffers[3]);
		policy.gender = int_argument(fcinfo, 8);
		policy.birth_year = int_argument(fcinfo, 9);
		policy.birth_month = int_argument(fcinfo, 10);
		policy.birth_day = int_argument(fcinfo, 11);
		lenient_argno = 12;
	}

	memset(&options, 0, sizeof options);
	options.ssn_rule = !PG_ARGISNULL(lenient_argno) && PG_GETARG_BOOL(lenient_argno)
		? MINT_SSN_LENIENT : MINT_SSN_STRICT;
	if (!key_current)
		load_key();
	if (key_length > 0)
	{
		options.key = key_bytes;
		options.key_length = key_length;
	}

	status = mint_derive(&patient, &policy, &options, identifier, result);
	if (status == MINT_BAD_ARGUMENT)
		elog(ERROR, "mint_uuid: the identifier library refused the call");
	return status;
}

static Datum
uuid_result(FunctionCallInfo fcinfo, bool dates)
{
	char		identifier[MINT_ID_SIZE];
	mint_result result;
	int32_t		status = derive(fcinfo, dates, identifier, &result);

	if (status != MINT_IDENTIFIER && status != MINT_ZERO)
		PG_RETURN_NULL();
	PG_RETURN_TEXT_P(cstring_to_text_with_len(identifier, MINT_ID_SIZE - 1));
}

static Datum
problem_result(FunctionCallInfo fcinfo, bool dates)
{
	char		identifier[MINT_ID_SIZE];
	mint_result result;
	int32_t		status = derive(fcinfo, dates, identifier, &result);

	if (status == MINT_IDENTIFIER || status == MINT_ZERO)
		PG_RETURN_NULL();
	PG_RETURN_TEXT_P(cstring_to_text(mint_result_text(&result)));
}

Datum
pg_mint_uuid_fields(PG_FUNCTION_ARGS)
{
	return uuid_result(fcinfo, false);
}

Datum
pg_mint_uuid_dates(PG_FUNCTION_ARGS)
{
	return uuid_result(fcinfo, true);
}

Datum
pg_mint_uuid_problem_fields(PG_FUNCTION_ARGS)
{
	return problem_result(fcinfo, false);
}

Datum
pg_mint_uuid_problem_dates(PG_FUNCTION_ARGS)
{
	return problem_result(fcinfo, true);
}
