/*
 * mint.c: the mint identifier as SQL functions.
 *
 * mint_uuid(...) gives a record's 12-character identifier, the zero
 * identifier when no SSN is given, or NULL when the record is refused;
 * mint_uuid_problem(...) gives the reason for a refusal. Each comes with the
 * birth dates as numbers (smallint, int or bigint) or as dates, and as
 * mint_uuid_text / mint_uuid_problem_text with all twelve fields as text,
 * judged as mintbatch judges the same CSV fields. A NULL argument (or an
 * empty text) is a field not given.
 *
 * One key per server run: with the module in shared_preload_libraries, the
 * postmaster reads the file named by mint.key_file once, before any backend
 * or parallel worker exists, and every process of the run inherits the
 * prepared key. The setting is PGC_POSTMASTER, so nothing short of a restart
 * changes it; a server whose key file cannot serve does not start. The key
 * never passes through a query, so it appears in no query text, log line or
 * plan, and no message sent to a caller names the file.
 */
#include "postgres.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "datatype/timestamp.h"
#include "fmgr.h"
#include "miscadmin.h"
#include "utils/builtins.h"
#include "utils/date.h"
#include "utils/datetime.h"
#include "utils/guc.h"

#include "csv_fields.h"
#include "key_text.h"
#include "mint.h"

/* Each backend of such a server loads the module afresh and would read the
 * key file again: one key per run needs processes forked from the
 * postmaster. */
#ifdef EXEC_BACKEND
#error "mint needs a server that forks its processes from the postmaster"
#endif

PG_MODULE_MAGIC;

PG_FUNCTION_INFO_V1(pg_mint_uuid_fields);
PG_FUNCTION_INFO_V1(pg_mint_uuid_dates);
PG_FUNCTION_INFO_V1(pg_mint_uuid_problem_fields);
PG_FUNCTION_INFO_V1(pg_mint_uuid_problem_dates);
PG_FUNCTION_INFO_V1(pg_mint_uuid_fields_int2);
PG_FUNCTION_INFO_V1(pg_mint_uuid_fields_int8);
PG_FUNCTION_INFO_V1(pg_mint_uuid_problem_fields_int2);
PG_FUNCTION_INFO_V1(pg_mint_uuid_problem_fields_int8);
PG_FUNCTION_INFO_V1(pg_mint_uuid_text);
PG_FUNCTION_INFO_V1(pg_mint_uuid_problem_text);
PG_FUNCTION_INFO_V1(pg_mint_key_id);

void _PG_init(void);

/* Room for the longest key with generous white space around it. */
#define KEY_FILE_MAX_BYTES 16384

/* Texts up to this size are copied to the stack; names and SSNs normally
 * are, so a call allocates nothing but its result. */
#define TEXT_BUFFER_BYTES 128

static char *key_file_setting = NULL;

/* Set in the postmaster while the module is preloaded, and inherited by
 * every process it forks. */
static bool preloaded = false;
static bool keyed = false;
static mint_key server_key;
static char server_key_id[MINT_KEY_ID_SIZE];

/* The key file's faults at server start: one line in the server log, then
 * the postmaster exits. Only the server's log sees the path. */
static void refuse_key_file(const char *path, const char *problem) pg_attribute_noreturn();

static void
refuse_key_file(const char *path, const char *problem)
{
	ereport(FATAL,
			(errcode(ERRCODE_CONFIG_FILE_ERROR),
			 errmsg("mint: key file \"%s\" (mint.key_file) %s; the server does not start without its key", path, problem)));
}

/*
 * Reads and prepares the server's key, in the postmaster at server start
 * (a relative path is taken from the data directory, the postmaster's
 * working directory). The file must be a regular file, owned and guarded as
 * PostgreSQL requires of its own ssl_key_file. Opened without blocking, so
 * that a FIFO or a device named by mistake cannot hang the start.
 */
