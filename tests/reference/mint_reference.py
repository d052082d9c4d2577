#!/usr/bin/env python3
"""An independent derivation of mint identifiers, written with Python's csv,
hashlib and hmac modules and none of the C++ code, to cross-check the programs.

usage: mint_reference.py [--key-file KEY] INPUT.csv OUTPUT.csv

Reads a mintbatch input file of well-formed records and writes what mintbatch
must write for it: the fixed header line, then every data line followed by
",<identifier>" when the record yields one (the programs' rule: an SSN needs
exactly nine digits). Lines end in "\\n".

With --key-file the identifiers are keyed: the last SHA-256 computation of
each (the second of a patient key, the only one of a policy key) is
HMAC-SHA-256 under the secret the key file holds in hex.
"""
import csv
import hashlib
import hmac
import sys

ALPHABET = "0123456789abcdefghijklmnopqrstuv"
HEADER = ("data_record,patient_name,patient_ssn,patient_gender,patient_birth_year,"
          "patient_birth_month,patient_birth_day,policy_name,policy_ssn,policy_gender,"
          "policy_birth_year,policy_birth_month,policy_birth_day,uuid\n")


def letter_codes(text):
    """Letters only, case folded, as 1..26; the first 20 count, zero padded."""
    codes = [ord(c.lower()) - ord("a") + 1 for c in text if c.isascii() and c.isalpha()][:20]
    return bytes(codes).ljust(20, b"\0") if codes else None


def ssn_digits(text):
    """Exactly nine digits, whatever else stands between them."""
    digits = [int(c) for c in text if c in "0123456789"]
    return bytes(digits) if len(digits) == 9 else None


def year_bytes(year):
    return bytes([year % 100, year // 100])


def read_key(path):
    """The secret of a key file: hex digits, whitespace anywhere ignored."""
    with open(path, encoding="ascii") as keyfile:
        text = "".join(keyfile.read().split())
    secret = bytes.fromhex(text)
    if not 16 <= len(secret) <= 512:
        raise ValueError(f"{path}: a key has 32 to 1024 hex digits")
    return secret


def last_hash(message, secret):
    """The last hash computation of an identifier: plain, or keyed."""
    if secret is None:
        return hashlib.sha256(message).digest()
    return hmac.new(secret, message, hashlib.sha256).digest()


def patient_key(name, ssn, gender, year, month, day, secret=None):
    stage1 = hashlib.sha256(name + ssn + bytes([day])).digest()
    stage2 = last_hash(bytes(b & 0x0F for b in stage1[:9]) + bytes([gender, month]) + year_bytes(year), secret)
    return ALPHABET[(stage2[0] & 0x0F) | 0x10] + "".join(ALPHABET[b & 0x1F] for b in stage2[1:12])


def policy_key(policy, patient, secret=None):
    pname, pssn, pgender, pyear, pmonth, pday = policy
    name, gender, year, month, day = patient
    segment_a = pname + pssn + bytes([pgender, pday, pmonth]) + year_bytes(pyear)
    segment_b = name + bytes([gender, day, month]) + year_bytes(year)
    digest = last_hash(segment_a + segment_b, secret)
    return ALPHABET[digest[0] & 0x0F] + "".join(ALPHABET[b & 0x1F] for b in digest[1:12])


RANGES = {"gender": (1, 2), "year": (1851, 2099), "month": (1, 12), "day": (1, 31)}


def person(fields):
    """A person's six fields as (values, complete, has_ssn), or None when a
    given value is out of range (the record is refused)."""
    name_text, ssn_text, gender, year, month, day = fields
    values = {"name": letter_codes(name_text) if name_text else None}
    if ssn_text:
        values["ssn"] = ssn_digits(ssn_text)
        if values["ssn"] is None:
            return None
    else:
        values["ssn"] = None
    for key, text in zip(("gender", "year", "month", "day"), (gender, year, month, day)):
        if text == "":
            values[key] = None
            continue
        number = int(text)
        low, high = RANGES[key]
        if not low <= number <= high:
            return None
        values[key] = number
    return values


def identifier(row, secret=None):
    patient = person(row[1:7])
    policy = person(row[7:13])
    if patient is None or policy is None:
        return None
    patient_core = [patient[k] for k in ("name", "gender", "year", "month", "day")]
    policy_all = [policy[k] for k in ("name", "ssn", "gender", "year", "month", "day")]
    if patient["ssn"] is not None and None not in patient_core:
        name, gender, year, month, day = patient_core
        return patient_key(name, patient["ssn"], gender, year, month, day, secret)
    if patient["ssn"] is None and None not in patient_core and None not in policy_all:
        return policy_key(policy_all, patient_core, secret)
    if patient["ssn"] is None and policy["ssn"] is None:
        return "0" * 12
    return None


def main():
    arguments = sys.argv[1:]
    secret = None
    if arguments[:1] == ["--key-file"]:
        secret = read_key(arguments[1])
        arguments = arguments[2:]
    source, target = arguments
    with open(source, encoding="latin-1", newline="") as infile, \
            open(target, "w", encoding="latin-1", newline="") as outfile:
        outfile.write(HEADER)
        lines = infile.read().splitlines()
        for line in lines[1:]:
            row = next(csv.reader([line]))
            uuid = identifier(row + [""] * (13 - len(row)), secret) if len(row) >= 12 else None
            outfile.write(line + ("," + uuid if uuid else "") + "\n")


if __name__ == "__main__":
    main()
