"""Deterministic 12-character patient identifiers, derived with SHA-256.

The same fields give the same identifier here as in mintbatch, mintsolo and
every other interface of mint. An SSN must have exactly nine digits unless
``lenient_ssn=True`` asks for the shared library's rule (at least one digit,
the first nine used).

- :func:`uuid`: one record, field by field.
- :func:`uuids`: many records from a pandas DataFrame or a mapping of columns,
  the columns found by name as ``mintbatch --by-name`` finds them.
- :mod:`mint.dask`: the same for a Dask DataFrame (needs dask).

Values: ``None``, a float NaN, ``pandas.NA`` and an empty text are "not
given". Names and SSNs are ``str``; the four numbers of each person are
``int`` (or floats holding whole numbers, as pandas stores numbers in a column
with gaps). A number outside the 32-bit range or a float with a fraction is a
refused value, as mintbatch refuses it. The numbers may also be texts,
judged exactly as mintbatch judges a CSV field. ``key=`` takes a secret
(bytes-like, 16 bytes or more) for keyed identifiers, which only holders of the same
secret can reproduce; ``key_file=`` reads it from a key file, as mintbatch's
``--key-file`` does, and :func:`read_key` gives a key file's secret.
"""
from __future__ import annotations

import os
import sys
import types
import warnings
from collections.abc import Mapping
from typing import TYPE_CHECKING, Any, Literal, Optional, Union, overload

from . import _mint
from ._columns import date_column, number_column, text_column
from ._mint import FIELDS, RecordError, read_key, uuid

__all__ = ["uuid", "uuids", "read_key", "RecordError", "FIELDS", "TEXT_FIELDS", "NUMBER_FIELDS", "CSV_OPTIONS",
           "__version__"]

__version__: str = _mint.__version__

#: The fields whose values are texts: each person's name and SSN.
TEXT_FIELDS: tuple[str, ...] = tuple(name for name in FIELDS if name.endswith(("_name", "_ssn")))
#: The fields whose values are numbers: gender, birth year, month and day.
NUMBER_FIELDS: tuple[str, ...] = tuple(name for name in FIELDS if name not in TEXT_FIELDS)

#: Options for ``pandas.read_csv`` and ``dask.dataframe.read_csv`` that read a
#: CSV file as mintbatch reads it: every column as text (so an SSN keeps its
#: leading zeros, and :func:`uuids` judges the numbers, dates and gender
#: codes exactly as mintbatch does: `` 1970`` or ``1970.0`` is refused, as
#: there), and only empty fields as missing (pandas would otherwise take
#: texts such as "NA" or "null" as missing).
CSV_OPTIONS: Mapping[str, Any] = types.MappingProxyType({
    "dtype": str,
    "keep_default_na": False,
    "na_values": [""],
})

# The fields a column can give, as mintbatch --by-name names them.
_COLUMN_FIELDS: tuple[str, ...] = _mint.COLUMN_FIELDS
_PATIENT_BIRTH = ("patient_birth_year", "patient_birth_month", "patient_birth_day")


if TYPE_CHECKING:
    import pandas

# What key= and key_file= take: any bytes-like object; a path.
Buffer = Union[bytes, bytearray, memoryview]
StrOrBytesPath = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]


# What gender_values= takes: "M=1,F=2", or {"M": 1, "F": 2}.
GenderValues = Union[str, Mapping[str, int]]


@overload
def uuids(data: "pandas.DataFrame", *, columns: Optional[Mapping[str, str]] = None,
          gender_values: Optional[GenderValues] = None, date_format: Optional[str] = None,
          lenient_ssn: bool = False, key: Optional[Buffer] = None, key_file: Optional[StrOrBytesPath] = None,
          errors: Literal["none", "raise"] = "none") -> "pandas.Series": ...


@overload
def uuids(data: Mapping[str, Any], *, columns: Optional[Mapping[str, str]] = None,
          gender_values: Optional[GenderValues] = None, date_format: Optional[str] = None,
          lenient_ssn: bool = False, key: Optional[Buffer] = None, key_file: Optional[StrOrBytesPath] = None,
          errors: Literal["none", "raise"] = "none") -> list[Optional[str]]: ...


