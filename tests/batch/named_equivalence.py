"""Every by-name case's records, written in the positional format, get the
same identifiers from mintbatch as read by name.

usage: named_equivalence.py MINTBATCH CASES_DIR

The records are read here with Python's own CSV reader and the mapping rules
as the manual states them (names, dates, gender codes, numbers), written as
thirteen positional columns and converted by mintbatch's positional route; the
by-name run of the case (as --key-only) must give each record the identifier
the positional run gives it, and none to a record whose values do not parse.
"""
import csv
import io
import os
import re
import subprocess
import sys
import tempfile

FIELDS = ["data_record", "patient_name", "patient_ssn", "patient_gender", "patient_birth_year",
          "patient_birth_month", "patient_birth_day", "policy_name", "policy_ssn", "policy_gender",
          "policy_birth_year", "policy_birth_month", "policy_birth_day"]
DATES = {"%Y-%m-%d": r"(\d{4})-(\d{1,2})-(\d{1,2})", "%d/%m/%Y": r"(\d{1,2})/(\d{1,2})/(\d{4})",
         "%m/%d/%Y": r"(\d{1,2})/(\d{1,2})/(\d{4})", "%d.%m.%Y": r"(\d{1,2})\.(\d{1,2})\.(\d{4})",
         "%Y%m%d": r"(\d{4})(\d{2})(\d{2})"}


class Refused(Exception):
    pass


def number(text):
    """A number field's text as the positional route judges it: None when absent."""
    if text in ("", "-"):
        return None
    if not re.fullmatch(r"-?[0-9]+", text):
        raise Refused(text)
    return str(max(min(int(text), 2**31 - 1), -2**31))


def date(text, fmt):
    if text == "":
        return None
    match = re.fullmatch(DATES[fmt], text)
    if not match:
        raise Refused(text)
    a, b, c = (int(g) for g in match.groups())
    order = {"%Y-%m-%d": (a, b, c), "%Y%m%d": (a, b, c), "%d/%m/%Y": (c, b, a), "%d.%m.%Y": (c, b, a),
             "%m/%d/%Y": (c, a, b)}[fmt]
    return [str(v) for v in order]


def find_delimiter(header):
    counts = {d: 0 for d in ",;\t|"}
    quoted = False
    for ch in header:
        if ch == '"':
            quoted = not quoted
        elif not quoted and ch in counts:
            counts[ch] += 1
    best = ","
    for d in ",;\t|":
        if counts[d] > counts[best]:
            best = d
    return best


def options_of(args):
    opts = {"map": {}, "delimiter": None, "date": "%Y-%m-%d", "genders": {}, "other": []}
    i = 0
    paths = []
    while i < len(args):
        a = args[i]
        if a in ("--map", "--delimiter", "--date-format", "--gender-values", "--report", "--drop", "--uuid-column"):
            value = args[i + 1]
            i += 2
            if a == "--map":
                for item in value.split(","):
                    field, column = item.split("=", 1)
                    opts["map"][field.lower()] = column
                opts["other"] += [a, value]
            elif a == "--delimiter":
                opts["delimiter"] = "\t" if value == "tab" else value
                opts["other"] += [a, value]
            elif a == "--date-format":
                opts["date"] = value
                opts["other"] += [a, value]
            elif a == "--gender-values":
                for item in value.split(","):
                    code, num = item.split("=")
                    opts["genders"][code.lower()] = num
                opts["other"] += [a, value]
            continue
        if a.startswith("-") and a != "-":
            i += 1
            continue
        paths.append(a)
        i += 1
    return opts, paths[0]


