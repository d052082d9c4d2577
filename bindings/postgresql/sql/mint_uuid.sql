--
-- mint_uuid and mint_uuid_problem without a key: the worked examples, every
-- kind of refusal, NULLs, the date overload and long or stored texts.
--
SET client_min_messages = warning;
CREATE EXTENSION IF NOT EXISTS mint;
RESET client_min_messages;

-- The functions: immutable and parallel safe, but not strict (a NULL is a
-- field not given).
SELECT oid::regprocedure AS function, provolatile AS volatility, proparallel AS parallel, proisstrict AS strict
FROM pg_proc WHERE proname LIKE 'mint\_uuid%' ORDER BY oid::regprocedure::text;

-- The example records of examples/patients.csv: a patient key, a policy key,
-- no SSN anywhere (the zero identifier) and an SSN of eight digits.
CREATE TABLE examples (
    data_record int, patient_name text, patient_ssn text, patient_gender int,
    patient_birth_year int, patient_birth_month int, patient_birth_day int,
    policy_name text, policy_ssn text, policy_gender int,
    policy_birth_year int, policy_birth_month int, policy_birth_day int);
INSERT INTO examples VALUES
    (1001, 'Jane Doe', '123-45-6789', 2, 1970, 1, 31, NULL, NULL, NULL, NULL, NULL, NULL),
    (1002, 'Jane Doe', NULL, 2, 1970, 1, 31, 'John Doe', '987-65-4321', 1, 1968, 7, 4),
    (1003, 'Roe, Richard', NULL, 1, 1985, 12, 24, NULL, NULL, NULL, NULL, NULL, NULL),
    (1004, 'Mary Major', '123-45-678', 2, 1990, 6, 15, NULL, NULL, NULL, NULL, NULL, NULL);
SELECT data_record,
       mint_uuid(patient_name, patient_ssn, patient_gender,
                 patient_birth_year, patient_birth_month, patient_birth_day,
                 policy_name, policy_ssn, policy_gender,
                 policy_birth_year, policy_birth_month, policy_birth_day) AS uuid,
       mint_uuid_problem(patient_name, patient_ssn, patient_gender,
                 patient_birth_year, patient_birth_month, patient_birth_day,
                 policy_name, policy_ssn, policy_gender,
                 policy_birth_year, policy_birth_month, policy_birth_day) AS problem
FROM examples ORDER BY data_record;

-- One case per line: a record changed in one place from Jane Doe (patient
-- key) or from her policy-key record, with what each function says.
CREATE TABLE cases (
    what text, patient_name text, patient_ssn text, patient_gender int,
    patient_birth_year int, patient_birth_month int, patient_birth_day int,
    policy_name text, policy_ssn text, policy_gender int,
    policy_birth_year int, policy_birth_month int, policy_birth_day int,
    lenient_ssn boolean);
