"""mint.dask.uuids on a real cluster of two worker processes, checked record
by record against mintbatch on the same file."""
import os
import tempfile
import unittest

import mint
from support import (assert_same_identifiers, mintbatch_identifiers, program, write_generated_records,
                     write_test_key)

RECORDS = 100_000


def setUpModule():
    for module in ("pandas", "dask.dataframe", "distributed"):
        try:
            __import__(module)
        except ImportError:
            raise unittest.SkipTest(f"{module} is not installed")


class OnACluster(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        import distributed
        program("MINT_TEST_MINTBATCH")
        cls.scratch = tempfile.TemporaryDirectory()
        cls.path = os.path.join(cls.scratch.name, "records.csv")
        write_generated_records(cls.path, RECORDS, 2024)
        # Worker processes import mint from the same PYTHONPATH as this one.
        cls.cluster = distributed.LocalCluster(n_workers=2, processes=True, threads_per_worker=1,
                                               dashboard_address=None, local_directory=cls.scratch.name)
        cls.client = distributed.Client(cls.cluster)

    @classmethod
    def tearDownClass(cls):
        cls.client.close()
        cls.cluster.close()
        cls.scratch.cleanup()

    def test_every_identifier_as_mintbatch_gives_it(self):
        import dask.dataframe
        import mint.dask
        ddf = dask.dataframe.read_csv(self.path, blocksize=1_000_000, **mint.CSV_OPTIONS)
        self.assertGreater(ddf.npartitions, 2)
        with_ids = mint.dask.uuids(ddf)
        self.assertEqual(list(with_ids.columns), list(ddf.columns) + ["uuid"])
        result = with_ids.compute()
        self.assertEqual(len(result), RECORDS)
        self.assertEqual(result["uuid"].tolist(), mintbatch_identifiers(self.path))
        # The work ran on the workers, not in this process.
        self.assertEqual(len(self.client.scheduler_info()["workers"]), 2)

    def test_refusals_raise_on_the_client_when_asked(self):
        import dask.dataframe
        import pandas
        import mint.dask
        frame = pandas.DataFrame({"patient_name": ["Jane Doe", "Mary Major"], "patient_ssn": ["123-45-6789", "1"],
                                  "patient_gender": [2, 2], "patient_birth_year": [1970, 1990],
                                  "patient_birth_month": [1, 6], "patient_birth_day": [31, 15]})
        ddf = dask.dataframe.from_pandas(frame, npartitions=2)
        self.assertEqual(mint.dask.uuids(ddf, column="id").compute()["id"].tolist(), ["uc1kb3lfu4p3", None])
        with self.assertRaises(mint.RecordError) as caught:
            mint.dask.uuids(ddf, errors="raise").compute()
        self.assertEqual(caught.exception.field, "patient_ssn")

    def test_a_key_file_is_read_here_and_gives_mintbatchs_keyed_identifiers(self):
        import dask.dataframe
        import mint.dask
        with tempfile.TemporaryDirectory() as keys:
            key_path = write_test_key(keys)
            expected = mintbatch_identifiers(self.path, "--key-file", key_path)
            ddf = dask.dataframe.read_csv(self.path, blocksize=2_000_000, **mint.CSV_OPTIONS)
            with_ids = mint.dask.uuids(ddf, key_file=key_path)
        # The file is gone: the workers got its secret, not its path.
        assert_same_identifiers(self, with_ids.compute()["uuid"].tolist(), expected)

    def test_keys_that_cannot_be_used_are_refused_at_once(self):
        import dask.dataframe
        import pandas
        import mint.dask
        ddf = dask.dataframe.from_pandas(pandas.DataFrame({"patient_name": ["Jane Doe"]}), npartitions=1)
        with tempfile.TemporaryDirectory() as keys:
            key_path = write_test_key(keys)
            with open(key_path, "rb") as file:
                key_text = file.read()
            for what, options, error in [
                ("a key file's text as the key", dict(key=key_text), ValueError),
                ("a short key", dict(key=b"short"), ValueError),
                ("both", dict(key=mint.read_key(key_path), key_file=key_path), TypeError),
                ("a missing key file", dict(key_file=key_path + ".missing"), FileNotFoundError),
            ]:
                with self.subTest(what), self.assertRaises(error):
                    mint.dask.uuids(ddf, **options)

    def test_columns_by_name_with_codes_and_dates(self):
        import warnings
        import dask.dataframe
        import pandas
        import mint.dask
        frame = pandas.DataFrame({"ID": ["1", "2", "3", "4"], "Name": ["Jane Doe", "Roe, Richard", "Jane Doe", "x"],
                                  "SSN": ["123-45-6789", "123-45-6789", "", "123-45-6789"],
                                  "Sex": ["F", "m", "F", " F"], "DOB": ["31.01.1970", "24.12.1985", "31.1.1970", "1.1.1970"]})
        options = dict(columns={"data_record": "ID", "patient_name": "Name", "patient_ssn": "SSN",
                                "patient_gender": "Sex", "patient_birth_date": "DOB"},
                       gender_values={"M": 1, "F": 2}, date_format="%d.%m.%Y")
        ddf = dask.dataframe.from_pandas(frame, npartitions=2)
        expected = mint.uuids(frame, **options).tolist()
        self.assertEqual(expected[0], "uc1kb3lfu4p3")
        self.assertEqual(expected[2:], ["000000000000", None])
        self.assertEqual(mint.dask.uuids(ddf, **options).compute()["uuid"].tolist(), expected)
        # Mapping problems are raised, and a missing field warned of, once, at once.
        with self.assertRaisesRegex(ValueError, "no column 'Birthday'"):
            mint.dask.uuids(ddf, **dict(options, columns={**options["columns"], "patient_birth_date": "Birthday"}))
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            ddf_ssn = mint.dask.uuids(ddf.rename(columns={"Name": "patient_name", "Sex": "patient_gender",
                                                          "DOB": "patient_birth_date"}),
                                      gender_values="M=1,F=2", date_format="%d.%m.%Y")
            self.assertEqual(ddf_ssn.compute()["uuid"].tolist()[:3], ["000000000000"] * 3)
        self.assertEqual([str(w.message)[:40] for w in caught], ["mint.uuids: no column for patient_ssn, w"])

    def test_a_frame_without_record_fields_is_refused_at_once(self):
        import dask.dataframe
        import pandas
        import mint.dask
        ddf = dask.dataframe.from_pandas(pandas.DataFrame({"name": ["Jane"]}), npartitions=1)
        with self.assertRaises(ValueError):
            mint.dask.uuids(ddf)


if __name__ == "__main__":
    unittest.main()