def main():
    mintbatch, cases_dir = sys.argv[1], sys.argv[2]
    compared = 0
    for case in sorted(os.listdir(cases_dir)):
        case_dir = os.path.join(cases_dir, case)
        with open(os.path.join(case_dir, "args")) as f:
            args = f.read().splitlines()
        with open(os.path.join(case_dir, "status")) as f:
            if f.read().strip() != "0" or "--by-name" not in args:
                continue
        opts, input_name = options_of(args)
        input_path = os.path.join(case_dir, "stdin" if input_name == "-" else input_name)
        with open(input_path, "rb") as f:
            text = f.read().decode("utf-8")
        if text.startswith("\ufeff"):
            text = text[1:]
        delimiter = opts["delimiter"] or find_delimiter(re.split(r"\r\n|\r|\n", text, 1)[0])
        rows = list(csv.reader(io.StringIO(text, newline=""), delimiter=delimiter))
        header = [name.strip(" \t").lower() for name in rows[0]]
        column = {}
        for field in FIELDS + ["patient_birth_date", "policy_birth_date"]:
            wanted = opts["map"].get(field, field).strip(" \t").lower()
            if wanted in header:
                column[field] = header.index(wanted)

        expected = []   # per record: identifier expected from the positional run's row, or "" for none
        positional = ["data_record,patient_name,patient_ssn,patient_gender,patient_birth_year,patient_birth_month,"
                      "patient_birth_day,policy_name,policy_ssn,policy_gender,policy_birth_year,"
                      "policy_birth_month,policy_birth_day"]
        for index, row in enumerate(rows[1:]):
            if len(row) != len(header) or ("data_record" in column and row[column["data_record"]] == ""):
                expected.append("")
                continue
            value = lambda field: row[column[field]] if field in column else ""
            try:
                out = ["r%d" % index]
                for who in ("patient", "policy"):
                    out.append(value(who + "_name")[:99])
                    out.append(value(who + "_ssn")[:999])
                    g = value(who + "_gender")
                    g = opts["genders"].get(g.lower(), g)
                    out.append(number(g) or "")
                    if who + "_birth_date" in column:
                        parts = date(value(who + "_birth_date"), opts["date"]) or ["", "", ""]
                    else:
                        parts = [number(value(who + "_birth_" + p)) or "" for p in ("year", "month", "day")]
                    out += parts
            except Refused:
                expected.append("")
                continue
            if any(ch in field for field in out for ch in '"\r\n') or any("," in f for k, f in enumerate(out)
                                                                             if k not in (1, 7)):
                expected.append(None)   # not writable in the positional format: not compared
                continue
            positional.append(",".join('"%s"' % f if "," in f else f for f in out))
            expected.append(("r%d" % index))

        with tempfile.TemporaryDirectory() as scratch:
            pos_in = os.path.join(scratch, "positional.csv")
            pos_out = os.path.join(scratch, "positional_out.csv")
            named_out = os.path.join(scratch, "named_out.csv")
            with open(pos_in, "w", newline="") as f:
                f.write("\n".join(positional) + "\n")
            subprocess.run([mintbatch, "-j", "1", pos_in, pos_out], check=True, capture_output=True)
            subprocess.run([mintbatch, "--by-name", "--key-only"] + opts["other"] + [input_path, named_out],
                           check=True, capture_output=True)
            identifiers = {}
            with open(pos_out, newline="") as f:
                for row in list(csv.reader(f))[1:]:
                    identifiers[row[0]] = row[13] if len(row) == 14 else ""
            with open(named_out, newline="") as f:
                named = list(csv.reader(f, delimiter=delimiter))[1:]
        if len(named) != len(expected):
            sys.exit("%s: %d records by name, %d read here" % (case, len(named), len(expected)))
        for index, (row, wanted) in enumerate(zip(named, expected)):
            if wanted is None:
                continue
            got = row[-1] if row else ""
            want = identifiers[wanted] if wanted else ""
            if got != want:
                sys.exit("%s: record %d: by name %r, positional %r" % (case, index + 1, got, want))
            compared += 1
        print("%s: %d records" % (case, sum(1 for e in expected if e is not None)))
    if compared == 0:
        sys.exit("no records compared")


main()
