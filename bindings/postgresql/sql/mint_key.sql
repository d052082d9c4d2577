--
-- Keyed identifiers: mint.key_file names a file on the server that holds the
-- key, so the key itself is in no query and no message. The files used here
-- sit in the data directory's mint_test/ (see run_tests.sh).
--
SET client_min_messages = warning;
CREATE EXTENSION IF NOT EXISTS mint;
RESET client_min_messages;

CREATE TABLE people (who text, name text, ssn text, gender int, birth date,
                     policy_name text, policy_ssn text, policy_gender int, policy_birth date);
INSERT INTO people VALUES
    ('patient key', 'Jane Doe', '123-45-6789', 2, '1970-01-31', NULL, NULL, NULL, NULL),
    ('policy key', 'Jane Doe', NULL, 2, '1970-01-31', 'John Doe', '987-65-4321', 1, '1968-07-04'),
    ('no ssn', 'Roe, Richard', NULL, 1, '1985-12-24', NULL, NULL, NULL, NULL),
    ('refused', 'Mary Major', '123-45-678', 2, '1990-06-15', NULL, NULL, NULL, NULL);
CREATE VIEW identifiers AS
    SELECT who, mint_uuid(name, ssn, gender, birth, policy_name, policy_ssn, policy_gender, policy_birth) AS uuid
    FROM people;
CREATE TABLE unkeyed AS SELECT * FROM identifiers;

-- No key by default.
SHOW mint.key_file;
SELECT * FROM identifiers;

-- With the project's test key: its known identifiers of the worked examples
-- (mib97ds9ej5d, 8l00kma9drtk), the zero identifier and the refusal as before.
SET mint.key_file = 'mint_test/key.hex';
CREATE TABLE keyed AS SELECT * FROM identifiers;
SELECT * FROM keyed;
SELECT who, k.uuid <> u.uuid AS differs FROM keyed k JOIN unkeyed u USING (who);

-- The same key in capitals, split by spaces and lines, or without a final
-- line end, gives the same identifiers; another key gives others.
SET mint.key_file = 'mint_test/key-spaced.hex';
SELECT who, uuid IS NOT DISTINCT FROM (SELECT uuid FROM keyed k WHERE k.who = i.who) AS same FROM identifiers i;
SET mint.key_file = 'mint_test/key-no-newline.hex';
SELECT who, uuid IS NOT DISTINCT FROM (SELECT uuid FROM keyed k WHERE k.who = i.who) AS same FROM identifiers i;
SET mint.key_file = 'mint_test/other-key.hex';
SELECT who, uuid IS NOT DISTINCT FROM (SELECT uuid FROM keyed k WHERE k.who = i.who) AS same FROM identifiers i;
-- A key file that other users may read serves, with a warning when it is read.
SET mint.key_file = 'mint_test/key-readable.hex';
SELECT who, uuid IS NOT DISTINCT FROM (SELECT uuid FROM keyed k WHERE k.who = i.who) AS same FROM identifiers i;
SELECT mint_uuid('Jane Doe', '123-45-6789', 2, 1970, 1, 31) = (SELECT uuid FROM keyed WHERE who = 'patient key') AS same;

-- Back to no key.
RESET mint.key_file;
SELECT who, uuid IS NOT DISTINCT FROM (SELECT uuid FROM unkeyed u WHERE u.who = i.who) AS same FROM identifiers i;

