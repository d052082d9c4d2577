--
-- The server's key: read once at server start (run_tests.sh starts this
-- server with mint preloaded and mint.key_file = 'mint_test/key.hex', the
-- project's test key), the same for the whole run whatever a superuser does
-- short of a restart, and visible only to those PostgreSQL shows its own
-- secret-bearing settings to.
--
SET client_min_messages = warning;
CREATE EXTENSION IF NOT EXISTS mint;
RESET client_min_messages;

SHOW shared_preload_libraries;
SHOW mint.key_file;
-- The test key's fingerprint and its known identifiers of the worked
-- examples; the zero identifier and a refusal as without a key. (The file
-- has held another key since the server started: that changes nothing.)
SELECT mint_key_id();
SELECT mint_uuid('Jane Doe', '123-45-6789', 2, 1970, 1, 31) AS patient_key,
       mint_uuid('Jane Doe', NULL, 2, date '1970-01-31', 'John Doe', '987-65-4321', 1, date '1968-07-04') AS policy_key,
       mint_uuid('Roe, Richard', NULL, 1, 1985, 12, 24) AS no_ssn,
       mint_uuid_problem('Mary Major', '123-45-678', 2, 1990, 6, 15) AS refused;
SELECT mint_uuid_text('Jane Doe', '123-45-6789', '2', '1970', '1', '31') AS text_form,
       mint_uuid('Jane Doe', '123-45-6789', 2::bigint, 1970, 1, 31) AS bigint_form,
       mint_uuid('Jane Doe', '123-45-6789', 2::smallint, 1970::smallint, 1::smallint, 31::smallint) AS smallint_form;
CREATE TABLE before AS
    SELECT mint_key_id() AS key_id, mint_uuid('Jane Doe', '123-45-6789', 2, 1970, 1, 31) AS uuid;

-- Nothing short of a restart changes the key: not SET, not ALTER SYSTEM with
-- a reload, not a setting of the database or the role.
\set VERBOSITY default
SET mint.key_file = '';
SET mint.key_file = 'mint_test/other-key.hex';
ALTER SYSTEM SET mint.key_file = '';
SELECT pg_reload_conf();
SELECT pg_sleep(0.5);
SELECT key_id = mint_key_id() AS same_key, uuid = mint_uuid('Jane Doe', '123-45-6789', 2, 1970, 1, 31) AS same_uuid
FROM before;
SHOW mint.key_file;
ALTER SYSTEM RESET mint.key_file;
SELECT pg_reload_conf();
SELECT current_database() AS database \gset
ALTER DATABASE :"database" SET mint.key_file = '';
ALTER ROLE CURRENT_USER SET mint.key_file = '';
\c
SELECT key_id = mint_key_id() AS same_key, uuid = mint_uuid('Jane Doe', '123-45-6789', 2, 1970, 1, 31) AS same_uuid
FROM before;
\set VERBOSITY terse

-- Who sees the setting: superusers and members of pg_read_all_settings.
CREATE ROLE regress_mint_clerk;
CREATE ROLE regress_mint_auditor IN ROLE pg_read_all_settings;
SET ROLE regress_mint_clerk;
SHOW mint.key_file;
SELECT count(*) FROM pg_settings WHERE name = 'mint.key_file';
SET ROLE regress_mint_auditor;
SHOW mint.key_file;
RESET ROLE;

-- Who derives: only roles granted EXECUTE.
SET ROLE regress_mint_clerk;
SELECT mint_uuid('Jane Doe', '123-45-6789', 2, 1970, 1, 31);
RESET ROLE;
GRANT EXECUTE ON FUNCTION mint_uuid(text, text, int, int, int, int, text, text, int, int, int, int, boolean),
                          mint_key_id() TO regress_mint_clerk;
GRANT SELECT ON before TO regress_mint_clerk;
SET ROLE regress_mint_clerk;
SELECT mint_uuid('Jane Doe', '123-45-6789', 2, 1970, 1, 31) = (SELECT uuid FROM before) AS same_uuid,
       mint_key_id() = (SELECT key_id FROM before) AS same_key;
RESET ROLE;
DROP OWNED BY regress_mint_clerk;
DROP ROLE regress_mint_clerk;
DROP ROLE regress_mint_auditor;
