--
-- A CSV file as people load it: COPY into a table of text columns, then
-- mint_uuid_text. Generated records with hostile values (run_tests.sh)
-- get, row by row, what mintbatch --key-only writes for the same file,
-- with or without the server's key as mintbatch with or without it.
--
SET client_min_messages = warning;
CREATE EXTENSION IF NOT EXISTS mint;
RESET client_min_messages;

\getenv test_dir MINT_TEST_DIR
\set hostile_csv :test_dir '/hostile.csv'
\set key_only_csv :test_dir '/hostile-key-only.csv'
CREATE TABLE hostile (
    data_record text, patient_name text, patient_ssn text, patient_gender text,
    patient_birth_year text, patient_birth_month text, patient_birth_day text,
    policy_name text, policy_ssn text, policy_gender text,
    policy_birth_year text, policy_birth_month text, policy_birth_day text);
COPY hostile FROM :'hostile_csv' (FORMAT csv, HEADER);
CREATE TABLE key_only (data_record text, uuid text);
COPY key_only FROM :'key_only_csv' (FORMAT csv, HEADER);

CREATE TABLE derived AS
SELECT data_record,
       mint_uuid_text(patient_name, patient_ssn, patient_gender,
                      patient_birth_year, patient_birth_month, patient_birth_day,
                      policy_name, policy_ssn, policy_gender,
                      policy_birth_year, policy_birth_month, policy_birth_day) AS uuid,
       mint_uuid_problem_text(patient_name, patient_ssn, patient_gender,
                      patient_birth_year, patient_birth_month, patient_birth_day,
                      policy_name, policy_ssn, policy_gender,
                      policy_birth_year, policy_birth_month, policy_birth_day) AS problem
FROM hostile;
SELECT count(*) AS rows,
       count(*) FILTER (WHERE d.uuid IS NOT DISTINCT FROM k.uuid) AS same,
       count(*) FILTER (WHERE d.uuid ~ '^[0-9a-v]{12}$' AND d.uuid <> '000000000000') AS identifiers,
       count(*) FILTER (WHERE d.uuid = '000000000000') AS zero,
       count(*) FILTER (WHERE d.uuid IS NULL) AS refused,
       count(*) FILTER (WHERE (d.uuid IS NULL) <> (d.problem IS NOT NULL)) AS problem_mismatch
FROM derived d FULL JOIN key_only k USING (data_record);
-- Every kind of refusal turns up.
SELECT regexp_replace(problem, '^[a-z_]+: ', '') AS refusal, count(*) > 0 AS seen
FROM derived WHERE problem IS NOT NULL GROUP BY 1 ORDER BY 1;
