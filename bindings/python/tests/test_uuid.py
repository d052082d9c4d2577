"""mint.uuid: one record by keyword."""
import errno
import inspect
import math
import os
import pickle
import tempfile
import unittest
import warnings

import mint
import pathlib

from support import SOURCE_DIR, keyed_reference, reference

# The records of examples/patients.csv.
JANE = dict(patient_name="Jane Doe", patient_ssn="123-45-6789", patient_gender=2, patient_birth_year=1970,
            patient_birth_month=1, patient_birth_day=31)
JANE_COVERED = dict(patient_name="Jane Doe", patient_gender=2, patient_birth_year=1970, patient_birth_month=1,
                    patient_birth_day=31, policy_name="John Doe", policy_ssn="987-65-4321", policy_gender=1,
                    policy_birth_year=1968, policy_birth_month=7, policy_birth_day=4)
RICHARD = dict(patient_name="Roe, Richard", patient_gender=1, patient_birth_year=1985, patient_birth_month=12,
               patient_birth_day=24)
MARY = dict(patient_name="Mary Major", patient_ssn="123-45-678", patient_gender=2, patient_birth_year=1990,
            patient_birth_month=6, patient_birth_day=15)

# Refused records: (what, the fields, the field named in the error or None
# for an incomplete record). Each changes one field of a record that
# otherwise yields an identifier.
REFUSALS = [
    ("eight-digit SSN", dict(JANE, patient_ssn="123-45-678"), "patient_ssn"),
    ("ten-digit SSN", dict(JANE, patient_ssn="123-45-67890"), "patient_ssn"),
    ("SSN without digits", dict(JANE, patient_ssn="n/a"), "patient_ssn"),
    ("name without letters", dict(JANE, patient_name="1234"), "patient_name"),
    ("gender 0", dict(JANE, patient_gender=0), "patient_gender"),
    ("gender 3", dict(JANE, patient_gender=3), "patient_gender"),
    ("year 1850", dict(JANE, patient_birth_year=1850), "patient_birth_year"),
    ("year 2100", dict(JANE, patient_birth_year=2100), "patient_birth_year"),
    ("month 0", dict(JANE, patient_birth_month=0), "patient_birth_month"),
    ("month 13", dict(JANE, patient_birth_month=13), "patient_birth_month"),
    ("day 0", dict(JANE, patient_birth_day=0), "patient_birth_day"),
    ("day 32", dict(JANE, patient_birth_day=32), "patient_birth_day"),
    ("negative day", dict(JANE, patient_birth_day=-1), "patient_birth_day"),
    ("year beyond 32 bits", dict(JANE, patient_birth_year=2 ** 32 + 1970), "patient_birth_year"),
    ("year -2**31", dict(JANE, patient_birth_year=-2 ** 31), "patient_birth_year"),
    ("year beyond 64 bits", dict(JANE, patient_birth_year=2 ** 70), "patient_birth_year"),
    ("year with a fraction", dict(JANE, patient_birth_year=1970.5), "patient_birth_year"),
    ("infinite year", dict(JANE, patient_birth_year=math.inf), "patient_birth_year"),
    ("policy holder's SSN", dict(JANE_COVERED, policy_ssn="98-76"), "policy_ssn"),
    ("policy holder's name", dict(JANE_COVERED, policy_name="42"), "policy_name"),
    ("policy holder's gender", dict(JANE_COVERED, policy_gender=3), "policy_gender"),
    ("policy holder's year", dict(JANE_COVERED, policy_birth_year=2100), "policy_birth_year"),
    ("policy holder's month", dict(JANE_COVERED, policy_birth_month=13), "policy_birth_month"),
    ("policy holder's day", dict(JANE_COVERED, policy_birth_day=32), "policy_birth_day"),
    ("SSN but no birth day", {k: v for k, v in JANE.items() if k != "patient_birth_day"}, None),
    ("policy SSN but no policy gender", {k: v for k, v in JANE_COVERED.items() if k != "policy_gender"}, None),
]