static void
load_server_key(const char *path)
{
	char		text[KEY_FILE_MAX_BYTES + 1];
	mint_key_text secret;
	size_t		length = 0;
	int			fault;
	struct stat status;
	const char *problem = NULL;
	int			fd;

	fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
	if (fd < 0)
		refuse_key_file(path, errno == ENOENT ? "does not exist"
						: errno == EACCES ? "cannot be read by the server's user" : "cannot be opened");
	if (fstat(fd, &status) != 0)
		problem = "cannot be examined";
	else if (!S_ISREG(status.st_mode))
		problem = "is not a regular file";
	else if (status.st_uid != geteuid() && status.st_uid != 0)
		problem = "must be owned by the database user or root";
	else if ((status.st_uid == geteuid() && (status.st_mode & (S_IRWXG | S_IRWXO)) != 0) ||
			 (status.st_uid == 0 && (status.st_mode & (S_IWGRP | S_IXGRP | S_IRWXO)) != 0))
		problem = "has group or world access (u=rw (0600) or less if owned by the database user, "
			"u=rw,g=r (0640) or less if owned by root)";
	while (problem == NULL && length <= KEY_FILE_MAX_BYTES)
	{
		ssize_t		got = read(fd, text + length, sizeof text - length);

		if (got < 0 && errno == EINTR)
			continue;
		if (got < 0)
			problem = "cannot be read";
		else if (got == 0)
			break;
		else
			length += (size_t) got;
	}
	close(fd);
	if (problem == NULL && length > KEY_FILE_MAX_BYTES)
		problem = "is larger than 16384 bytes";
	/* The text's rules and the words of each fault are the programs'. */
	mint_key_text_start(&secret);
	if (problem == NULL)
	{
		fault = mint_key_text_take(&secret, (const unsigned char *) text, length);
		if (fault == MINT_KEY_TEXT_OK)
			fault = mint_key_text_finish(&secret);
		if (fault != MINT_KEY_TEXT_OK)
		{
			mint_key_text_wipe(text, sizeof text);
			mint_key_text_wipe(&secret, sizeof secret);
			ereport(FATAL,
					(errcode(ERRCODE_CONFIG_FILE_ERROR),
					 errmsg("mint: key file \"%s\" (mint.key_file) is not a key: %s; the server does not start without its key",
							path, mint_key_text_fault(fault))));
		}
	}
	mint_key_text_wipe(text, sizeof text);
	if (problem == NULL && mint_key_prepare(secret.bytes, secret.digits / 2, &server_key) != 0)
		problem = "cannot be prepared";
	mint_key_text_wipe(&secret, sizeof secret);
	if (problem != NULL)
		refuse_key_file(path, problem);
	if (mint_key_id(&server_key, server_key_id) != 0)
		refuse_key_file(path, "cannot be prepared");
	keyed = true;
}

void
_PG_init(void)
{
	/*
	 * Preloaded, the setting is read at server start and fixed until the
	 * next. Loaded later (PostgreSQL allows no PGC_POSTMASTER setting then),
	 * it comes from the configuration files alone, and any key file there
	 * makes every call an error: no key is ever read after server start.
	 */
	GucContext	context = process_shared_preload_libraries_in_progress ? PGC_POSTMASTER : PGC_SIGHUP;

	DefineCustomStringVariable("mint.key_file",
							   "File on the server holding the secret key of keyed identifiers.",
							   "Read once, at server start, when mint is in shared_preload_libraries. "
							   "32 to 1024 hex digits, white space ignored; a relative path is taken "
							   "from the data directory. Empty: identifiers without a key.",
							   &key_file_setting,
							   "",
							   context,
							   GUC_SUPERUSER_ONLY,
							   NULL,
							   NULL,
							   NULL);
	MarkGUCPrefixReserved("mint");
	if (process_shared_preload_libraries_in_progress)
	{
		preloaded = true;
		if (key_file_setting != NULL && key_file_setting[0] != '\0')
			load_server_key(key_file_setting);
	}
}

/*
 * The key of this call: the server's, or NULL for unkeyed identifiers. A
 * key file set for a server that did not preload the module is an error on
 * every call, never an unkeyed identifier.
 */
