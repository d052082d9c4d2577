/* bindings/postgresql/mint--1.0--1.1.sql */

-- complain if script is sourced in psql, rather than via ALTER EXTENSION
\echo Use "ALTER EXTENSION mint UPDATE" to load this file. \quit

-- Version 1.1: one key per server run, the key's fingerprint, numbers as
-- smallint and bigint, the text form, and EXECUTE for chosen roles only.
-- A new install runs mint--1.0.sql and then this script.
--
-- IMMUTABLE is true: the key is read once, at server start, with mint in
-- shared_preload_libraries, and mint.key_file cannot change before the next
-- start. Within one server run the result therefore depends on the arguments
-- alone, in every backend and parallel worker. A key change is a restart
-- with another file; afterwards indexes, generated columns and stored
-- identifiers made under the old key must be rebuilt (mint_key_id() tells
-- which key made a stored identifier).
-- Not STRICT: a NULL argument is a field not given, which the derivation
-- judges (a patient without an SSN may still be covered by a policy holder).

-- Numbers as smallint and as bigint (what pandas' to_sql creates). A bigint
-- beyond 32 bits is a refused value. With the int form beside them every
-- mix of smallint, int and bigint finds exactly one function.
CREATE FUNCTION mint_uuid(
    patient_name text, patient_ssn text, patient_gender smallint,
    patient_birth_year smallint, patient_birth_month smallint, patient_birth_day smallint,
    policy_name text DEFAULT NULL, policy_ssn text DEFAULT NULL, policy_gender smallint DEFAULT NULL,
    policy_birth_year smallint DEFAULT NULL, policy_birth_month smallint DEFAULT NULL,
    policy_birth_day smallint DEFAULT NULL,
    lenient_ssn boolean DEFAULT false)
RETURNS text
AS 'MODULE_PATHNAME', 'pg_mint_uuid_fields_int2'
LANGUAGE C IMMUTABLE PARALLEL SAFE;

CREATE FUNCTION mint_uuid(
    patient_name text, patient_ssn text, patient_gender bigint,
    patient_birth_year bigint, patient_birth_month bigint, patient_birth_day bigint,
    policy_name text DEFAULT NULL, policy_ssn text DEFAULT NULL, policy_gender bigint DEFAULT NULL,
    policy_birth_year bigint DEFAULT NULL, policy_birth_month bigint DEFAULT NULL,
    policy_birth_day bigint DEFAULT NULL,
    lenient_ssn boolean DEFAULT false)
RETURNS text
AS 'MODULE_PATHNAME', 'pg_mint_uuid_fields_int8'
LANGUAGE C IMMUTABLE PARALLEL SAFE;

CREATE FUNCTION mint_uuid_problem(
    patient_name text, patient_ssn text, patient_gender smallint,
    patient_birth_year smallint, patient_birth_month smallint, patient_birth_day smallint,
    policy_name text DEFAULT NULL, policy_ssn text DEFAULT NULL, policy_gender smallint DEFAULT NULL,
    policy_birth_year smallint DEFAULT NULL, policy_birth_month smallint DEFAULT NULL,
    policy_birth_day smallint DEFAULT NULL,
    lenient_ssn boolean DEFAULT false)
RETURNS text
AS 'MODULE_PATHNAME', 'pg_mint_uuid_problem_fields_int2'
LANGUAGE C IMMUTABLE PARALLEL SAFE;

CREATE FUNCTION mint_uuid_problem(
    patient_name text, patient_ssn text, patient_gender bigint,
    patient_birth_year bigint, patient_birth_month bigint, patient_birth_day bigint,
    policy_name text DEFAULT NULL, policy_ssn text DEFAULT NULL, policy_gender bigint DEFAULT NULL,
    policy_birth_year bigint DEFAULT NULL, policy_birth_month bigint DEFAULT NULL,
    policy_birth_day bigint DEFAULT NULL,
    lenient_ssn boolean DEFAULT false)
RETURNS text
AS 'MODULE_PATHNAME', 'pg_mint_uuid_problem_fields_int8'
LANGUAGE C IMMUTABLE PARALLEL SAFE;

-- All twelve fields as text, as COPY ... (FORMAT csv) loads them into text
-- columns: each number is judged exactly as mintbatch judges the same CSV
-- field (an empty field is not given; anything but an optional '-' and
-- digits refuses the record, except in the last column).
CREATE FUNCTION mint_uuid_text(
    patient_name text, patient_ssn text, patient_gender text,
    patient_birth_year text, patient_birth_month text, patient_birth_day text,
    policy_name text DEFAULT NULL, policy_ssn text DEFAULT NULL, policy_gender text DEFAULT NULL,
    policy_birth_year text DEFAULT NULL, policy_birth_month text DEFAULT NULL,
    policy_birth_day text DEFAULT NULL,
    lenient_ssn boolean DEFAULT false)
RETURNS text
AS 'MODULE_PATHNAME', 'pg_mint_uuid_text'
LANGUAGE C IMMUTABLE PARALLEL SAFE;

CREATE FUNCTION mint_uuid_problem_text(
    patient_name text, patient_ssn text, patient_gender text,
    patient_birth_year text, patient_birth_month text, patient_birth_day text,
    policy_name text DEFAULT NULL, policy_ssn text DEFAULT NULL, policy_gender text DEFAULT NULL,
    policy_birth_year text DEFAULT NULL, policy_birth_month text DEFAULT NULL,
    policy_birth_day text DEFAULT NULL,
    lenient_ssn boolean DEFAULT false)
RETURNS text
AS 'MODULE_PATHNAME', 'pg_mint_uuid_problem_text'
LANGUAGE C IMMUTABLE PARALLEL SAFE;

-- STABLE, not IMMUTABLE: it is called once per query, and nothing gains from
-- folding it into a stored plan or expression.
CREATE FUNCTION mint_key_id()
RETURNS text
AS 'MODULE_PATHNAME', 'pg_mint_key_id'
LANGUAGE C STABLE PARALLEL SAFE;

COMMENT ON FUNCTION mint_uuid(text, text, smallint, smallint, smallint, smallint, text, text, smallint, smallint, smallint, smallint, boolean) IS
'12-character patient identifier; 000000000000 when no SSN is given; NULL when the record is refused';
COMMENT ON FUNCTION mint_uuid(text, text, bigint, bigint, bigint, bigint, text, text, bigint, bigint, bigint, bigint, boolean) IS
'12-character patient identifier; 000000000000 when no SSN is given; NULL when the record is refused';
COMMENT ON FUNCTION mint_uuid_problem(text, text, smallint, smallint, smallint, smallint, text, text, smallint, smallint, smallint, smallint, boolean) IS
'why mint_uuid refuses the record; NULL when it gets an identifier';
COMMENT ON FUNCTION mint_uuid_problem(text, text, bigint, bigint, bigint, bigint, text, text, bigint, bigint, bigint, bigint, boolean) IS
'why mint_uuid refuses the record; NULL when it gets an identifier';
COMMENT ON FUNCTION mint_uuid_text(text, text, text, text, text, text, text, text, text, text, text, text, boolean) IS
'12-character patient identifier from text fields judged as mintbatch judges CSV fields; NULL when the record is refused';
COMMENT ON FUNCTION mint_uuid_problem_text(text, text, text, text, text, text, text, text, text, text, text, text, boolean) IS
'why mint_uuid_text refuses the record; NULL when it gets an identifier';
COMMENT ON FUNCTION mint_key_id() IS
'public fingerprint of the key in force this server run; NULL when identifiers are unkeyed';

-- Who may derive: a role that can call these functions can derive the
-- identifier of any chosen name, birth date and SSN, and so search the SSN
-- space for a known person. Grant EXECUTE to the roles that need it.
REVOKE EXECUTE ON FUNCTION
    mint_uuid(text, text, int, int, int, int, text, text, int, int, int, int, boolean),
    mint_uuid(text, text, smallint, smallint, smallint, smallint, text, text, smallint, smallint, smallint, smallint, boolean),
    mint_uuid(text, text, bigint, bigint, bigint, bigint, text, text, bigint, bigint, bigint, bigint, boolean),
    mint_uuid(text, text, int, date, text, text, int, date, boolean),
    mint_uuid_problem(text, text, int, int, int, int, text, text, int, int, int, int, boolean),
    mint_uuid_problem(text, text, smallint, smallint, smallint, smallint, text, text, smallint, smallint, smallint, smallint, boolean),
    mint_uuid_problem(text, text, bigint, bigint, bigint, bigint, text, text, bigint, bigint, bigint, bigint, boolean),
    mint_uuid_problem(text, text, int, date, text, text, int, date, boolean),
    mint_uuid_text(text, text, text, text, text, text, text, text, text, text, text, text, boolean),
    mint_uuid_problem_text(text, text, text, text, text, text, text, text, text, text, text, text, boolean),
    mint_key_id()
FROM PUBLIC;