class WorkedExamples(unittest.TestCase):
    def test_patient_key(self):
        self.assertEqual(mint.uuid(**JANE), "uc1kb3lfu4p3")

    def test_policy_key(self):
        self.assertEqual(mint.uuid(**JANE_COVERED), "1q2chvgo0ecq")

    def test_no_ssn_anywhere_gives_the_zero_identifier(self):
        self.assertEqual(mint.uuid(**RICHARD), "000000000000")
        self.assertEqual(mint.uuid(), "000000000000")

    def test_eight_digit_ssn_is_refused(self):
        with self.assertRaises(mint.RecordError) as caught:
            mint.uuid(**MARY)
        self.assertEqual(caught.exception.field, "patient_ssn")

    def test_fields_by_position_in_column_order(self):
        self.assertEqual(mint.uuid(*JANE.values()), "uc1kb3lfu4p3")

    def test_signature_names_the_csv_columns(self):
        parameters = inspect.signature(mint.uuid).parameters
        self.assertEqual(list(parameters)[:12], list(mint.FIELDS))
        self.assertEqual(parameters["key"].kind, inspect.Parameter.KEYWORD_ONLY)
        self.assertEqual(parameters["lenient_ssn"].kind, inspect.Parameter.KEYWORD_ONLY)


class Refusals(unittest.TestCase):
    def test_every_kind_of_refusal(self):
        for what, fields, field in REFUSALS:
            with self.subTest(what), self.assertRaises(mint.RecordError) as caught:
                mint.uuid(**fields)
            error = caught.exception
            self.assertIsInstance(error, ValueError)
            self.assertEqual(error.field, field, what)
            self.assertIsNone(error.row)
            self.assertTrue(error.reason, what)
            if field is not None:
                self.assertIn(field, str(error))
            else:
                self.assertIn("incomplete", error.reason)

    def test_messages_hold_no_personal_data(self):
        for value in ("123-45-678", "98765432100"):
            with self.subTest(value), self.assertRaises(mint.RecordError) as caught:
                mint.uuid(**dict(JANE, patient_ssn=value))
            self.assertNotIn(value, str(caught.exception))
            self.assertNotIn(value.replace("-", ""), str(caught.exception))

    def test_a_name_without_letters_matters_only_where_a_key_needs_it(self):
        self.assertEqual(mint.uuid(**dict(RICHARD, patient_name="1234")), "000000000000")
        self.assertEqual(mint.uuid(**dict(JANE, policy_name="---")), "uc1kb3lfu4p3")

    def test_pickles_with_its_attributes(self):
        # Dask sends a worker's exception back to the client pickled.
        with self.assertRaises(mint.RecordError) as caught:
            mint.uuid(**MARY)
        copy = pickle.loads(pickle.dumps(caught.exception))
        self.assertIsInstance(copy, mint.RecordError)
        self.assertEqual((copy.field, copy.reason, copy.row, str(copy)),
                         (caught.exception.field, caught.exception.reason, None, str(caught.exception)))


class NotGiven(unittest.TestCase):
    def test_none_nan_and_empty_texts_are_not_given(self):
        missing = dict(policy_name="", policy_ssn=None, policy_gender=math.nan, policy_birth_year=float("nan"),
                       policy_birth_month=None, policy_birth_day=None)
        self.assertEqual(mint.uuid(**JANE, **missing), "uc1kb3lfu4p3")
        self.assertEqual(mint.uuid(**dict(JANE_COVERED, patient_ssn="")), "1q2chvgo0ecq")
        self.assertEqual(mint.uuid(**dict(JANE_COVERED, patient_ssn=math.nan)), "1q2chvgo0ecq")

    def test_pandas_na_is_not_given(self):
        try:
            import pandas
        except ImportError:
            self.skipTest("pandas is not installed")
        self.assertEqual(mint.uuid(**JANE, policy_name=pandas.NA, policy_gender=pandas.NA), "uc1kb3lfu4p3")

    def test_whole_floats_and_numpy_numbers_are_numbers(self):
        self.assertEqual(mint.uuid(**dict(JANE, patient_birth_year=1970.0, patient_gender=2.0)), "uc1kb3lfu4p3")
        try:
            import numpy
        except ImportError:
            self.skipTest("numpy is not installed")
        self.assertEqual(mint.uuid(**dict(JANE, patient_birth_year=numpy.int64(1970),
                                          patient_birth_day=numpy.float64(31.0))), "uc1kb3lfu4p3")

    def test_numpy_floats_of_every_width_are_floats(self):
        try:
            import numpy
        except ImportError:
            self.skipTest("numpy is not installed")
        for kind in (numpy.float16, numpy.float32, numpy.longdouble):
            with self.subTest(kind.__name__):
                self.assertEqual(mint.uuid(**dict(JANE, patient_gender=kind(2.0), patient_birth_day=kind(31))),
                                 "uc1kb3lfu4p3")
                self.assertEqual(mint.uuid(**dict(JANE_COVERED, policy_gender=kind("nan"), policy_ssn=kind("nan"))),
                                 mint.uuid(**dict(JANE_COVERED, policy_gender=None, policy_ssn=None)))
                with self.assertRaises(mint.RecordError) as caught:
                    mint.uuid(**dict(JANE, patient_birth_day=kind(2.5)))
                self.assertEqual(caught.exception.field, "patient_birth_day")
                self.assertEqual(mint.uuids({**{n: [v] for n, v in JANE.items()},
                                             "patient_gender": numpy.array([kind(2.0)], dtype=object)}),
                                 ["uc1kb3lfu4p3"])
        # A fraction too small for a double is still a fraction.
        year = numpy.longdouble(1970) + numpy.longdouble(2) ** -50
        if year != numpy.longdouble(1970) and float(year) == 1970.0:
            with self.assertRaises(mint.RecordError):
                mint.uuid(**dict(JANE, patient_birth_year=year))