def uuids(data: Any, *, columns: Optional[Mapping[str, str]] = None, gender_values: Optional[GenderValues] = None,
          date_format: Optional[str] = None, lenient_ssn: bool = False, key: Optional[Buffer] = None,
          key_file: Optional[StrOrBytesPath] = None, errors: Literal["none", "raise"] = "none") -> Any:
    """The identifiers of many records, one per row.

    ``data`` is a pandas DataFrame or a mapping of column names to sequences
    (lists, numpy arrays, pandas Series), all of one length. Each field's
    column is found by its name as ``mintbatch --by-name`` finds it (see
    ``FIELDS``; ASCII case and surrounding blanks ignored), or named by
    ``columns={FIELD: COLUMN}`` as ``--map`` names it: ``data_record``, and
    ``patient_birth_date`` / ``policy_birth_date`` for one date column in
    place of the three numbers. Other columns are ignored; a field without a
    column is not given in any row, and a warning (UserWarning) names the
    patient's fields that have none. Two columns of one name, a mapped column
    that is not there, one column named for two fields, or a date column
    beside its numbers is a ValueError naming it; with ``columns=`` (even
    ``{}``), so is a missing column for the patient's name, gender or birth.

    Values follow the rules of :func:`uuid`; number columns may also hold
    texts, judged exactly as mintbatch judges a CSV field (so a frame read
    with :data:`CSV_OPTIONS` gives mintbatch's identifiers), a gender also by
    the codes of ``gender_values`` (``"M=1,F=2"`` or ``{"M": 1, "F": 2}``,
    any case, as ``--gender-values``). A date column holds ``datetime64``
    values, ``datetime.date`` objects, or texts in ``date_format`` (as
    ``--date-format``: ``"%Y-%m-%d"`` by default, ``"%d/%m/%Y"``,
    ``"%m/%d/%Y"``, ``"%d.%m.%Y"``, ``"%Y%m%d"``).

    Returns, for a DataFrame, a pandas Series named ``"uuid"`` on the
    DataFrame's index; for a mapping, a list. Each entry is the identifier,
    ``'000000000000'`` when nobody in the record has an SSN, or ``None`` when
    the record is refused. With ``errors="raise"``, the first refused record
    raises :class:`RecordError` instead, its ``row`` being the row's index
    label (DataFrame) or position (mapping).

    ``key`` and ``key_file`` are as for :func:`uuid`: the secret (16 bytes or
    more), or the path of a key file holding it; not both.

    The columns are converted once, and the derivation runs in C with the GIL
    released, so other Python threads go on meanwhile.
    """
    return _derive(data, columns, gender_values, date_format, lenient_ssn, key, key_file, errors, warn=True)


def _gender_values_text(gender_values: Optional[GenderValues]) -> Optional[str]:
    """gender_values as --gender-values takes it (the C interface parses it)."""
    if gender_values is None or isinstance(gender_values, str):
        return gender_values
    if not isinstance(gender_values, Mapping):
        raise TypeError(f"gender_values must be str, a mapping or None, not {type(gender_values).__name__}")
    items = []
    for code, value in gender_values.items():
        # A code holding the list's own separators would read as other codes.
        if not isinstance(code, str) or not code or "=" in code or "," in code:
            raise ValueError(f"gender_values: {code!r} is no code (a non-empty str without '=' or ',')")
        if not isinstance(value, int) or isinstance(value, bool):
            raise TypeError(f"gender_values: the number of {code!r} must be int, not {type(value).__name__}")
        items.append(f"{code}={value}")
    return ",".join(items)


def _missing_patient_fields(column_of: tuple[int, ...]) -> list[str]:
    """The patient's fields no column gives."""
    def has(name: str) -> bool:
        return column_of[_COLUMN_FIELDS.index(name)] >= 0
    missing = [name for name in ("patient_name", "patient_ssn", "patient_gender") if not has(name)]
    if not has("patient_birth_date"):
        parts = [name for name in _PATIENT_BIRTH if not has(name)]
        missing += ["patient_birth_date"] if len(parts) == 3 else parts
    return missing


