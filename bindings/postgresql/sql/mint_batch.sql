--
-- 100,000 generated records loaded with COPY get, in a serial and in a
-- parallel plan, exactly the identifiers that mintbatch writes for the same
-- CSV file (run_tests.sh makes both files).
--
SET client_min_messages = warning;
CREATE EXTENSION IF NOT EXISTS mint;
RESET client_min_messages;

\getenv test_dir MINT_TEST_DIR
\set records_csv :test_dir '/records.csv'
\set batch_csv :test_dir '/records-with-uuid.csv'
CREATE TABLE records (
    data_record bigint PRIMARY KEY, patient_name text, patient_ssn text, patient_gender int,
    patient_birth_year int, patient_birth_month int, patient_birth_day int,
    policy_name text, policy_ssn text, policy_gender int,
    policy_birth_year int, policy_birth_month int, policy_birth_day int);
COPY records FROM :'records_csv' (FORMAT csv, HEADER true);
-- mintbatch's output: the same lines with the identifier appended.
CREATE TABLE batch (LIKE records, uuid text);
COPY batch FROM :'batch_csv' (FORMAT csv, HEADER true);
ALTER TABLE records ADD COLUMN uuid text;
UPDATE records SET uuid = mint_uuid(patient_name, patient_ssn, patient_gender,
        patient_birth_year, patient_birth_month, patient_birth_day,
        policy_name, policy_ssn, policy_gender,
        policy_birth_year, policy_birth_month, policy_birth_day);
VACUUM ANALYZE records;

SELECT count(*) AS records,
       count(*) FILTER (WHERE r.uuid = b.uuid) AS same,
       count(*) FILTER (WHERE r.uuid ~ '^[g-v]') AS patient_keys,
       count(*) FILTER (WHERE r.uuid ~ '^[0-9a-f]' AND r.uuid <> '000000000000') AS policy_keys,
       count(*) FILTER (WHERE r.uuid = '000000000000') AS no_ssn
FROM records r FULL JOIN batch b USING (data_record);
-- The lines as mintbatch wrote them, apart from the identifier, are the input's.
SELECT count(*) AS fields_differ FROM records r JOIN batch b USING (data_record)
WHERE (r.patient_name, r.patient_ssn, r.patient_gender, r.patient_birth_year, r.patient_birth_month,
       r.patient_birth_day, r.policy_name, r.policy_ssn, r.policy_gender, r.policy_birth_year,
       r.policy_birth_month, r.policy_birth_day)
      IS DISTINCT FROM
      (b.patient_name, b.patient_ssn, b.patient_gender, b.patient_birth_year, b.patient_birth_month,
       b.patient_birth_day, b.policy_name, b.policy_ssn, b.policy_gender, b.policy_birth_year,
       b.policy_birth_month, b.policy_birth_day);

-- A parallel plan: the identifiers are derived in the workers, and are the same.
-- launched_workers(query): how many workers a query's plan launched.
CREATE FUNCTION launched_workers(query text) RETURNS int LANGUAGE plpgsql AS $$
DECLARE
    line text;
    launched int := 0;
BEGIN
    FOR line IN EXECUTE 'EXPLAIN (ANALYZE, COSTS OFF, TIMING OFF, SUMMARY OFF) ' || query LOOP
        IF line ~ 'Workers Launched: ' THEN
            launched := launched + substring(line FROM 'Workers Launched: (\d+)')::int;
        END IF;
    END LOOP;
    RETURN launched;
END
$$;
SET parallel_setup_cost = 0;
SET parallel_tuple_cost = 0;
SET min_parallel_table_scan_size = 0;
SET max_parallel_workers_per_gather = 2;
EXPLAIN (COSTS OFF)
SELECT count(*) FILTER (WHERE uuid = mint_uuid(patient_name, patient_ssn, patient_gender,
        patient_birth_year, patient_birth_month, patient_birth_day,
        policy_name, policy_ssn, policy_gender,
        policy_birth_year, policy_birth_month, policy_birth_day)) AS same
FROM records;
SELECT launched_workers($$
SELECT count(*) FILTER (WHERE uuid = mint_uuid(patient_name, patient_ssn, patient_gender,
        patient_birth_year, patient_birth_month, patient_birth_day,
        policy_name, policy_ssn, policy_gender,
        policy_birth_year, policy_birth_month, policy_birth_day)) AS same
FROM records $$) > 0 AS parallel;
SELECT count(*) AS records,
       count(*) FILTER (WHERE uuid = mint_uuid(patient_name, patient_ssn, patient_gender,
        patient_birth_year, patient_birth_month, patient_birth_day,
        policy_name, policy_ssn, policy_gender,
        policy_birth_year, policy_birth_month, policy_birth_day)) AS same
FROM records;
-- The date overload, in parallel too.
SELECT count(*) FILTER (WHERE uuid = mint_uuid(patient_name, patient_ssn, patient_gender,
        make_date(patient_birth_year, patient_birth_month, patient_birth_day),
        policy_name, policy_ssn, policy_gender,
        make_date(policy_birth_year, policy_birth_month, policy_birth_day))) AS same_from_dates
FROM records;
RESET parallel_setup_cost;
RESET parallel_tuple_cost;
RESET min_parallel_table_scan_size;
RESET max_parallel_workers_per_gather;