class WrongTypes(unittest.TestCase):
    CASES = [
        # (A text in a number field is judged as mintbatch judges a CSV field.)
        ("bytes in a number field", dict(JANE, patient_birth_year=b"1970"), TypeError),
        ("bool gender", dict(JANE, patient_gender=True), TypeError),
        ("bytes name", dict(JANE, patient_name=b"Jane Doe"), TypeError),
        ("SSN as a number", dict(JANE, patient_ssn=123456789), TypeError),
        ("list as a day", dict(JANE, patient_birth_day=[31]), TypeError),
        ("unknown keyword", dict(JANE, patient_birthday=31), TypeError),
        ("NUL inside a name", dict(JANE, patient_name="Jane\0Doe"), ValueError),
    ]

    def test_wrong_types_raise_before_any_derivation(self):
        for what, fields, error in self.CASES:
            with self.subTest(what), self.assertRaises(error) as caught:
                mint.uuid(**fields)
            self.assertNotIsInstance(caught.exception, mint.RecordError)

    def test_numpy_bool_is_no_number(self):
        try:
            import numpy
        except ImportError:
            self.skipTest("numpy is not installed")
        with self.assertRaises(TypeError):
            mint.uuid(**dict(JANE, patient_gender=numpy.bool_(True)))

    def test_ssn_as_a_number_is_told_to_stay_text(self):
        with self.assertRaisesRegex(TypeError, "patient_ssn.*leading zeros"):
            mint.uuid(**dict(JANE, patient_ssn=12345678))


def lenient_reference(ssn_digits, fields):
    """The patient key for SSN digit values as the lenient rule stores them."""
    ssn = bytes(ssn_digits[:9]).ljust(9, b"\0")
    return reference.patient_key(reference.letter_codes(fields["patient_name"]), ssn, fields["patient_gender"],
                                 fields["patient_birth_year"], fields["patient_birth_month"],
                                 fields["patient_birth_day"])


class SsnRules(unittest.TestCase):
    def test_strict_rule_by_default(self):
        for ssn in ("12", "1234567890"):
            with self.subTest(ssn), self.assertRaises(mint.RecordError):
                mint.uuid(**dict(JANE, patient_ssn=ssn))

    def test_lenient_rule_takes_the_first_nine_digits(self):
        for ssn, digits in (("12", [1, 2]), ("1234567890", [1, 2, 3, 4, 5, 6, 7, 8, 9]),
                            ("SSN 111 22 3333 ext 12", [1, 1, 1, 2, 2, 3, 3, 3, 3])):
            with self.subTest(ssn):
                fields = dict(JANE, patient_ssn=ssn)
                self.assertEqual(mint.uuid(**fields, lenient_ssn=True), lenient_reference(digits, fields))

    def test_both_rules_agree_on_nine_digits(self):
        self.assertEqual(mint.uuid(**JANE, lenient_ssn=True), "uc1kb3lfu4p3")
        self.assertEqual(mint.uuid(**JANE_COVERED, lenient_ssn=True), "1q2chvgo0ecq")

    def test_lenient_rule_still_needs_a_digit(self):
        with self.assertRaises(mint.RecordError) as caught:
            mint.uuid(**dict(JANE, patient_ssn="n/a"), lenient_ssn=True)
        self.assertEqual(caught.exception.field, "patient_ssn")


