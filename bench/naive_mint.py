#!/usr/bin/env python3
"""The straightforward way to add mint identifiers to a CSV file in Python,
with the csv and hashlib modules, as the README describes the derivation: the
yardstick that bench/batch_throughput.sh measures mintbatch against.

usage: naive_mint.py INPUT.csv OUTPUT.csv

Writes the header line, then every input line after the first with
",<identifier>" appended when the record gets one, ended by "\\n": for
well-formed records, what mintbatch writes.
"""
import csv
import hashlib
import sys

ALPHABET = "0123456789abcdefghijklmnopqrstuv"
HEADER = ("data_record,patient_name,patient_ssn,patient_gender,patient_birth_year,"
          "patient_birth_month,patient_birth_day,policy_name,policy_ssn,policy_gender,"
          "policy_birth_year,policy_birth_month,policy_birth_day,uuid\n")
LIMITS = ((1, 2), (1851, 2099), (1, 12), (1, 31))  # gender, year, month, day


class Refused(Exception):
    pass


def name_codes(text):
    """The letters A to Z in either case, as 1 to 26; the first 20, zero-padded."""
    codes = [ord(c) - 96 for c in text.lower() if "a" <= c <= "z"][:20]
    return bytes(codes).ljust(20, b"\0") if codes else None


def ssn_digits(text):
    """Exactly nine digits, whatever stands between them."""
    digits = [int(c) for c in text if "0" <= c <= "9"]
    if len(digits) != 9:
        raise Refused()
    return bytes(digits)


def person(fields):
    """name, ssn, gender, year, month, day; None for what is not given."""
    name, ssn = fields[0], fields[1]
    numbers = []
    for text, (low, high) in zip(fields[2:6], LIMITS):
        if text in ("", "-"):
            numbers.append(None)
            continue
        value = int(text)
        if not low <= value <= high:
            raise Refused()
        numbers.append(value)
    return [name_codes(name) if name else None, ssn_digits(ssn) if ssn else None] + numbers


def encode(digest, first_bits):
    return ALPHABET[(digest[0] & 0x0F) | first_bits] + "".join(ALPHABET[b & 0x1F] for b in digest[1:12])


def identifier(row):
    patient = person(row[1:7])
    holder = person(row[7:13])
    name, ssn, gender, year, month, day = patient
    complete = None not in (name, gender, year, month, day)
    if ssn is not None and complete:
        first = hashlib.sha256(name + ssn + bytes([day])).digest()
        second = hashlib.sha256(bytes(b & 0x0F for b in first[:9]) +
                                bytes([gender, month, year % 100, year // 100])).digest()
        return encode(second, 0x10)
    if ssn is None and complete and None not in holder:
        h_name, h_ssn, h_gender, h_year, h_month, h_day = holder
        digest = hashlib.sha256(h_name + h_ssn + bytes([h_gender, h_day, h_month, h_year % 100, h_year // 100]) +
                                name + bytes([gender, day, month, year % 100, year // 100])).digest()
        return encode(digest, 0)
    if ssn is None and holder[1] is None:
        return "0" * 12
    return None


def main():
    with open(sys.argv[1], encoding="latin-1", newline="") as source, \
            open(sys.argv[2], "w", encoding="latin-1", newline="") as target:
        target.write(HEADER)
        next(source, None)
        for line in source:
            line = line.rstrip("\r\n")
            row = next(csv.reader([line]))
            try:
                uuid = identifier(row + [""] * (13 - len(row))) if len(row) >= 12 and row[0] else None
            except (Refused, ValueError):
                uuid = None
            target.write(line + ("," + uuid if uuid else "") + "\n")


if __name__ == "__main__":
    main()