-- A key file that cannot serve is an error, named with its file and never
-- with its content, on every call until the setting changes: a bad key file
-- never gives identifiers without a key.
\set VERBOSITY default
SET mint.key_file = 'mint_test/missing.hex';
SELECT mint_uuid('Jane Doe', '123-45-6789', 2, 1970, 1, 31);
SELECT mint_uuid_problem('Mary Major', '123-45-678', 2, 1990, 6, 15);
SET mint.key_file = 'mint_test/empty.hex';
SELECT mint_uuid('Jane Doe', '123-45-6789', 2, 1970, 1, 31);
SET mint.key_file = 'mint_test/short.hex';
SELECT mint_uuid('Jane Doe', '123-45-6789', 2, 1970, 1, 31);
SET mint.key_file = 'mint_test/odd.hex';
SELECT mint_uuid('Jane Doe', '123-45-6789', 2, 1970, 1, 31);
SET mint.key_file = 'mint_test/not-hex.hex';
SELECT mint_uuid('Jane Doe', '123-45-6789', 2, 1970, 1, 31);
SET mint.key_file = 'mint_test/long.hex';
SELECT mint_uuid('Jane Doe', '123-45-6789', 2, 1970, 1, 31);
SET mint.key_file = 'mint_test';
SELECT mint_uuid('Jane Doe', '123-45-6789', 2, 1970, 1, 31);
-- A good file again: keyed identifiers again.
SET mint.key_file = 'mint_test/key.hex';
SELECT who, uuid IS NOT DISTINCT FROM (SELECT uuid FROM keyed k WHERE k.who = i.who) AS same FROM identifiers i;

-- Parallel workers read the key too (launched_workers: see mint_batch.sql).
CREATE TABLE many AS
    SELECT i, 'Patient ' || chr(65 + i % 26) || chr(65 + i / 26 % 26) AS name,
           lpad((i * 7919)::text, 9, '0') AS ssn, 1 + i % 2 AS gender,
           1900 + i % 100 AS year, 1 + i % 12 AS month, 1 + i % 28 AS day
    FROM generate_series(1, 20000) AS i;
ALTER TABLE many ADD COLUMN uuid text;
UPDATE many SET uuid = mint_uuid(name, ssn, gender, year, month, day);
VACUUM ANALYZE many;
SET parallel_setup_cost = 0;
SET parallel_tuple_cost = 0;
SET min_parallel_table_scan_size = 0;
SET max_parallel_workers_per_gather = 2;
SELECT launched_workers('SELECT count(*) FROM many WHERE mint_uuid(name, ssn, gender, year, month, day) = uuid') > 0
       AS parallel;
SELECT count(*) AS rows, count(*) FILTER (WHERE mint_uuid(name, ssn, gender, year, month, day) = uuid) AS same,
       count(*) FILTER (WHERE uuid = mint_uuid(name, ssn, gender, year, month, day, lenient_ssn => true)) AS same_lenient
FROM many;
RESET parallel_setup_cost;
RESET parallel_tuple_cost;
RESET min_parallel_table_scan_size;
RESET max_parallel_workers_per_gather;
RESET mint.key_file;
SELECT count(*) FILTER (WHERE uuid = mint_uuid(name, ssn, gender, year, month, day)) AS same_without_key FROM many;

-- Set for the database, the key is in force from a session's first call: the
-- setting is there before the module is loaded.
SELECT current_database() AS database \gset
ALTER DATABASE :"database" SET mint.key_file = 'mint_test/key.hex';
\c
SELECT * FROM identifiers;
ALTER DATABASE :"database" RESET mint.key_file;
\c
SELECT * FROM identifiers;

-- Only a superuser sets or reads the setting; anyone may use the key.
SET mint.key_file = 'mint_test/key.hex';
CREATE ROLE regress_mint_clerk;
GRANT SELECT ON people TO regress_mint_clerk;
GRANT SELECT ON identifiers, keyed TO regress_mint_clerk;
SET ROLE regress_mint_clerk;
SET mint.key_file = 'mint_test/other-key.hex';
SHOW mint.key_file;
SELECT count(*) FROM pg_settings WHERE name = 'mint.key_file';
SELECT who, uuid IS NOT DISTINCT FROM (SELECT uuid FROM keyed k WHERE k.who = i.who) AS same FROM identifiers i;
RESET ROLE;
DROP OWNED BY regress_mint_clerk;
DROP ROLE regress_mint_clerk;
RESET mint.key_file;
