--
-- The text form, numbers as smallint and bigint, who may call the functions,
-- and a server without a key: mint_key_id() is NULL and the setting cannot
-- be changed by SET.
--
SET client_min_messages = warning;
CREATE EXTENSION IF NOT EXISTS mint;
RESET client_min_messages;

-- Every function: immutable and parallel safe but not strict, except
-- mint_key_id (stable); none may be executed by PUBLIC.
CREATE ROLE regress_mint_clerk;
SELECT oid::regprocedure AS function, provolatile AS volatility, proparallel AS parallel, proisstrict AS strict,
       has_function_privilege('regress_mint_clerk', oid, 'EXECUTE') AS clerk_may_execute
FROM pg_proc WHERE proname LIKE 'mint\_%' ORDER BY oid::regprocedure::text;
SELECT extversion FROM pg_extension WHERE extname = 'mint';

-- No key: no fingerprint.
SELECT mint_key_id() IS NULL AS unkeyed;
-- The setting is read at server start only.
SET mint.key_file = 'mint_test/key.hex';

-- Each number text as mintbatch judges the same CSV field: one case per
-- line, changed in one field from Jane Doe, with the int form where the
-- text is a plain number.
CREATE TABLE text_cases (what text, name text, ssn text, gender text, year text, month text, day text,
                         policy_name text, policy_ssn text, policy_gender text,
                         policy_year text, policy_month text, policy_day text);
INSERT INTO text_cases VALUES
    ('patient key',            'Jane Doe', '123-45-6789', '2', '1970', '1', '31', NULL, NULL, NULL, NULL, NULL, NULL),
    ('policy key',             'Jane Doe', NULL, '2', '1970', '1', '31', 'John Doe', '987-65-4321', '1', '1968', '7', '4'),
    ('year " 1970"',           'Jane Doe', '123-45-6789', '2', ' 1970', '1', '31', NULL, NULL, NULL, NULL, NULL, NULL),
    ('year "19x0"',            'Jane Doe', '123-45-6789', '2', '19x0', '1', '31', NULL, NULL, NULL, NULL, NULL, NULL),
    ('year "1970.0"',          'Jane Doe', '123-45-6789', '2', '1970.0', '1', '31', NULL, NULL, NULL, NULL, NULL, NULL),
    ('year "+1970"',           'Jane Doe', '123-45-6789', '2', '+1970', '1', '31', NULL, NULL, NULL, NULL, NULL, NULL),
    ('year "1970 "',           'Jane Doe', '123-45-6789', '2', '1970 ', '1', '31', NULL, NULL, NULL, NULL, NULL, NULL),
    ('year "01970"',           'Jane Doe', '123-45-6789', '2', '01970', '1', '31', NULL, NULL, NULL, NULL, NULL, NULL),
    ('year "19,70"',           'Jane Doe', '123-45-6789', '2', '19,70', '1', '31', NULL, NULL, NULL, NULL, NULL, NULL),
    ('year "2100"',            'Jane Doe', '123-45-6789', '2', '2100', '1', '31', NULL, NULL, NULL, NULL, NULL, NULL),
    ('year "99999999999"',     'Jane Doe', '123-45-6789', '2', '99999999999', '1', '31', NULL, NULL, NULL, NULL, NULL, NULL),
    ('year "-2147483648"',     'Jane Doe', '123-45-6789', '2', '-2147483648', '1', '31', NULL, NULL, NULL, NULL, NULL, NULL),
    ('year "": not given',     'Jane Doe', '123-45-6789', '2', '', '1', '31', NULL, NULL, NULL, NULL, NULL, NULL),
    ('year "-": not given',    'Jane Doe', '123-45-6789', '2', '-', '1', '31', NULL, NULL, NULL, NULL, NULL, NULL),
    ('gender "0x10"',          'Jane Doe', '123-45-6789', '0x10', '1970', '1', '31', NULL, NULL, NULL, NULL, NULL, NULL),
    ('gender "-0"',            'Jane Doe', '123-45-6789', '-0', '1970', '1', '31', NULL, NULL, NULL, NULL, NULL, NULL),
    ('bad ssn, then "19x0"',   'Jane Doe', '12345678', '2', '19x0', '1', '31', NULL, NULL, NULL, NULL, NULL, NULL),
    ('"19x0", then bad month', 'Jane Doe', '123-45-6789', '2', '19x0', '13', '31', NULL, NULL, NULL, NULL, NULL, NULL),
    ('no letters, "19x0"',     '1234', NULL, '2', '19x0', '1', '31', 'John Doe', '987-65-4321', '1', '1968', '7', '4'),
    ('policy month "7a"',      'Jane Doe', NULL, '2', '1970', '1', '31', 'John Doe', '987-65-4321', '1', '1968', '7a', '4'),
    -- The last field, where mintbatch's line ends: malformed is not given.
    ('policy day "4x"',        'Jane Doe', NULL, '2', '1970', '1', '31', 'John Doe', '987-65-4321', '1', '1968', '7', '4x'),
    ('patient key, day "4x"',  'Jane Doe', '123-45-6789', '2', '1970', '1', '31', 'John Doe', NULL, NULL, NULL, NULL, '4x'),
    -- Texts are cut where mintbatch's buffers cut them: 99 bytes of a
    -- name, 999 of an SSN.
    ('no letter in 99 bytes',  repeat('-', 99) || 'Jane', '123-45-6789', '2', '1970', '1', '31', NULL, NULL, NULL, NULL, NULL, NULL),
    ('one letter in 99 bytes', repeat('-', 98) || 'Jane', '123-45-6789', '2', '1970', '1', '31', NULL, NULL, NULL, NULL, NULL, NULL),
    ('ssn cut at 999 bytes',   'Jane Doe', repeat('-', 991) || '123456789', '2', '1970', '1', '31', NULL, NULL, NULL, NULL, NULL, NULL),
    ('ssn within 999 bytes',   'Jane Doe', repeat('-', 990) || '123456789', '2', '1970', '1', '31', NULL, NULL, NULL, NULL, NULL, NULL),
    ('nothing at all',         NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL);
