"""mint.uuids finds columns by name, reads texts, dates and gender codes as
mintbatch --by-name does, and gives its identifiers for the same files."""
import csv
import datetime
import os
import subprocess
import tempfile
import unittest
import warnings

import mint
from support import SOURCE_DIR, mintbatch_identifiers, program
from test_uuid import JANE

try:
    import numpy
    import pandas
except ImportError:
    pandas = None

CASES_DIR = os.path.join(SOURCE_DIR, "tests", "batch", "named_cases")
# Options of mintbatch --by-name that mint.uuids takes too.
PYTHON_OPTIONS = {"--map", "--date-format", "--gender-values", "--delimiter"}
# Options that only shape mintbatch's output.
OUTPUT_OPTIONS = {"--by-name": 0, "--key-only": 0, "--drop-identifying": 0, "-v": 0, "-vv": 0, "--report": 1,
                  "--uuid-column": 1, "--drop": 1}


def header_delimiter(header):
    """The delimiter mintbatch finds from a header line: of , ; tab |, the one
    most often outside quotes."""
    counts = dict.fromkeys(",;\t|", 0)
    quoted = False
    for ch in header:
        if ch == '"':
            quoted = not quoted
        elif not quoted and ch in counts:
            counts[ch] += 1
    return max(counts, key=lambda d: (counts[d], -",;\t|".index(d)))


def read_case(name):
    """A case's options for Python and mintbatch, and its input path; None
    when the case is no run of a file (standard input, or options Python
    does not take)."""
    directory = os.path.join(CASES_DIR, name)
    with open(os.path.join(directory, "args"), encoding="utf-8") as file:
        args = file.read().splitlines()
    if "--by-name" not in args:
        return None
    mapping, options, files, i = {}, [], [], 0
    while i < len(args):
        arg = args[i]
        if arg in PYTHON_OPTIONS:
            value = args[i + 1]
            options += [arg, value]
            if arg == "--map":
                for item in value.split(","):
                    field, _, column = item.partition("=")
                    mapping[field] = column
            i += 2
        elif arg in OUTPUT_OPTIONS:
            i += 1 + OUTPUT_OPTIONS[arg]
        else:
            files.append(arg)
            i += 1
    if not files or files[0] == "-" or not os.path.exists(os.path.join(directory, files[0])):
        return None
    with open(os.path.join(directory, "status")) as file:
        status = int(file.read())
    value = lambda option: options[options.index(option) + 1] if option in options else None
    return {"path": os.path.join(directory, files[0]), "options": options, "status": status,
            "python": {"columns": mapping, "date_format": value("--date-format"),
                       "gender_values": value("--gender-values")},
            "delimiter": value("--delimiter")}


def case_names():
    return sorted(name for name in os.listdir(CASES_DIR) if read_case(name) is not None)


def read_frame(case):
    with open(case["path"], encoding="utf-8-sig", newline="") as file:
        header = file.readline()
    delimiter = case["delimiter"] or header_delimiter(header)
    # A line with more fields than the header is left out (pandas cannot
    # read it); the comparison is by record key, so only that record is not compared.
    return pandas.read_csv(case["path"], sep=delimiter, encoding="utf-8-sig", on_bad_lines="skip",
                           **mint.CSV_OPTIONS), delimiter