def csv_row(fields):
    """The 13 texts of a CSV row, data_record first, for the reference."""
    return ["1"] + ["" if fields.get(name) is None else str(fields[name]) for name in mint.FIELDS]


class Keys(unittest.TestCase):
    KEY = b"a shared secret of the study"
    # The project's test secret (tests/data/keys/test.key) and its worked examples.
    TEST_KEY = bytes.fromhex("7b9d7e32dfd43f365be501ab42424e46caeb516d3467649b686bb0b8dda50d7d")

    def test_worked_examples_under_the_test_key(self):
        self.assertEqual(mint.uuid(**JANE, key=self.TEST_KEY), "mib97ds9ej5d")
        self.assertEqual(mint.uuid(**JANE_COVERED, key=self.TEST_KEY), "8l00kma9drtk")

    def test_keyed_identifiers_are_the_hmac_derivation(self):
        for fields in (JANE, JANE_COVERED):
            with self.subTest(fields["patient_name"]):
                keyed = mint.uuid(**fields, key=self.KEY)
                self.assertEqual(keyed, keyed_reference(csv_row(fields), self.KEY))
                self.assertNotEqual(keyed, mint.uuid(**fields))

    def test_other_keys_give_other_identifiers(self):
        self.assertNotEqual(mint.uuid(**JANE, key=self.KEY), mint.uuid(**JANE, key=self.KEY + b"!"))

    def test_any_bytes_like_key(self):
        expected = mint.uuid(**JANE, key=self.KEY)
        for key in (bytearray(self.KEY), memoryview(self.KEY)):
            with self.subTest(type(key).__name__):
                self.assertEqual(mint.uuid(**JANE, key=key), expected)

    def test_zero_identifier_and_refusals_stay_under_a_key(self):
        self.assertEqual(mint.uuid(**RICHARD, key=self.KEY), "000000000000")
        with self.assertRaises(mint.RecordError):
            mint.uuid(**MARY, key=self.KEY)

    def test_bad_keys(self):
        with self.assertRaises(ValueError):
            mint.uuid(**JANE, key=b"")
        with self.assertRaises(TypeError):
            mint.uuid(**JANE, key="a text")
        with self.assertRaises(TypeError):
            mint.uuid(**JANE, key=42)

    def test_keys_that_can_be_mistaken_are_refused(self):
        hex_text = self.TEST_KEY.hex().encode()
        for what, key, message in [
            ("15 bytes", self.KEY[:15], "at least 16 bytes"),
            ("a key file's text", hex_text + b"\n", "read_key"),
            ("a key file's text in upper case with CRLF", hex_text.upper() + b"\r\n", "read_key"),
            ("32 hex digits split by whitespace", b" 0011223344556677\t8899aabbccddeeff \n", "read_key"),
            ("more hex digits than a key file holds", b"ab" * 600, "read_key"),
            ("a key file's text in a bytearray", bytearray(hex_text), "read_key"),
            ("a key file's text in a strided view", memoryview(bytes(b for c in hex_text for b in (c, 0)))[::2],
             "read_key"),
        ]:
            with self.subTest(what), self.assertRaisesRegex(ValueError, message) as caught:
                mint.uuid(**JANE, key=key)
            # The message never shows the key.
            self.assertNotIn(bytes(key)[:16].decode("latin-1"), str(caught.exception))

    def test_keys_like_but_not_a_key_files_text_are_taken(self):
        for what, key in [
            ("16 bytes", self.KEY[:16]),
            ("31 hex digits", b"0123456789abcdef0123456789abcde"),
            ("hex digits and a colon", b"00:11:22:33:44:55:66:77:88:99:aa:bb:cc:dd:ee:ff"),
            ("the secret of a key file", self.TEST_KEY),
        ]:
            with self.subTest(what):
                self.assertEqual(mint.uuid(**JANE, key=key), keyed_reference(csv_row(JANE), bytes(key)))

    def test_a_strided_view_is_its_bytes_in_order(self):
        spread = memoryview(bytes(b for c in self.KEY for b in (c, 0xFF)))[::2]
        self.assertFalse(spread.contiguous)
        self.assertEqual(mint.uuid(**JANE, key=spread), mint.uuid(**JANE, key=self.KEY))
        columns = {name: [value] for name, value in JANE.items()}
        self.assertEqual(mint.uuids(columns, key=spread), [mint.uuid(**JANE, key=self.KEY)])


