"""mint.uuids gives mintbatch's identifiers for the same records."""
import os
import tempfile
import unittest

import mint
from support import (EXAMPLES_CSV, assert_same_identifiers, mintbatch_identifiers, program, write_generated_records,
                     write_test_key)
from test_uuid import REFUSALS

try:
    import pandas
except ImportError:
    pandas = None


def csv_line(record_key, fields):
    values = ["" if fields.get(name) is None else str(fields[name]) for name in mint.FIELDS]
    return ",".join([record_key] + [f'"{v}"' if "," in v else v for v in values])


# Refusals mintbatch can be given in a CSV line (its numbers are 32-bit
# and whole; bigger ones and fractions are the binding's own refusals).
CSV_REFUSALS = [(what, fields) for what, fields, _ in REFUSALS
                if all(isinstance(v, str) or (isinstance(v, int) and -2 ** 31 < v < 2 ** 31)
                       for v in fields.values())]


@unittest.skipIf(pandas is None, "pandas is not installed")
class SameAsMintbatch(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        program("MINT_TEST_MINTBATCH")
        cls.scratch = tempfile.TemporaryDirectory()

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def read(self, path):
        return pandas.read_csv(path, **mint.CSV_OPTIONS)

    def test_worked_examples(self):
        frame = self.read(EXAMPLES_CSV)
        # The last line has no record key: mintbatch copies it unprocessed.
        processed = frame["data_record"].notna()
        self.assertEqual(mint.uuids(frame[processed]).tolist(),
                         mintbatch_identifiers(EXAMPLES_CSV)[:processed.sum()])
        self.assertEqual(mint.uuids(frame[processed]).tolist(),
                         ["uc1kb3lfu4p3", "1q2chvgo0ecq", "000000000000", None])

    def test_generated_records_and_every_refusal(self):
        path = os.path.join(self.scratch.name, "records.csv")
        refusals = [csv_line(f"9{i:05d}", fields) for i, (_, fields) in enumerate(CSV_REFUSALS)]
        write_generated_records(path, 20_000, 7, refusals)
        expected = mintbatch_identifiers(path)
        self.assertEqual(expected[-len(refusals):], [None] * len(refusals), "mintbatch took a refusal")
        self.assertEqual(mint.uuids(self.read(path)).tolist(), expected)

    def agrees_with_single_records(self, **options):
        path = os.path.join(self.scratch.name, "small.csv")
        write_generated_records(path, 300, 11)
        frame = self.read(path)
        expected = [mint.uuid(**record, **options) for record in frame[list(mint.FIELDS)].to_dict("records")]
        self.assertEqual(mint.uuids(frame, **options).tolist(), expected)

    def test_lenient_calls_agree_with_single_records(self):
        self.agrees_with_single_records(lenient_ssn=True)

    def test_a_key_file_gives_mintbatchs_keyed_identifiers(self):
        path = os.path.join(self.scratch.name, "keyed.csv")
        write_generated_records(path, 2000, 13)
        key_path = write_test_key(self.scratch.name)
        expected = mintbatch_identifiers(path, "--key-file", key_path)
        assert_same_identifiers(self, mint.uuids(self.read(path), key_file=key_path).tolist(), expected)
        assert_same_identifiers(self, mint.uuids(self.read(path), key=mint.read_key(key_path)).tolist(), expected)
        self.assertNotEqual(mintbatch_identifiers(path), expected)

    def test_keyed_calls_agree_with_single_records(self):
        self.agrees_with_single_records(key=b"a secret of the study")


if __name__ == "__main__":
    unittest.main()
