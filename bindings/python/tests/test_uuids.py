"""mint.uuids: many records from a DataFrame or a mapping of columns."""
import math
import unittest

import mint
from test_uuid import JANE, JANE_COVERED, MARY, REFUSALS, RICHARD

try:
    import numpy
except ImportError:
    numpy = None
try:
    import pandas
except ImportError:
    pandas = None

needs_numpy = unittest.skipIf(numpy is None, "numpy is not installed")
needs_pandas = unittest.skipIf(pandas is None, "pandas is not installed")


def columns_of(records):
    """A mapping of the twelve columns (lists, None where a record lacks the field)."""
    return {name: [record.get(name) for record in records] for name in mint.FIELDS}


def one_by_one(records, **options):
    """What mint.uuid says of each record: its identifier, or None when refused."""
    results = []
    for record in records:
        try:
            results.append(mint.uuid(**record, **options))
        except mint.RecordError:
            results.append(None)
    return results


# Every outcome: identifiers of both keys, the zero identifier, and every refusal.
RECORDS = [JANE, JANE_COVERED, RICHARD, MARY] + [fields for _, fields, _ in REFUSALS]


class Columns(unittest.TestCase):
    def test_each_row_as_uuid_gives_it(self):
        self.assertEqual(mint.uuids(columns_of(RECORDS)), one_by_one(RECORDS))
        self.assertEqual(mint.uuids(columns_of(RECORDS))[:4], ["uc1kb3lfu4p3", "1q2chvgo0ecq", "000000000000", None])

    def test_lenient_rule_as_uuid_takes_it(self):
        records = RECORDS + [dict(JANE, patient_ssn="12")]
        self.assertEqual(mint.uuids(columns_of(records), lenient_ssn=True), one_by_one(records, lenient_ssn=True))

    def test_key_as_uuid_takes_it(self):
        key = b"a secret of the study"
        self.assertEqual(mint.uuids(columns_of(RECORDS), key=key), one_by_one(RECORDS, key=key))

    def test_missing_columns_are_not_given(self):
        self.assertEqual(mint.uuids({name: [value] for name, value in JANE.items()}), ["uc1kb3lfu4p3"])

    def test_errors_raise_names_the_first_refused_row(self):
        with self.assertRaises(mint.RecordError) as caught:
            mint.uuids(columns_of([JANE, RICHARD, MARY, dict(JANE, patient_gender=3)]), errors="raise")
        self.assertEqual((caught.exception.row, caught.exception.field), (2, "patient_ssn"))
        self.assertIn("row 2", str(caught.exception))

    def test_nothing_refused_nothing_raised(self):
        self.assertEqual(mint.uuids(columns_of([JANE, RICHARD]), errors="raise"), ["uc1kb3lfu4p3", "000000000000"])

    def test_bad_calls(self):
        for what, call, error in [
            ("columns of other lengths", lambda: mint.uuids({"patient_name": ["A", "B"], "patient_gender": [1]}),
             ValueError),
            ("no field column", lambda: mint.uuids({"name": ["Jane Doe"]}), ValueError),
            ("unknown errors mode", lambda: mint.uuids(columns_of([JANE]), errors="ignore"), ValueError),
            ("not a table", lambda: mint.uuids([JANE]), TypeError),
            # Texts are judged in number columns (as mintbatch judges them); bytes are no text.
            ("bytes in a number column", lambda: mint.uuids({"patient_gender": [b"2"]}), TypeError),
            ("number in a text column", lambda: mint.uuids({"patient_ssn": [123456789]}), TypeError),
        ]:
            with self.subTest(what), self.assertRaises(error):
                call()

    def test_rows_far_into_a_long_call(self):
        # Long calls run in steps of rows; rows are named by their place in the whole.
        data = columns_of([JANE] * 5000 + [MARY] + [JANE_COVERED] * 10)
        self.assertEqual(mint.uuids(data)[4999:], ["uc1kb3lfu4p3", None] + ["1q2chvgo0ecq"] * 10)
        with self.assertRaises(mint.RecordError) as caught:
            mint.uuids(data, errors="raise")
        self.assertEqual(caught.exception.row, 5000)
        data["patient_gender"][4321] = b"2"
        with self.assertRaisesRegex(TypeError, "patient_gender.*row 4321"):
            mint.uuids(data)

    def test_empty_columns(self):
        self.assertEqual(mint.uuids({"patient_name": []}), [])