static const mint_key *
call_key(void)
{
	if (!preloaded && key_file_setting != NULL && key_file_setting[0] != '\0')
		ereport(ERROR,
				(errcode(ERRCODE_OBJECT_NOT_IN_PREREQUISITE_STATE),
				 errmsg("mint.key_file is set, but the mint module was not loaded at server start"),
				 errhint("Add 'mint' to shared_preload_libraries in postgresql.conf beside mint.key_file "
						 "and restart the server: the key is read once, at server start.")));
	return keyed ? &server_key : NULL;
}

/* A text argument as a C string: NULL when the argument is NULL. At most
 * `limit` bytes are kept. */
static const char *
text_argument(FunctionCallInfo fcinfo, int argno, char *buffer, size_t limit)
{
	struct varlena *value;
	size_t		length;
	char	   *copy;

	if (PG_ARGISNULL(argno))
		return NULL;
	/* Short and uncompressed values are read in place, without a copy. */
	value = PG_DETOAST_DATUM_PACKED(PG_GETARG_DATUM(argno));
	length = VARSIZE_ANY_EXHDR(value);
	if (length > limit)
		length = limit;
	copy = length < TEXT_BUFFER_BYTES ? buffer : palloc(length + 1);
	memcpy(copy, VARDATA_ANY(value), length);
	copy[length] = '\0';
	return copy;
}

/* A number: the one value that would read as "not given" becomes another
 * value outside every range, so it is refused as any other out-of-range
 * number is. */
static int32_t
number_value(int64 value)
{
	if (value < PG_INT32_MIN || value > PG_INT32_MAX)
		return MINT_NOT_GIVEN + 1;
	return value == MINT_NOT_GIVEN ? MINT_NOT_GIVEN + 1 : (int32_t) value;
}

/* The forms of the functions' arguments. */
typedef enum argument_form
{
	FORM_INT4,					/* numbers as int: 13 arguments */
	FORM_INT2,					/* numbers as smallint */
	FORM_INT8,					/* numbers as bigint */
	FORM_DATES,					/* birth dates as dates: 9 arguments */
	FORM_TEXT					/* all twelve fields as text: 13 arguments */
} argument_form;

