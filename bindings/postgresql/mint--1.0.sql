/* bindings/postgresql/mint--1.0.sql */

-- complain if script is sourced in psql, rather than via CREATE EXTENSION
\echo Use "CREATE EXTENSION mint" to load this file. \quit

-- IMMUTABLE: within one server run the result depends on the arguments
-- alone (the key is read once, at server start; see mint--1.0--1.1.sql, which
-- every install runs after this script).
-- Not STRICT: a NULL argument is a field not given, which the derivation
-- judges (a patient without an SSN may still be covered by a policy holder).

CREATE FUNCTION mint_uuid(
    patient_name text, patient_ssn text, patient_gender int,
    patient_birth_year int, patient_birth_month int, patient_birth_day int,
    policy_name text DEFAULT NULL, policy_ssn text DEFAULT NULL, policy_gender int DEFAULT NULL,
    policy_birth_year int DEFAULT NULL, policy_birth_month int DEFAULT NULL, policy_birth_day int DEFAULT NULL,
    lenient_ssn boolean DEFAULT false)
RETURNS text
AS 'MODULE_PATHNAME', 'pg_mint_uuid_fields'
LANGUAGE C IMMUTABLE PARALLEL SAFE;

CREATE FUNCTION mint_uuid(
    patient_name text, patient_ssn text, patient_gender int, patient_birth date,
    policy_name text DEFAULT NULL, policy_ssn text DEFAULT NULL, policy_gender int DEFAULT NULL,
    policy_birth date DEFAULT NULL,
    lenient_ssn boolean DEFAULT false)
RETURNS text
AS 'MODULE_PATHNAME', 'pg_mint_uuid_dates'
LANGUAGE C IMMUTABLE PARALLEL SAFE;

CREATE FUNCTION mint_uuid_problem(
    patient_name text, patient_ssn text, patient_gender int,
    patient_birth_year int, patient_birth_month int, patient_birth_day int,
    policy_name text DEFAULT NULL, policy_ssn text DEFAULT NULL, policy_gender int DEFAULT NULL,
    policy_birth_year int DEFAULT NULL, policy_birth_month int DEFAULT NULL, policy_birth_day int DEFAULT NULL,
    lenient_ssn boolean DEFAULT false)
RETURNS text
AS 'MODULE_PATHNAME', 'pg_mint_uuid_problem_fields'
LANGUAGE C IMMUTABLE PARALLEL SAFE;

CREATE FUNCTION mint_uuid_problem(
    patient_name text, patient_ssn text, patient_gender int, patient_birth date,
    policy_name text DEFAULT NULL, policy_ssn text DEFAULT NULL, policy_gender int DEFAULT NULL,
    policy_birth date DEFAULT NULL,
    lenient_ssn boolean DEFAULT false)
RETURNS text
AS 'MODULE_PATHNAME', 'pg_mint_uuid_problem_dates'
LANGUAGE C IMMUTABLE PARALLEL SAFE;

COMMENT ON FUNCTION mint_uuid(text, text, int, int, int, int, text, text, int, int, int, int, boolean) IS
'12-character patient identifier; 000000000000 when no SSN is given; NULL when the record is refused';
COMMENT ON FUNCTION mint_uuid(text, text, int, date, text, text, int, date, boolean) IS
'12-character patient identifier from birth dates; 000000000000 when no SSN is given; NULL when the record is refused';
COMMENT ON FUNCTION mint_uuid_problem(text, text, int, int, int, int, text, text, int, int, int, int, boolean) IS
'why mint_uuid refuses the record; NULL when it gets an identifier';
COMMENT ON FUNCTION mint_uuid_problem(text, text, int, date, text, text, int, date, boolean) IS
'why mint_uuid refuses the record; NULL when it gets an identifier';