# Python code that the conversion of a value runs (__index__, a look-up of
# pandas.NA, a column's __iter__) changes what the call reads. Each case runs
# in a child interpreter whose allocator fills freed memory, so that reading
# a freed list, value or column fails every time (a crash or a wrong
# result), and prints what the call returned.
HOSTILE_CASES = [
    ("a number's __index__ empties its list", """
class Clearing:
    def __index__(self):
        gender.clear()
        return 2
gender = []
gender.extend(Clearing() for _ in range(3000))
print(mint.uuids({**JANE_COLUMNS(3000), "patient_gender": gender}) == ["uc1kb3lfu4p3"] * 3000, len(gender))
""", "True 0"),
    ("a look-up of pandas.NA empties a text list", """
import types
class Missing:
    pass
def pandas_attribute(name):
    if name != "NA":
        raise AttributeError(name)
    names.clear()
    return Missing.instance
Missing.instance = Missing()
sys.modules["pandas"] = pandas = types.ModuleType("pandas")
pandas.DataFrame = type("DataFrame", (), {})
pandas.__getattr__ = pandas_attribute
names = [Missing.instance] + ["Jane " + "Doe" * (i % 7) for i in range(2999)]
expected = [None] + [mint.uuid(**dict(JANE, patient_name=name)) for name in names[1:]]
print(mint.uuids({**JANE_COLUMNS(3000), "patient_name": names}) == expected, len(names))
""", "True 0"),
    ("a column's __iter__ takes it out of the dict", """
class Column:
    def __iter__(self):
        del columns["patient_gender"]
        return iter([2] * 3)
    def __len__(self):
        return 3
columns = {**JANE_COLUMNS(3), "patient_gender": Column()}
print(mint._mint.derive_columns(columns, 3) == ["uc1kb3lfu4p3"] * 3, len(columns))
""", "True 5"),
    ("a value's __index__ empties the dict of uuid's arguments", """
import ctypes
class Clearing:
    def __index__(self):
        arguments.clear()
        return 2
arguments = dict(JANE, patient_gender=Clearing(), patient_name="Jane " + "Doe" * 100,
                 patient_birth_year=Year(1970))
call = ctypes.pythonapi.PyObject_Call
call.restype, call.argtypes = ctypes.py_object, [ctypes.py_object] * 3
print(call(mint.uuid, (), arguments) == mint.uuid(**dict(JANE, patient_name="Jane " + "Doe" * 100)),
      len(arguments))
""", "True 0"),
]

HOSTILE_PRELUDE = """
import sys
import mint
from test_uuid import JANE
class Year(int):
    pass
def JANE_COLUMNS(rows):
    return {name: [value] * rows for name, value in JANE.items()}
"""


class ColumnsChangedDuringTheCall(unittest.TestCase):
    def test_the_call_reads_what_it_was_given(self):
        import os
        import subprocess
        import sys
        environment = dict(os.environ, PYTHONMALLOC="debug")
        environment["PYTHONPATH"] = os.pathsep.join([os.path.dirname(os.path.abspath(__file__))] + sys.path)
        for what, code, expected in HOSTILE_CASES:
            with self.subTest(what):
                child = subprocess.run([sys.executable, "-c", HOSTILE_PRELUDE + code], env=environment,
                                       capture_output=True, text=True, timeout=120)
                self.assertEqual((child.returncode, child.stdout.strip()), (0, expected), child.stderr[-2000:])


