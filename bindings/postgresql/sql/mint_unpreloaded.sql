--
-- mint.key_file set in the server's configuration, but the module not
-- preloaded: every call is an error that says how to configure it and
-- names no file, never an unkeyed identifier.
--
SET client_min_messages = warning;
CREATE EXTENSION IF NOT EXISTS mint;
RESET client_min_messages;
\set VERBOSITY default

SELECT mint_uuid('Jane Doe', '123-45-6789', 2, 1970, 1, 31);
SELECT mint_uuid_text('Jane Doe', '123-45-6789', '2', '1970', '1', '31');
SELECT mint_uuid_problem('Mary Major', '123-45-678', 2, 1990, 6, 15);
SELECT mint_key_id();
-- Nor can a session clear the setting to get unkeyed identifiers.
SET mint.key_file = '';

-- The same for a role allowed to derive, which may not see the setting.
CREATE ROLE regress_mint_clerk;
GRANT EXECUTE ON FUNCTION mint_uuid(text, text, int, int, int, int, text, text, int, int, int, int, boolean)
    TO regress_mint_clerk;
SET ROLE regress_mint_clerk;
SELECT mint_uuid('Jane Doe', '123-45-6789', 2, 1970, 1, 31);
SHOW mint.key_file;
SELECT count(*) FROM pg_settings WHERE name = 'mint.key_file';
RESET ROLE;
DROP OWNED BY regress_mint_clerk;
DROP ROLE regress_mint_clerk;
