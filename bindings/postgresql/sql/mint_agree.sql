--
-- Within one server run every way of calling gives the same identifier:
-- the leader and parallel workers, index and sequential scans, prepared
-- plans generic and custom, stored generated columns, and two sessions.
-- Run on the server without a key and on the one with the key: the output
-- is the same.
--
SET client_min_messages = warning;
CREATE EXTENSION IF NOT EXISTS mint;
RESET client_min_messages;

-- launched_workers(query): how many workers a query's plan launched.
CREATE OR REPLACE FUNCTION launched_workers(query text) RETURNS int LANGUAGE plpgsql AS $$
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

CREATE TABLE agree AS
    SELECT i, 'Patient ' || chr(65 + i % 26) || chr(65 + i / 26 % 26) AS name,
           lpad((i * 7919)::text, 9, '0') AS ssn, 1 + i % 2 AS gender,
           1900 + i % 100 AS year, 1 + i % 12 AS month, 1 + i % 28 AS day
    FROM generate_series(1, 20000) AS i;
-- Derived by this backend alone, and the fingerprint of its key.
SET max_parallel_workers_per_gather = 0;
ALTER TABLE agree ADD COLUMN uuid text;
UPDATE agree SET uuid = mint_uuid(name, ssn, gender, year, month, day);
CREATE TABLE agree_key AS SELECT mint_key_id() AS key_id;
CREATE TABLE agree_generated (
    session int, i int, name text, ssn text, gender int, year int, month int, day int,
    uuid text GENERATED ALWAYS AS (mint_uuid(name, ssn, gender, year, month, day)) STORED);
INSERT INTO agree_generated SELECT 1, i, name, ssn, gender, year, month, day FROM agree WHERE i <= 2000;
RESET max_parallel_workers_per_gather;
VACUUM ANALYZE agree;

-- Parallel workers derive what the leader derived.
SET parallel_setup_cost = 0;
SET parallel_tuple_cost = 0;
SET min_parallel_table_scan_size = 0;
SET max_parallel_workers_per_gather = 2;
SET parallel_leader_participation = off;
SELECT launched_workers('SELECT count(*) FROM agree WHERE mint_uuid(name, ssn, gender, year, month, day) = uuid') > 0
       AS parallel;
SELECT count(*) AS rows,
       count(*) FILTER (WHERE mint_uuid(name, ssn, gender, year, month, day) = uuid) AS same,
       count(*) FILTER (WHERE mint_key_id() IS NOT DISTINCT FROM (SELECT key_id FROM agree_key)) AS same_key
FROM agree;
RESET parallel_setup_cost;
RESET parallel_tuple_cost;
RESET min_parallel_table_scan_size;
RESET max_parallel_workers_per_gather;
RESET parallel_leader_participation;

-- An index on the identifier finds what a sequential scan finds.
CREATE INDEX agree_uuid ON agree (mint_uuid(name, ssn, gender, year, month, day));
CREATE TABLE agree_sample AS SELECT uuid FROM agree WHERE i % 97 = 0;
ANALYZE agree_sample;
SET enable_seqscan = off;
SET enable_bitmapscan = off;
SET enable_hashjoin = off;
SET enable_mergejoin = off;
EXPLAIN (COSTS OFF)
SELECT count(*) FROM agree_sample s JOIN agree a ON mint_uuid(a.name, a.ssn, a.gender, a.year, a.month, a.day) = s.uuid;
SELECT count(*) AS found_by_index
FROM agree_sample s JOIN agree a ON mint_uuid(a.name, a.ssn, a.gender, a.year, a.month, a.day) = s.uuid;
RESET enable_seqscan;
SET enable_indexscan = off;
SET enable_hashjoin = on;
EXPLAIN (COSTS OFF)
SELECT count(*) FROM agree_sample s JOIN agree a ON mint_uuid(a.name, a.ssn, a.gender, a.year, a.month, a.day) = s.uuid;
SELECT count(*) AS found_by_sequential_scan
FROM agree_sample s JOIN agree a ON mint_uuid(a.name, a.ssn, a.gender, a.year, a.month, a.day) = s.uuid;
RESET enable_indexscan;
RESET enable_bitmapscan;
RESET enable_hashjoin;
RESET enable_mergejoin;

-- Prepared plans, generic and custom, give the stored identifiers.
CREATE FUNCTION prepared_differ() RETURNS int LANGUAGE plpgsql AS $$
DECLARE
    r record;
    differ int := 0;
BEGIN
    FOR r IN SELECT * FROM agree WHERE i <= 500 LOOP
        IF mint_uuid(r.name, r.ssn, r.gender, r.year, r.month, r.day) IS DISTINCT FROM r.uuid THEN
            differ := differ + 1;
        END IF;
    END LOOP;
    RETURN differ;
END
$$;
PREPARE derive_one(text, text, int, int, int, int) AS SELECT mint_uuid($1, $2, $3, $4, $5, $6) AS uuid;
SET plan_cache_mode = force_generic_plan;
SELECT prepared_differ() AS generic_differ;
EXECUTE derive_one('Patient BA', '000007919', 2, 1901, 2, 2) \gset generic_
SET plan_cache_mode = force_custom_plan;
SELECT prepared_differ() AS custom_differ;
EXECUTE derive_one('Patient BA', '000007919', 2, 1901, 2, 2) \gset custom_
RESET plan_cache_mode;
SELECT :'generic_uuid' = uuid AS generic_same, :'custom_uuid' = uuid AS custom_same FROM agree WHERE i = 1;

-- Another session: the same identifiers, the same key, the same generated
-- column values.
\c
SELECT count(*) AS rows, count(*) FILTER (WHERE mint_uuid(name, ssn, gender, year, month, day) = uuid) AS same
FROM agree;
SELECT key_id IS NOT DISTINCT FROM mint_key_id() AS same_key FROM agree_key;
INSERT INTO agree_generated SELECT 2, i, name, ssn, gender, year, month, day FROM agree WHERE i <= 2000;
SELECT count(*) AS rows,
       count(*) FILTER (WHERE g.uuid = a.uuid) AS same_as_stored,
       count(DISTINCT g.uuid) AS distinct_identifiers
FROM agree_generated g JOIN agree a USING (i);