@needs_numpy
class NumpyColumns(unittest.TestCase):
    def test_integer_and_float_arrays(self):
        data = {name: numpy.array([JANE[name]] * 4) for name in JANE}
        data["patient_birth_year"] = numpy.array([1970, 2 ** 40, -2 ** 31, 1970], dtype=numpy.int64)
        data["patient_birth_day"] = numpy.array([31.0, 31.0, 31.0, 31.5])
        self.assertEqual(mint.uuids(data), ["uc1kb3lfu4p3", None, None, None])

    def test_float_gaps_are_not_given(self):
        data = columns_of([JANE, JANE_COVERED, RICHARD])
        for name in mint.NUMBER_FIELDS:
            data[name] = numpy.array([math.nan if v is None else float(v) for v in data[name]])
        self.assertEqual(mint.uuids(data), ["uc1kb3lfu4p3", "1q2chvgo0ecq", "000000000000"])

    def test_unsigned_and_narrow_integers(self):
        data = {name: [value] * 2 for name, value in JANE.items()}
        data["patient_gender"] = numpy.array([2, 3], dtype=numpy.uint8)
        data["patient_birth_year"] = numpy.array([1970, 1970], dtype=numpy.uint64)
        self.assertEqual(mint.uuids(data), ["uc1kb3lfu4p3", None])

    def test_bool_and_bytes_arrays_are_no_numbers(self):
        # (Arrays of str are texts, judged as mintbatch judges them.)
        for values in (numpy.array([True]), numpy.array([b"2"])):
            with self.subTest(values.dtype), self.assertRaises(TypeError):
                mint.uuids({"patient_gender": values})

    def test_int32_buffers_are_read_as_they_are(self):
        data = {name: [value] for name, value in JANE.items()}
        data["patient_birth_year"] = numpy.array([1970], dtype=numpy.int32)
        self.assertEqual(mint.uuids(data), ["uc1kb3lfu4p3"])


@needs_pandas
class DataFrames(unittest.TestCase):
    def frame(self, records, index=None):
        return pandas.DataFrame([{"data_record": str(i), **r} for i, r in enumerate(records)], index=index)

    def test_series_on_the_frames_index(self):
        index = pandas.Index(["a", "b", "c", "d"], name="record")
        frame = self.frame([JANE, JANE_COVERED, RICHARD, MARY], index=index)
        result = mint.uuids(frame)
        self.assertIsInstance(result, pandas.Series)
        self.assertEqual(result.name, "uuid")
        self.assertTrue(result.index.equals(index))
        self.assertEqual(result.tolist(), ["uc1kb3lfu4p3", "1q2chvgo0ecq", "000000000000", None])

    def test_every_record_as_uuid_gives_it(self):
        # pandas stores the numbers of columns with gaps as floats with NaN.
        frame = self.frame(RECORDS)
        self.assertEqual(frame["policy_gender"].dtype.kind, "f")
        self.assertEqual(mint.uuids(frame).tolist(), one_by_one(RECORDS))

    def test_errors_raise_names_the_index_label(self):
        frame = self.frame([JANE, MARY], index=[10, 20])
        with self.assertRaises(mint.RecordError) as caught:
            mint.uuids(frame, errors="raise")
        self.assertEqual((caught.exception.row, caught.exception.field), (20, "patient_ssn"))

    def test_nullable_dtypes(self):
        frame = self.frame([JANE, JANE_COVERED, RICHARD])
        for name in mint.NUMBER_FIELDS:
            frame[name] = frame[name].astype("Int64")
        for name in mint.TEXT_FIELDS:
            frame[name] = frame[name].astype("string")
        self.assertIs(frame["patient_ssn"].iloc[1], pandas.NA)
        self.assertEqual(mint.uuids(frame).tolist(), ["uc1kb3lfu4p3", "1q2chvgo0ecq", "000000000000"])

    def test_ssns_read_as_numbers_are_refused_with_a_hint(self):
        frame = pandas.DataFrame({**{name: [value] for name, value in JANE.items()}, "patient_ssn": [12345678]})
        with self.assertRaisesRegex(TypeError, "leading zeros"):
            mint.uuids(frame)

    def test_empty_frame(self):
        frame = pandas.DataFrame({name: [] for name in mint.FIELDS})
        self.assertEqual(len(mint.uuids(frame)), 0)


if __name__ == "__main__":
    unittest.main()