INSERT INTO cases VALUES
    ('patient key',                'Jane Doe', '123-45-6789', 2, 1970, 1, 31, NULL, NULL, NULL, NULL, NULL, NULL, false),
    ('name spelt otherwise',       'JANE-DOE.', '123456789',  2, 1970, 1, 31, NULL, NULL, NULL, NULL, NULL, NULL, false),
    ('name without letters',       '1234',     '123-45-6789', 2, 1970, 1, 31, NULL, NULL, NULL, NULL, NULL, NULL, false),
    ('name empty: not given',      '',         '123-45-6789', 2, 1970, 1, 31, NULL, NULL, NULL, NULL, NULL, NULL, false),
    ('name NULL: not given',       NULL,       '123-45-6789', 2, 1970, 1, 31, NULL, NULL, NULL, NULL, NULL, NULL, false),
    ('ssn of eight digits',        'Jane Doe', '12345678',    2, 1970, 1, 31, NULL, NULL, NULL, NULL, NULL, NULL, false),
    ('ssn of eight, lenient',      'Jane Doe', '12345678',    2, 1970, 1, 31, NULL, NULL, NULL, NULL, NULL, NULL, true),
    ('ssn of ten digits',          'Jane Doe', '1234567890',  2, 1970, 1, 31, NULL, NULL, NULL, NULL, NULL, NULL, false),
    ('ssn of ten, lenient',        'Jane Doe', '1234567890',  2, 1970, 1, 31, NULL, NULL, NULL, NULL, NULL, NULL, true),
    ('ssn without digits',         'Jane Doe', 'none',        2, 1970, 1, 31, NULL, NULL, NULL, NULL, NULL, NULL, true),
    ('lenient NULL: strict',       'Jane Doe', '12345678',    2, 1970, 1, 31, NULL, NULL, NULL, NULL, NULL, NULL, NULL),
    ('gender 0',                   'Jane Doe', '123-45-6789', 0, 1970, 1, 31, NULL, NULL, NULL, NULL, NULL, NULL, false),
    ('gender 3',                   'Jane Doe', '123-45-6789', 3, 1970, 1, 31, NULL, NULL, NULL, NULL, NULL, NULL, false),
    ('year 1850',                  'Jane Doe', '123-45-6789', 2, 1850, 1, 31, NULL, NULL, NULL, NULL, NULL, NULL, false),
    ('year 1851',                  'Jane Doe', '123-45-6789', 2, 1851, 1, 31, NULL, NULL, NULL, NULL, NULL, NULL, false),
    ('year 2099',                  'Jane Doe', '123-45-6789', 2, 2099, 1, 31, NULL, NULL, NULL, NULL, NULL, NULL, false),
    ('year 2100',                  'Jane Doe', '123-45-6789', 2, 2100, 1, 31, NULL, NULL, NULL, NULL, NULL, NULL, false),
    ('year -2147483648',           'Jane Doe', '123-45-6789', 2, -2147483648, 1, 31, NULL, NULL, NULL, NULL, NULL, NULL, false),
    ('month 0',                    'Jane Doe', '123-45-6789', 2, 1970, 0, 31, NULL, NULL, NULL, NULL, NULL, NULL, false),
    ('month 13',                   'Jane Doe', '123-45-6789', 2, 1970, 13, 31, NULL, NULL, NULL, NULL, NULL, NULL, false),
    ('day 0',                      'Jane Doe', '123-45-6789', 2, 1970, 1, 0, NULL, NULL, NULL, NULL, NULL, NULL, false),
    ('day 32',                     'Jane Doe', '123-45-6789', 2, 1970, 1, 32, NULL, NULL, NULL, NULL, NULL, NULL, false),
    ('31 February: no calendar',   'Jane Doe', '123-45-6789', 2, 1970, 2, 31, NULL, NULL, NULL, NULL, NULL, NULL, false),
    ('no gender',                  'Jane Doe', '123-45-6789', NULL, 1970, 1, 31, NULL, NULL, NULL, NULL, NULL, NULL, false),
    ('no birth day',               'Jane Doe', '123-45-6789', 2, 1970, 1, NULL, NULL, NULL, NULL, NULL, NULL, NULL, false),
    ('no ssn, bad gender',         'Jane Doe', NULL,          3, 1970, 1, 31, NULL, NULL, NULL, NULL, NULL, NULL, false),
    ('nothing at all',             NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL),
    ('policy key',                 'Jane Doe', NULL, 2, 1970, 1, 31, 'John Doe', '987-65-4321', 1, 1968, 7, 4, false),
    ('policy name without letters','Jane Doe', NULL, 2, 1970, 1, 31, '--',       '987-65-4321', 1, 1968, 7, 4, false),
    ('policy ssn of eight',        'Jane Doe', NULL, 2, 1970, 1, 31, 'John Doe', '98765432',    1, 1968, 7, 4, false),
    ('policy ssn of eight, lenient','Jane Doe', NULL, 2, 1970, 1, 31, 'John Doe', '98765432',   1, 1968, 7, 4, true),
    ('policy gender 3',            'Jane Doe', NULL, 2, 1970, 1, 31, 'John Doe', '987-65-4321', 3, 1968, 7, 4, false),
    ('policy year 2100',           'Jane Doe', NULL, 2, 1970, 1, 31, 'John Doe', '987-65-4321', 1, 2100, 7, 4, false),
    ('policy month 13',            'Jane Doe', NULL, 2, 1970, 1, 31, 'John Doe', '987-65-4321', 1, 1968, 13, 4, false),
    ('policy day 32',              'Jane Doe', NULL, 2, 1970, 1, 31, 'John Doe', '987-65-4321', 1, 1968, 7, 32, false),
    ('policy holder lacks a day',  'Jane Doe', NULL, 2, 1970, 1, 31, 'John Doe', '987-65-4321', 1, 1968, 7, NULL, false),
    ('patient lacks a name',       NULL,       NULL, 2, 1970, 1, 31, 'John Doe', '987-65-4321', 1, 1968, 7, 4, false),
    ('both ssns: patient key',     'Jane Doe', '123-45-6789', 2, 1970, 1, 31, 'John Doe', '987-65-4321', 1, 1968, 7, 4, false),
    ('patient key, bad policy name','Jane Doe', '123-45-6789', 2, 1970, 1, 31, '--', NULL, NULL, NULL, NULL, NULL, false);