# Key files as the programs' tests have them: (what, content, secret in hex).
KEY64 = "7b9d7e32dfd43f365be501ab42424e46caeb516d3467649b686bb0b8dda50d7d"
KEY32 = "00112233445566778899aabbccddeeff"


def digits(count):
    return "".join("0123456789abcdef"[(i * 7) % 16] for i in range(count))


KEY_FILES = [
    ("64 digits and a newline", KEY64 + "\n", KEY64),
    ("64 digits, no newline", KEY64, KEY64),
    ("upper case", KEY64.upper() + "\r\n", KEY64),
    ("32 digits", KEY32 + "\n", KEY32),
    ("whitespace everywhere", " \t" + KEY32[:5] + "\r\n" + KEY32[5:25] + "  \n\n\t" + KEY32[25:] + "\r", KEY32),
    ("long whitespace", " " * 1000 + KEY32[:1] + "\n" * 300 + KEY32[1:], KEY32),
    ("1024 digits", digits(1024) + "\n", digits(1024)),
]
NOT_HEX = "it holds a character other than hex digits and whitespace"
NOT_KEY_FILES = [
    ("empty", "", "it is empty"),
    ("only whitespace", " \r\n\t\n", "it is empty"),
    ("30 digits", KEY32[:30] + "\n", "it holds fewer than 32 hex digits"),
    ("31 digits", KEY32[:31], "it holds an odd number of hex digits"),
    ("65 digits", KEY64 + "a", "it holds an odd number of hex digits"),
    ("a letter beyond f", KEY32[:10] + "g" + KEY32[11:], NOT_HEX),
    ("0x prefix", "0x" + KEY64, NOT_HEX),
    ("form feed", KEY32 + "\f", NOT_HEX),
    ("zero byte", KEY32 + "\0", NOT_HEX),
    ("1025 digits", digits(1025), "it holds more than 1024 hex digits"),
    ("a megabyte of digits", digits(1 << 20), "it holds more than 1024 hex digits"),
]