def mintbatch_by_name(case, delimiter):
    """The record keys and identifiers of mintbatch --by-name --key-only (None: none)."""
    with tempfile.TemporaryDirectory() as scratch:
        out = os.path.join(scratch, "out.csv")
        subprocess.run([program("MINT_TEST_MINTBATCH"), "--by-name", "--key-only", *case["options"], case["path"],
                        out], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        with open(out, encoding="utf-8", newline="") as file:
            rows = list(csv.reader(file, delimiter=delimiter))[1:]
    # A blank line is written back as it is; pandas skips it.
    return [(row[0], row[-1] or None) for row in rows if row]


@unittest.skipIf(pandas is None, "pandas is not installed")
class SameAsMintbatchByName(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        program("MINT_TEST_MINTBATCH")

    def test_every_export_case(self):
        ran = 0
        for name in case_names():
            case = read_case(name)
            if case["status"] != 0:
                continue
            with self.subTest(name):
                frame, delimiter = read_frame(case)
                expected = mintbatch_by_name(case, delimiter)
                with warnings.catch_warnings():
                    warnings.simplefilter("ignore")
                    got = mint.uuids(frame, **case["python"]).tolist()
                # A record without its key is copied unprocessed by mintbatch:
                # keyed files' rows are compared by key.
                key = mint._mint.map_columns(list(frame.columns), case["python"]["columns"])[0]
                if key >= 0:
                    keys = frame.iloc[:, key].tolist()
                    got = [(k, i) for k, i in zip(keys, got) if isinstance(k, str)]
                    # mintbatch skips a line without its key, a short and a
                    # long one (writing no key); pandas fills a short line's
                    # gaps and cannot read a long one: those are not compared.
                    skipped = len([k for k, _ in expected if k == ""])
                    expected = [e for e in expected if e[0] != ""]
                    written = {k for k, _ in expected}
                    self.assertLessEqual(len([g for g in got if g[0] not in written]), skipped)
                    got = [g for g in got if g[0] in written]
                else:
                    # Without a key column, records are numbered (blank lines too).
                    got, expected = got, [i for _, i in expected]
                self.assertEqual(got, expected)
                ran += 1
        self.assertGreaterEqual(ran, 8, "the export cases were not found")

    def test_every_refused_header(self):
        # Each mapping mintbatch refuses before converting is a ValueError
        # naming what is wrong.
        named = {"column_claimed_twice": "both patient_ssn and policy_ssn|both patient_birth_date and policy_birth_date",
                 "date_and_year_columns": "patient_birth_date and columns for the year",
                 "duplicate_header": "two columns are named", "headerless_positional_file": "no column for",
                 "map_target_missing": "no column 'Birthday'", "missing_required_column": "no column for patient_gender",
                 "invalid_date_format": "date_format", "invalid_gender_values": "gender_values",
                 "invalid_mapping": "no field 'patient_dob'"}
        for name in case_names():
            case = read_case(name)
            if case["status"] == 0:
                continue
            with self.subTest(name):
                self.assertIn(name, named)
                with open(case["path"], encoding="utf-8-sig") as file:
                    header = file.readline()
                frame = pandas.read_csv(case["path"], sep=case["delimiter"] or header_delimiter(header),
                                        encoding="utf-8-sig", **mint.CSV_OPTIONS)
                with self.assertRaisesRegex(ValueError, named[name]):
                    mint.uuids(frame, **case["python"])

    def test_csv_options_read_what_mintbatch_accepts(self):
        # Numbers as mintbatch's CSV fields hold them; pandas read a number
        # column as integers and failed on the text, or took " 1970" for 1970.
        jane = "Jane Doe,123-45-6789,2,{},1,31,,,,,,"
        years = [" 1970", "19x0", "1970.0", "+1970", "Fields", "", "-", "1970", "01970", "-2147483648", "1970 "]
        with tempfile.TemporaryDirectory() as scratch:
            path = os.path.join(scratch, "in.csv")
            with open(path, "w") as file:
                file.write(",".join(["data_record"] + list(mint.FIELDS)) + "\n")
                for n, year in enumerate(years):
                    file.write(f"{n}," + jane.format(year) + "\n")
            expected = mintbatch_identifiers(path)
            frame = pandas.read_csv(path, **mint.CSV_OPTIONS)
        self.assertEqual(expected.count("uc1kb3lfu4p3"), 2, "mintbatch took another year")
        self.assertEqual(mint.uuids(frame).tolist(), expected)


def jane_frame(**columns):
    """Jane Doe's record under the names given (FIELD=COLUMN), any other
    field under its own name."""
    record = {columns.get(field, field): [value] for field, value in JANE.items()}
    return pandas.DataFrame(record)


@unittest.skipIf(pandas is None, "pandas is not installed")
class Columns(unittest.TestCase):
    def test_names_in_any_case_and_mapped(self):
        frame = jane_frame(patient_name="Name", patient_ssn=" PATIENT_SSN ")
        self.assertEqual(mint.uuids(frame, columns={"PATIENT_NAME": "name"}).tolist(), ["uc1kb3lfu4p3"])

    def test_mapping_problems_name_the_column(self):
        frame = jane_frame(patient_name="Name")
        for what, columns, data, message in [
            ("mapped column not there", {"patient_name": "Nom"}, frame, "no column 'Nom' .*'Name'"),
            ("claimed twice", {"patient_name": "Name", "policy_name": "name"}, frame,
             "both patient_name and policy_name"),
            ("missing required", {}, frame, "no column for patient_name"),
            ("no such field", {"patient_dob": "DOB"}, frame, "no field 'patient_dob'"),
            ("two columns of one name", {"patient_name": "Name"}, frame.assign(NAME="x"), "two columns are named 'NAME'"),
            ("date beside its numbers", {"patient_name": "Name"}, frame.assign(patient_birth_date="1970-01-31"),
             "patient_birth_date and columns for the year"),
        ]:
            with self.subTest(what), self.assertRaisesRegex(ValueError, message):
                mint.uuids(data, columns=columns)

    def test_frames_wider_than_a_header(self):
        # More columns than mintbatch reads in a header: mapped by the ones that can name a field.
        frame = jane_frame(patient_ssn="SSN")
        wide = pandas.concat([pandas.DataFrame({f"c{i}": ["x"] for i in range(mint._mint.MOST_COLUMNS + 10)}), frame],
                             axis=1)
        self.assertEqual(mint.uuids(wide, columns={"patient_ssn": " ssn"}).tolist(), ["uc1kb3lfu4p3"])
        with self.assertRaisesRegex(ValueError, "two columns are named"):
            mint.uuids(wide.assign(SSn="x"), columns={"patient_ssn": "SSN"})

    def test_missing_required_column_without_columns_is_a_warning(self):
        # Calls without columns= keep working as before: the field is not given.
        frame = jane_frame().drop(columns=["patient_gender"])
        with self.assertWarnsRegex(UserWarning, "no column for patient_gender"):
            self.assertEqual(mint.uuids(frame).tolist(), [None])

    def test_warns_once_when_the_ssn_column_is_not_found(self):
        frame = pandas.concat([jane_frame(patient_ssn="SSN")] * 3)
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            self.assertEqual(mint.uuids(frame).tolist(), ["000000000000"] * 3)
        self.assertEqual(len(caught), 1)
        self.assertIs(caught[0].category, UserWarning)
        self.assertRegex(str(caught[0].message), "no column for patient_ssn.*ignored: 'SSN'")
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            self.assertEqual(mint.uuids(frame, columns={"patient_ssn": "SSN"}).tolist(), ["uc1kb3lfu4p3"] * 3)


@unittest.skipIf(pandas is None, "pandas is not installed")
class Values(unittest.TestCase):
    def with_birth(self, values, **options):
        frame = jane_frame().drop(columns=["patient_birth_year", "patient_birth_month", "patient_birth_day"])
        frame = pandas.concat([frame] * len(values), ignore_index=True)
        frame["DOB"] = values
        return mint.uuids(frame, columns={"patient_birth_date": "DOB"}, **options).tolist()

    def test_date_columns_of_every_kind(self):
        jane, none = "uc1kb3lfu4p3", None
        for what, values, options, expected in [
            ("datetime64", pandas.to_datetime(["1970-01-31", None, "1970-01-31 23:59"]), {}, [jane, none, jane]),
            ("datetime64 with a time zone", pandas.to_datetime(["1970-01-31 01:00"]).tz_localize("Europe/Berlin"),
             {}, [jane]),
            ("numpy datetime64[s]", numpy.array(["1970-01-31T12:00", "NaT"], dtype="datetime64[s]"), {},
             [jane, none]),
            # (pandas would make datetime64 of these, without the object column.)
            ("date objects", pandas.Series([datetime.date(1970, 1, 31), None, datetime.datetime(1970, 1, 31, 8),
                                            pandas.NaT, pandas.Timestamp("1970-01-31"), float("nan")], dtype=object),
             {}, [jane, none, jane, none, jane, none]),
            ("ISO texts", ["1970-01-31", "1970-1-31", "31.01.1970", "", " 1970-01-31"], {},
             [jane, jane, none, none, none]),
            ("day.month.year", ["31.01.1970", "1970-01-31"], {"date_format": "%d.%m.%Y"}, [jane, none]),
            ("month/day/year", ["01/31/1970", "31/01/1970"], {"date_format": "%m/%d/%Y"}, [jane, none]),
            ("compact", ["19700131", "1970131"], {"date_format": "%Y%m%d"}, [jane, none]),
        ]:
            with self.subTest(what):
                self.assertEqual(self.with_birth(values, **options), expected)
        # Missing dates are not given (without an SSN: the zero identifier), not refused.
        missing = [pandas.NaT, None, pandas.NA, float("nan"), ""]
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            self.assertEqual(mint.uuids({"patient_name": ["Jane Doe"] * 5, "patient_gender": [2] * 5, "DOB": missing},
                                        columns={"patient_birth_date": "DOB"}), ["000000000000"] * 5)
        with self.assertRaisesRegex(TypeError, "patient_birth_date must be a date, str or None, not int in row 0"):
            self.with_birth([19700131])
        with self.assertRaisesRegex(ValueError, "date_format"):
            self.with_birth(["1970-01-31"], date_format="%Y/%m/%d")

    def test_gender_values(self):
        genders = ["F", "f", "2", "M", "X", "", " F"]
        frame = pandas.concat([jane_frame()] * len(genders), ignore_index=True)
        frame["patient_gender"] = genders
        others = [mint.uuid(**dict(JANE, patient_gender=1)), None, None, None]
        for gender_values in ("M=1,F=2", {"M": 1, "F": 2}, {"m": 1, "f": 2}):
            with self.subTest(gender_values):
                self.assertEqual(mint.uuids(frame, gender_values=gender_values).tolist(),
                                 ["uc1kb3lfu4p3"] * 3 + others)
        self.assertEqual(mint.uuids(frame).tolist(), [None, None, "uc1kb3lfu4p3", None, None, None, None])
        for bad, error in [("M,F", ValueError), ({"M=1,F": 2}, ValueError), ({"M": "1"}, TypeError),
                           ({"M": True}, TypeError), (["M=1"], TypeError), ("", ValueError)]:
            with self.subTest(bad), self.assertRaises(error):
                mint.uuids(frame, gender_values=bad)

    def test_texts_in_a_single_record(self):
        self.assertEqual(mint.uuid(**dict(JANE, patient_gender="2", patient_birth_year="1970")), "uc1kb3lfu4p3")
        with self.assertRaises(mint.RecordError) as caught:
            mint.uuid(**dict(JANE, patient_birth_year=" 1970"))
        self.assertEqual(caught.exception.field, "patient_birth_year")

    def test_texts_in_number_columns_are_judged_as_mintbatch_judges_them(self):
        years = ["1970", " 1970", "19x0", "1970.0", "+1970", "", "-", "-2147483648", "99999999999"]
        frame = pandas.concat([jane_frame()] * len(years), ignore_index=True)
        frame["patient_birth_year"] = years
        self.assertEqual(mint.uuids(frame).tolist(), ["uc1kb3lfu4p3"] + [None] * (len(years) - 1))
        with self.assertRaises(mint.RecordError) as caught:
            mint.uuids(frame, errors="raise")
        self.assertEqual((caught.exception.row, caught.exception.field), (1, "patient_birth_year"))


@unittest.skipIf(pandas is None, "pandas is not installed")
class Mappings(unittest.TestCase):
    def test_a_mapping_of_lists_by_name(self):
        data = {"Name": ["Jane Doe"], "patient_SSN": ["123-45-6789"], "Sex": ["F"], "dob": ["31/01/1970"]}
        self.assertEqual(mint.uuids(data, columns={"patient_name": "Name", "patient_gender": "Sex",
                                                   "patient_birth_date": "DOB"},
                                    gender_values="M=1,F=2", date_format="%d/%m/%Y"), ["uc1kb3lfu4p3"])


if __name__ == "__main__":
    unittest.main()