def _map_columns(labels: list[Any], columns: Optional[dict[str, str]], required: bool) -> tuple[int, ...]:
    """Each column field's position in `labels`, or -1, as mintbatch maps a header."""
    # A header holds at most MOST_COLUMNS names of at most 64 KiB; a wider
    # frame (which worked before columns were mapped by name) is mapped by
    # the columns that can name a field: their names, trimmed and in lower
    # case, are a field's or a mapped column's (a wider choice than the
    # mapping's own, which then decides).
    if len(labels) <= _mint.MOST_COLUMNS and sum(2 * len(str(label).encode("utf-8", "surrogatepass")) + 3
                                                 for label in labels) < 64 * 1024:
        return _mint.map_columns(labels, columns, required=required)
    wanted = set(_COLUMN_FIELDS) | {name.strip(" \t").lower() for name in (columns or {}).values()
                                    if isinstance(name, str)}
    kept = [position for position, label in enumerate(labels)
            if isinstance(label, str) and label.strip(" \t").lower() in wanted]
    found = _mint.map_columns([labels[position] for position in kept], columns, required=required)
    return tuple(kept[position] if position >= 0 else -1 for position in found)


def _derive(data: Any, columns: Optional[Mapping[str, str]], gender_values: Optional[GenderValues],
            date_format: Optional[str], lenient_ssn: bool, key: Optional[Buffer], key_file: Optional[StrOrBytesPath],
            errors: str, warn: bool) -> Any:
    if errors not in ("none", "raise"):
        raise ValueError(f"errors must be 'none' or 'raise', not {errors!r}")
    pandas = sys.modules.get("pandas")
    frame = pandas is not None and isinstance(data, pandas.DataFrame)
    if not frame and not isinstance(data, Mapping):
        raise TypeError(f"data must be a pandas DataFrame or a mapping of columns, not {type(data).__name__}")
    if columns is not None and not isinstance(columns, Mapping):
        raise TypeError(f"columns must be a mapping of fields to column names, not {type(columns).__name__}")
    labels = list(data.columns if frame else data.keys())
    column_of = _map_columns(labels, None if columns is None else dict(columns), columns is not None)
    used = [(field, position) for field, position in zip(_COLUMN_FIELDS, column_of)
            if position >= 0 and field != "data_record"]
    if not used:
        raise ValueError("no column names a record field; the fields are " + ", ".join(FIELDS))
    if warn:
        missing = _missing_patient_fields(column_of)
        if missing:
            ignored = [repr(label) for position, label in enumerate(labels) if position not in column_of]
            warnings.warn("mint.uuids: no column for " + ", ".join(missing) + ", which no record then has"
                          + ("; columns not named after a field are ignored: " + ", ".join(ignored[:20])
                             + (", ..." if len(ignored) > 20 else "") if ignored else "")
                          + ". Name a field's column with columns={FIELD: COLUMN}.", UserWarning, stacklevel=3)

    def column(position: int) -> Any:
        return data.iloc[:, position] if frame else data[labels[position]]

    rows = len(data) if frame else len(column(used[0][1]))
    given: dict[str, Any] = {}
    for field, position in used:
        values = column(position)
        if field in ("patient_birth_date", "policy_birth_date"):
            parts = date_column(field, values)
            if isinstance(parts, tuple):
                # datetime64 values, taken apart here: the three number columns.
                for name, part in zip([field.replace("date", p) for p in ("year", "month", "day")], parts):
                    given[name] = part
            else:
                given[field] = parts
        else:
            convert = text_column if field in TEXT_FIELDS else number_column
            given[field] = convert(field, values)
    identifiers = _mint.derive_columns(given, rows, lenient_ssn=lenient_ssn, key=key, key_file=key_file,
                                       raise_refused=errors == "raise", index=data.index if frame else None,
                                       gender_values=_gender_values_text(gender_values), date_format=date_format)
    if frame:
        return pandas.Series(identifiers, index=data.index, name="uuid", dtype=object)
    return identifiers