SELECT what,
       mint_uuid_text(name, ssn, gender, year, month, day,
                      policy_name, policy_ssn, policy_gender, policy_year, policy_month, policy_day) AS uuid,
       mint_uuid_problem_text(name, ssn, gender, year, month, day,
                      policy_name, policy_ssn, policy_gender, policy_year, policy_month, policy_day) AS problem
FROM text_cases;
-- Plain numbers give what the int form gives: only the texts cut where
-- mintbatch cuts them differ.
SELECT what AS differs_from_int_form FROM text_cases
WHERE NOT EXISTS (SELECT FROM unnest(ARRAY[gender, year, month, day, policy_gender, policy_year, policy_month,
                                            policy_day]) AS number WHERE number !~ '^[0-9]{1,9}$')
  AND mint_uuid_text(name, ssn, gender, year, month, day, policy_name, policy_ssn, policy_gender,
                     policy_year, policy_month, policy_day)
      IS DISTINCT FROM
      mint_uuid(name, ssn, gender::int, year::int, month::int, day::int, policy_name, policy_ssn,
                policy_gender::int, policy_year::int, policy_month::int, policy_day::int);
SELECT mint_uuid_text('Jane Doe', '12345678', '2', '1970', '1', '31', lenient_ssn => true)
       = mint_uuid('Jane Doe', '12345678', 2, 1970, 1, 31, lenient_ssn => true) AS lenient_same;

-- Numbers as smallint and bigint: each mix finds exactly one function, and
-- a bigint beyond 32 bits is a refused value.
SELECT mint_uuid('Jane Doe', '123-45-6789', 2::smallint, 1970::smallint, 1::smallint, 31::smallint) AS smallints,
       mint_uuid('Jane Doe', '123-45-6789', 2::bigint, 1970::bigint, 1::bigint, 31::bigint) AS bigints,
       mint_uuid('Jane Doe', '123-45-6789', 2::smallint, 1970, 1::bigint, 31) AS mixed,
       mint_uuid('Jane Doe', NULL, 2::bigint, 1970, 1, 31, 'John Doe', '987-65-4321', 1::smallint, 1968, 7, 4) AS policy_mixed;
SELECT year, mint_uuid('Jane Doe', '123-45-6789', 2, year, 1, 31) AS uuid,
       mint_uuid_problem('Jane Doe', '123-45-6789', 2, year, 1, 31) AS problem
FROM (VALUES (1970::bigint), (4294969266), (-4294965326), (-2147483648::bigint), (9223372036854775807)) AS years(year);
SELECT mint_uuid_problem('Jane Doe', '123-45-6789', 3::smallint, 1970::smallint, 1::smallint, 31::smallint) AS smallint_problem;
-- A table as pandas' to_sql creates it: bigint columns.
CREATE TABLE from_pandas (name text, ssn text, gender bigint, year bigint, month bigint, day bigint);
INSERT INTO from_pandas VALUES ('Jane Doe', '123-45-6789', 2, 1970, 1, 31), ('Jane Doe', '123-45-6789', 2, 19700, 1, 31);
SELECT mint_uuid(name, ssn, gender, year, month, day), mint_uuid_problem(name, ssn, gender, year, month, day)
FROM from_pandas;

-- Who may derive: EXECUTE is granted, never given to PUBLIC.
CREATE TABLE clerk_people AS SELECT 'Jane Doe'::text AS name, '123-45-6789'::text AS ssn;
GRANT SELECT ON clerk_people TO regress_mint_clerk;
SET ROLE regress_mint_clerk;
SELECT mint_uuid(name, ssn, 2, 1970, 1, 31) FROM clerk_people;
SELECT mint_key_id();
RESET ROLE;
GRANT EXECUTE ON FUNCTION mint_uuid(text, text, int, int, int, int, text, text, int, int, int, int, boolean),
                          mint_key_id() TO regress_mint_clerk;
SET ROLE regress_mint_clerk;
SELECT mint_uuid(name, ssn, 2, 1970, 1, 31) FROM clerk_people;
SELECT mint_key_id() IS NULL AS unkeyed;
SELECT mint_uuid_text(name, ssn, '2', '1970', '1', '31') FROM clerk_people;
RESET ROLE;
DROP OWNED BY regress_mint_clerk;
DROP ROLE regress_mint_clerk;

-- An install of version 1.0 updates to 1.1 in place: the new functions
-- come, and EXECUTE on every function is taken from PUBLIC.
CREATE ROLE regress_mint_reader;
DROP EXTENSION mint;
CREATE EXTENSION mint VERSION '1.0';
SELECT count(*) AS functions, count(*) FILTER (WHERE has_function_privilege('regress_mint_reader', oid, 'EXECUTE')) AS executable
FROM pg_proc WHERE proname LIKE 'mint\_%';
ALTER EXTENSION mint UPDATE;
SELECT extversion FROM pg_extension WHERE extname = 'mint';
SELECT count(*) AS functions, count(*) FILTER (WHERE has_function_privilege('regress_mint_reader', oid, 'EXECUTE')) AS executable
FROM pg_proc WHERE proname LIKE 'mint\_%';
SELECT mint_uuid_text('Jane Doe', '123-45-6789', '2', '1970', '1', '31') AS patient_key;
DROP ROLE regress_mint_reader;