/* A number argument of the form: MINT_NOT_GIVEN for NULL. */
static int32_t
int_argument(FunctionCallInfo fcinfo, int argno, argument_form form)
{
	if (PG_ARGISNULL(argno))
		return MINT_NOT_GIVEN;
	switch (form)
	{
		case FORM_INT2:
			return number_value(PG_GETARG_INT16(argno));
		case FORM_INT8:
			return number_value(PG_GETARG_INT64(argno));
		default:
			return number_value(PG_GETARG_INT32(argno));
	}
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
 * A number field of the text form, as mintbatch reads it from a CSV line.
 * Returns false when the text is malformed where mintbatch refuses the line
 * for it: in any column but the last, where it counts as not given.
 */
static bool
csv_number_argument(FunctionCallInfo fcinfo, int argno, bool last, int32_t *number)
{
	struct varlena *value;
	size_t		length;
	char		stack_buffer[TEXT_BUFFER_BYTES];
	char	   *buffer;
	int32_t		read_value = 0;
	int			verdict;

	*number = MINT_NOT_GIVEN;
	if (PG_ARGISNULL(argno))
		return true;
	value = PG_DETOAST_DATUM_PACKED(PG_GETARG_DATUM(argno));
	length = VARSIZE_ANY_EXHDR(value);
	buffer = length + 2 <= sizeof stack_buffer ? stack_buffer : palloc(length + 2);
	memcpy(buffer, VARDATA_ANY(value), length);
	verdict = mint_pg_csv_number(buffer, length, &read_value);
	if (verdict == MINT_PG_NUMBER_GIVEN)
		*number = number_value(read_value);
	return verdict != MINT_PG_NUMBER_MALFORMED || last;
}

/* The text form's columns, in the order of mintbatch's CSV header. */
static const int text_number_fields[] = {
	MINT_PATIENT_GENDER, MINT_PATIENT_BIRTH_YEAR, MINT_PATIENT_BIRTH_MONTH, MINT_PATIENT_BIRTH_DAY,
	MINT_POLICY_GENDER, MINT_POLICY_BIRTH_YEAR, MINT_POLICY_BIRTH_MONTH, MINT_POLICY_BIRTH_DAY
};

/* The refusal of a malformed number field, by field. */
static const char *const malformed_texts[MINT_POLICY_BIRTH_DAY + 1] = {
	[MINT_PATIENT_GENDER] = "patient_gender: not a number (an optional - and digits)",
	[MINT_PATIENT_BIRTH_YEAR] = "patient_birth_year: not a number (an optional - and digits)",
	[MINT_PATIENT_BIRTH_MONTH] = "patient_birth_month: not a number (an optional - and digits)",
	[MINT_PATIENT_BIRTH_DAY] = "patient_birth_day: not a number (an optional - and digits)",
	[MINT_POLICY_GENDER] = "policy_gender: not a number (an optional - and digits)",
	[MINT_POLICY_BIRTH_YEAR] = "policy_birth_year: not a number (an optional - and digits)",
	[MINT_POLICY_BIRTH_MONTH] = "policy_birth_month: not a number (an optional - and digits)",
	/* Never refused so (mintbatch's line ends there), but named all the same. */
	[MINT_POLICY_BIRTH_DAY] = "policy_birth_day: not a number (an optional - and digits)",
};

/*
 * Derives the identifier of the record in the call's arguments. Returns the
 * result's status; *malformed is the first malformed number field of the
 * text form that refuses the record (MINT_FIELD_NONE when none does).
 */
static int32_t
derive(FunctionCallInfo fcinfo, argument_form form, char *identifier, mint_result *result, int *malformed)
{
	char		buffers[4][TEXT_BUFFER_BYTES];
	mint_person patient = MINT_PERSON_INIT;
	mint_person policy = MINT_PERSON_INIT;
	mint_person *people[2] = {&patient, &policy};
	size_t		name_limit = SIZE_MAX;
	size_t		ssn_limit = SIZE_MAX;
	int			lenient_argno;
	int32_t		ssn_rule;
	int32_t		status;
	const mint_key *key;

	*malformed = MINT_FIELD_NONE;
	if (PG_NARGS() != (form == FORM_DATES ? 9 : 13))
		elog(ERROR, "mint_uuid: unexpected number of arguments %d", PG_NARGS());
	/* Texts are cut where mintbatch's buffers cut them. */
	if (form == FORM_TEXT)
	{
		name_limit = mint_pg_csv_name_bytes();
		ssn_limit = mint_pg_csv_ssn_bytes();
	}

	for (int side = 0; side < 2; side++)
	{
		mint_person *person = people[side];
		int			first = side * (form == FORM_DATES ? 4 : 6);

		person->name = text_argument(fcinfo, first, buffers[2 * side], name_limit);
		person->ssn = text_argument(fcinfo, first + 1, buffers[2 * side + 1], ssn_limit);
		if (form == FORM_DATES)
		{
			person->gender = int_argument(fcinfo, first + 2, FORM_INT4);
			date_argument(fcinfo, first + 3, person);
		}
		else if (form == FORM_TEXT)
		{
			int32_t    *numbers[4] = {&person->gender, &person->birth_year, &person->birth_month, &person->birth_day};

			for (int i = 0; i < 4; i++)
			{
				bool		last = side == 1 && i == 3;

				if (!csv_number_argument(fcinfo, first + 2 + i, last, numbers[i]) && *malformed == MINT_FIELD_NONE)
					*malformed = text_number_fields[side * 4 + i];
			}
		}
		else
		{
			person->gender = int_argument(fcinfo, first + 2, form);
			person->birth_year = int_argument(fcinfo, first + 3, form);
			person->birth_month = int_argument(fcinfo, first + 4, form);
			person->birth_day = int_argument(fcinfo, first + 5, form);
		}
	}
	lenient_argno = form == FORM_DATES ? 8 : 12;
	ssn_rule = !PG_ARGISNULL(lenient_argno) && PG_GETARG_BOOL(lenient_argno)
		? MINT_SSN_LENIENT : MINT_SSN_STRICT;
	key = call_key();

	status = mint_derive_prepared(&patient, &policy, ssn_rule, key, identifier, result);
	if (status == MINT_BAD_ARGUMENT)
		elog(ERROR, "mint_uuid: the identifier library refused the call");
	/* mintbatch stops at the first fault of the line: a refused SSN or
	 * number before the malformed field is that fault. (A name without
	 * letters is no fault of the line: it refuses a record only at the end,
	 * when the record is left without a key.) */
	if (*malformed != MINT_FIELD_NONE && status == MINT_REFUSED && result->field < *malformed &&
		result->field != MINT_PATIENT_NAME && result->field != MINT_POLICY_NAME)
		*malformed = MINT_FIELD_NONE;
	else if (*malformed != MINT_FIELD_NONE)
		status = MINT_REFUSED;
	return status;
}

static Datum
uuid_result(FunctionCallInfo fcinfo, argument_form form)
{
	char		identifier[MINT_ID_SIZE];
	mint_result result;
	int			malformed;
	int32_t		status = derive(fcinfo, form, identifier, &result, &malformed);

	if (status != MINT_IDENTIFIER && status != MINT_ZERO)
		PG_RETURN_NULL();
	PG_RETURN_TEXT_P(cstring_to_text_with_len(identifier, MINT_ID_SIZE - 1));
}

static Datum
problem_result(FunctionCallInfo fcinfo, argument_form form)
{
	char		identifier[MINT_ID_SIZE];
	mint_result result;
	int			malformed;
	int32_t		status = derive(fcinfo, form, identifier, &result, &malformed);

	if (status == MINT_IDENTIFIER || status == MINT_ZERO)
		PG_RETURN_NULL();
	if (malformed != MINT_FIELD_NONE)
		PG_RETURN_TEXT_P(cstring_to_text(malformed_texts[malformed]));
	PG_RETURN_TEXT_P(cstring_to_text(mint_result_text(&result)));
}

Datum
pg_mint_uuid_fields(PG_FUNCTION_ARGS)
{
	return uuid_result(fcinfo, FORM_INT4);
}

Datum
pg_mint_uuid_fields_int2(PG_FUNCTION_ARGS)
{
	return uuid_result(fcinfo, FORM_INT2);
}

Datum
pg_mint_uuid_fields_int8(PG_FUNCTION_ARGS)
{
	return uuid_result(fcinfo, FORM_INT8);
}

Datum
pg_mint_uuid_dates(PG_FUNCTION_ARGS)
{
	return uuid_result(fcinfo, FORM_DATES);
}

Datum
pg_mint_uuid_text(PG_FUNCTION_ARGS)
{
	return uuid_result(fcinfo, FORM_TEXT);
}

Datum
pg_mint_uuid_problem_fields(PG_FUNCTION_ARGS)
{
	return problem_result(fcinfo, FORM_INT4);
}

Datum
pg_mint_uuid_problem_fields_int2(PG_FUNCTION_ARGS)
{
	return problem_result(fcinfo, FORM_INT2);
}

Datum
pg_mint_uuid_problem_fields_int8(PG_FUNCTION_ARGS)
{
	return problem_result(fcinfo, FORM_INT8);
}

Datum
pg_mint_uuid_problem_dates(PG_FUNCTION_ARGS)
{
	return problem_result(fcinfo, FORM_DATES);
}

Datum
pg_mint_uuid_problem_text(PG_FUNCTION_ARGS)
{
	return problem_result(fcinfo, FORM_TEXT);
}

/* The fingerprint of the server's key; NULL without one. */
Datum
pg_mint_key_id(PG_FUNCTION_ARGS)
{
	if (call_key() == NULL)
		PG_RETURN_NULL();
	PG_RETURN_TEXT_P(cstring_to_text(server_key_id));
}
