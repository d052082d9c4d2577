"""What the Python tests share: the programs under test, generated records,
mintbatch's identifiers for a file, and an independent derivation (the
project's Python reference, tests/reference/mint_reference.py) to check
values the programs cannot give, such as keyed identifiers."""
import hashlib
import hmac
import importlib.util
import os
import subprocess
import tempfile
import unittest

SOURCE_DIR = os.environ.get("MINT_TEST_SOURCE_DIR") or os.path.abspath(
    os.path.join(os.path.dirname(__file__), "..", "..", ".."))
EXAMPLES_CSV = os.path.join(SOURCE_DIR, "examples", "patients.csv")


def _load_reference():
    path = os.path.join(SOURCE_DIR, "tests", "reference", "mint_reference.py")
    found = importlib.util.spec_from_file_location("mint_reference", path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


reference = _load_reference()


def keyed_reference(row, key):
    """A keyed identifier as the library describes it: the last SHA-256 of the
    derivation (the second of a patient key, the only one of a policy key)
    becomes HMAC-SHA-256 under the key, over the same message. `row` is a
    CSV row of 13 texts, data_record first; None when refused."""
    patient = reference.person(row[1:7])
    policy = reference.person(row[7:13])
    if patient is None or policy is None:
        return None
    mac = lambda message: hmac.new(key, message, hashlib.sha256).digest()
    alphabet, year = reference.ALPHABET, reference.year_bytes
    core = [patient[k] for k in ("name", "gender", "year", "month", "day")]
    policy_all = [policy[k] for k in ("name", "ssn", "gender", "year", "month", "day")]
    if patient["ssn"] is not None and None not in core:
        name, gender, birth_year, month, day = core
        stage1 = hashlib.sha256(name + patient["ssn"] + bytes([day])).digest()
        stage2 = mac(bytes(b & 0x0F for b in stage1[:9]) + bytes([gender, month]) + year(birth_year))
        return alphabet[(stage2[0] & 0x0F) | 0x10] + "".join(alphabet[b & 0x1F] for b in stage2[1:12])
    if patient["ssn"] is None and None not in core and None not in policy_all:
        pname, pssn, pgender, pyear, pmonth, pday = policy_all
        name, gender, birth_year, month, day = core
        digest = mac(pname + pssn + bytes([pgender, pday, pmonth]) + year(pyear)
                     + name + bytes([gender, day, month]) + year(birth_year))
        return alphabet[digest[0] & 0x0F] + "".join(alphabet[b & 0x1F] for b in digest[1:12])
    if patient["ssn"] is None and policy["ssn"] is None:
        return "0" * 12
    return None


def write_test_key(directory):
    """The project's test key file (tests/data/keys/test.key), copied into
    `directory` for its owner alone; its path."""
    path = os.path.join(directory, "test.key")
    with open(os.path.join(SOURCE_DIR, "tests", "data", "keys", "test.key"), "rb") as source:
        content = source.read()
    with open(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), "wb") as file:
        file.write(content)
    return path


def assert_same_identifiers(test, got, expected):
    """Fails `test` unless the two lists of identifiers are equal, naming the
    first row that differs (unittest's diff of long lists takes minutes)."""
    test.assertEqual(len(got), len(expected), "other numbers of rows")
    differ = [row for row, (a, b) in enumerate(zip(got, expected)) if a != b]
    if differ:
        first = differ[0]
        test.fail(f"{len(differ)} of {len(got)} rows differ; row {first}: {got[first]!r}, expected {expected[first]!r}")


def program(variable):
    """The path of a program the build passes in `variable`; skips without it."""
    path = os.environ.get(variable)
    if not path:
        raise unittest.SkipTest(f"{variable} is not set (run the tests through ctest)")
    return path


def write_generated_records(path, count, seed, extra_lines=()):
    """generate_records' COUNT records, then `extra_lines` (without line ends)."""
    with open(path, "wb") as out:
        subprocess.run([program("MINT_TEST_GENERATE_RECORDS"), str(count), str(seed)], stdout=out, check=True)
        for line in extra_lines:
            out.write(line.encode("latin-1") + b"\n")


def mintbatch_identifiers(input_path, *options):
    """mintbatch's identifier for every line after the header: the text it
    appends to a processed line, None for a line it copies unchanged.
    `options` go before the file names (--key-file PATH, say)."""
    with tempfile.TemporaryDirectory() as scratch:
        output_path = os.path.join(scratch, "out.csv")
        subprocess.run([program("MINT_TEST_MINTBATCH"), *options, input_path, output_path],
                       stdout=subprocess.DEVNULL, check=True)
        with open(input_path, "rb") as file:
            inputs = file.read().split(b"\n")[1:]
        with open(output_path, "rb") as file:
            outputs = file.read().split(b"\n")[1:]
    if inputs and inputs[-1] == b"":
        inputs.pop()
    if outputs and outputs[-1] == b"":
        outputs.pop()
    assert len(inputs) == len(outputs), "mintbatch wrote another number of lines"
    identifiers = []
    for line, written in zip(inputs, outputs):
        if written == line:
            identifiers.append(None)
        else:
            assert written.startswith(line + b","), "mintbatch changed a line"
            identifiers.append(written[len(line) + 1:].decode("ascii"))
    return identifiers