SELECT what,
       mint_uuid(patient_name, patient_ssn, patient_gender,
                 patient_birth_year, patient_birth_month, patient_birth_day,
                 policy_name, policy_ssn, policy_gender,
                 policy_birth_year, policy_birth_month, policy_birth_day, lenient_ssn) AS uuid,
       mint_uuid_problem(patient_name, patient_ssn, patient_gender,
                 patient_birth_year, patient_birth_month, patient_birth_day,
                 policy_name, policy_ssn, policy_gender,
                 policy_birth_year, policy_birth_month, policy_birth_day, lenient_ssn) AS problem
FROM cases;

-- The defaults: policy fields not given, the strict SSN rule.
SELECT mint_uuid('Jane Doe', '123-45-6789', 2, 1970, 1, 31) AS patient_key,
       mint_uuid('Jane Doe', '12345678', 2, 1970, 1, 31) AS eight_digits,
       mint_uuid('Jane Doe', '12345678', 2, 1970, 1, 31, lenient_ssn => true) AS eight_digits_lenient;

-- Named arguments, in any order.
SELECT mint_uuid(policy_ssn => '987-65-4321', policy_name => 'John Doe', policy_gender => 1,
                 policy_birth_year => 1968, policy_birth_month => 7, policy_birth_day => 4,
                 patient_name => 'Jane Doe', patient_ssn => NULL, patient_gender => 2,
                 patient_birth_year => 1970, patient_birth_month => 1, patient_birth_day => 31) AS policy_key;

-- Birth dates as dates give what their three numbers give.
SELECT mint_uuid('Jane Doe', '123-45-6789', 2, date '1970-01-31') AS patient_key,
       mint_uuid('Jane Doe', NULL, 2, date '1970-01-31', 'John Doe', '987-65-4321', 1, date '1968-07-04') AS policy_key,
       mint_uuid('Roe, Richard', NULL, 1, date '1985-12-24') AS no_ssn,
       mint_uuid('Jane Doe', '12345678', 2, date '1970-01-31', lenient_ssn => true)
         = mint_uuid('Jane Doe', '12345678', 2, 1970, 1, 31, lenient_ssn => true) AS lenient_same;
SELECT birth,
       mint_uuid('Jane Doe', '123-45-6789', 2, birth) AS uuid,
       mint_uuid_problem('Jane Doe', '123-45-6789', 2, birth) AS problem
FROM (VALUES (date '1851-01-01'), (date '1850-12-31'), (date '2099-12-31'), (date '2100-01-01'),
             (date '0044-03-15 BC'), (date 'infinity'), (date '-infinity'), (NULL)) AS dates(birth);
SELECT policy_birth,
       mint_uuid('Jane Doe', NULL, 2, date '1970-01-31', 'John Doe', '987-65-4321', 1, policy_birth) AS uuid,
       mint_uuid_problem('Jane Doe', NULL, 2, date '1970-01-31', 'John Doe', '987-65-4321', 1, policy_birth) AS problem
FROM (VALUES (date '1968-07-04'), (date '2100-07-04'), (NULL)) AS dates(policy_birth);

-- Texts of any length, and texts stored compressed or out of line, count as
-- their letters and digits do.
SELECT mint_uuid(repeat('-', 1000) || 'Jane Doe', repeat(' ', 1000) || '123-45-6789', 2, 1970, 1, 31) AS long_texts,
       mint_uuid('Jane Doe' || repeat('x', 1000), '123-45-6789', 2, 1970, 1, 31)
         = mint_uuid('Jane Doe' || repeat('x', 13), '123-45-6789', 2, 1970, 1, 31) AS twenty_letters_count;
CREATE TABLE stored (how text, name text, ssn text);
ALTER TABLE stored ALTER COLUMN ssn SET STORAGE EXTERNAL;
INSERT INTO stored VALUES
    ('name compressed', repeat('.', 100000) || 'Jane Doe', '123-45-6789'),
    ('ssn out of line', 'Jane Doe', repeat('-', 100000) || '123-45-6789');
SELECT how, pg_column_size(name) < octet_length(name) AS name_compressed,
       mint_uuid(name, ssn, 2, 1970, 1, 31) AS uuid
FROM stored ORDER BY how;