class KeyFiles(unittest.TestCase):
    """mint.read_key and key_file=: the programs' rules and words."""

    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory()
        self.addCleanup(self.scratch.cleanup)

    def key_file(self, content, mode=0o600, name="mint.key"):
        path = os.path.join(self.scratch.name, name)
        with open(path, "w", newline="") as file:
            file.write(content)
        os.chmod(path, mode)
        return path

    def test_reads_hex_in_either_case_with_whitespace_anywhere(self):
        for what, content, secret in KEY_FILES:
            with self.subTest(what), warnings.catch_warnings():
                warnings.simplefilter("error")
                path = self.key_file(content)
                self.assertEqual(mint.read_key(path), bytes.fromhex(secret))
                self.assertEqual(mint.uuid(**JANE, key_file=path),
                                 keyed_reference(csv_row(JANE), bytes.fromhex(secret)))

    def test_the_project_test_key_gives_its_worked_examples(self):
        with open(os.path.join(SOURCE_DIR, "tests", "data", "keys", "test.key")) as file:
            path = self.key_file(file.read())
        self.assertEqual(mint.uuid(**JANE, key_file=path), "mib97ds9ej5d")
        self.assertEqual(mint.uuid(**JANE_COVERED, key_file=path), "8l00kma9drtk")
        self.assertEqual(mint.uuids({name: [value] for name, value in JANE.items()}, key_file=path), ["mib97ds9ej5d"])
        for as_path in (path.encode(), pathlib.Path(path)):
            self.assertEqual(mint.read_key(as_path), Keys.TEST_KEY)

    def test_refuses_what_is_not_a_key_in_the_programs_words(self):
        for what, content, why in NOT_KEY_FILES:
            path = self.key_file(content)
            for call in (lambda: mint.read_key(path), lambda: mint.uuid(**JANE, key_file=path),
                         lambda: mint.uuids({"patient_name": ["Jane Doe"]}, key_file=path)):
                with self.subTest(what), self.assertRaises(ValueError) as caught:
                    call()
                self.assertEqual(str(caught.exception), f"Key file '{path}' is not a key: {why}.")

    def test_files_that_cannot_be_read(self):
        missing = os.path.join(self.scratch.name, "missing.key")
        with self.assertRaises(FileNotFoundError) as caught:
            mint.read_key(missing)
        self.assertEqual(str(caught.exception), f"Unable to open key file '{missing}'.")
        self.assertEqual(caught.exception.errno, errno.ENOENT)
        with self.assertRaises(IsADirectoryError) as caught:
            mint.uuid(**JANE, key_file=self.scratch.name)
        self.assertEqual(str(caught.exception), f"Unable to read key file '{self.scratch.name}'.")
        for bad in (42, None, "a\0b"):
            with self.subTest(bad), self.assertRaises((TypeError, ValueError)):
                mint.read_key(bad)

    def test_warns_when_others_may_read_it(self):
        for mode, warned in ((0o600, False), (0o400, False), (0o640, True), (0o604, True), (0o620, True)):
            path = self.key_file(KEY64, mode, name=f"mode-{mode:o}.key")
            with self.subTest(f"{mode:o}"), warnings.catch_warnings(record=True) as caught:
                warnings.simplefilter("always")
                self.assertEqual(mint.read_key(path), bytes.fromhex(KEY64))
                messages = [str(w.message) for w in caught if issubclass(w.category, UserWarning)]
                expected = [f"key file '{path}' is open to other users; keep it to its owner (chmod 600)."]
                self.assertEqual(messages, expected if warned else [])
        # A warning made an error gives no key.
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            with self.assertRaises(UserWarning):
                mint.uuid(**JANE, key_file=path)

    def test_key_and_key_file_together_are_refused(self):
        path = self.key_file(KEY64)
        for call in (lambda: mint.uuid(**JANE, key=Keys.KEY, key_file=path),
                     lambda: mint.uuids({"patient_name": ["Jane Doe"]}, key=Keys.KEY, key_file=path)):
            with self.assertRaisesRegex(TypeError, "not both"):
                call()


class Package(unittest.TestCase):
    def test_version_is_the_project_version(self):
        expected = os.environ.get("MINT_TEST_VERSION")
        if not expected:
            self.skipTest("MINT_TEST_VERSION is not set (run the tests through ctest)")
        self.assertEqual(mint.__version__, expected)

    def test_metadata_gives_the_name_version_and_licence(self):
        from importlib import metadata
        distribution = metadata.distribution("mint")
        # The metadata beside the package imported, not another installation's.
        self.assertEqual(os.path.realpath(distribution.locate_file("mint/__init__.py")), os.path.realpath(mint.__file__))
        self.assertEqual(distribution.metadata["Name"], "mint")
        self.assertEqual(distribution.version, mint.__version__)
        self.assertEqual(distribution.metadata["License"], "MIT")

    def test_fields_in_csv_column_order(self):
        with open(os.path.join(os.path.dirname(reference.__file__), "..", "..", "examples", "patients.csv")) as f:
            header = f.readline().strip().split(",")
        self.assertEqual(list(mint.FIELDS), header[1:])
        self.assertEqual(set(mint.TEXT_FIELDS) | set(mint.NUMBER_FIELDS), set(mint.FIELDS))

    def test_imports_without_pandas_or_dask(self):
        import subprocess
        import sys
        code = ("import sys; sys.modules['pandas'] = sys.modules['numpy'] = sys.modules['dask'] = None\n"
                "import mint\n"
                "print(mint.uuids({'patient_ssn': ['123-45-6789'], 'patient_name': ['Jane Doe'],"
                " 'patient_gender': [2], 'patient_birth_year': [1970], 'patient_birth_month': [1],"
                " 'patient_birth_day': [31]}))")
        result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.strip(), "['uc1kb3lfu4p3']")


if __name__ == "__main__":
    unittest.main()
