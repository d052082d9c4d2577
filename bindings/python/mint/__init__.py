"""Deterministic 12-character patient identifiers, derived with SHA-256.

The same fields give the same identifier here as in mintbatch, mintsolo and
every other interface of mint. An SSN must have exactly nine digits unless
``lenient_ssn=True`` asks for the shared library's rule (at least one digit,
the first nine used).

- :func:`uuid`: one record, field by field.
- :func:`uuids`: many records from a pandas DataFrame or a mapping of columns.
- :mod:`mint.dask`: the same for a Dask DataFrame (needs dask).

Values: ``None``, a float NaN, ``pandas.NA`` and an empty text are "not
given". Names and SSNs are ``str``; the four numbers of each person are
``int`` (or floats holding whole numbers, as pandas stores numbers in a column
with gaps). A number outside the 32-bit range or a float with a fraction is a
refused value, as mintbatch refuses it. ``key=`` takes a secret (bytes-like,
16 bytes or more) for keyed identifiers, which only holders of the same
secret can reproduce; ``key_file=`` reads it from a key file, as mintbatch's
``--key-file`` does, and :func:`read_key` gives a key file's secret.
"""
from __future__ import annotations

import os
import sys
import types
from collections.abc import Mapping
from typing import TYPE_CHECKING, Any, Literal, Optional, Union, overload

from . import _mint
from ._columns import number_column, text_column
from ._mint import FIELDS, RecordError, read_key, uuid

__all__ = ["uuid", "uuids", "read_key", "RecordError", "FIELDS", "TEXT_FIELDS", "NUMBER_FIELDS", "CSV_OPTIONS",
           "__version__"]

__version__: str = _mint.__version__

#: The fields whose values are texts: each person's name and SSN.
TEXT_FIELDS: tuple[str, ...] = tuple(name for name in FIELDS if name.endswith(("_name", "_ssn")))
#: The fields whose values are numbers: gender, birth year, month and day.
NUMBER_FIELDS: tuple[str, ...] = tuple(name for name in FIELDS if name not in TEXT_FIELDS)

#: Options for ``pandas.read_csv`` and ``dask.dataframe.read_csv`` that read a
#: mintbatch input file as mintbatch reads it: names and SSNs as texts (so an
#: SSN keeps its leading zeros), numbers as integers with gaps (written back
#: as they were read), and only empty fields as missing (pandas would
#: otherwise take texts such as "NA" or "null" as missing).
CSV_OPTIONS: Mapping[str, Any] = types.MappingProxyType({
    "dtype": {**{name: str for name in ("data_record",) + TEXT_FIELDS},
              **{name: "Int64" for name in NUMBER_FIELDS}},
    "keep_default_na": False,
    "na_values": [""],
})


if TYPE_CHECKING:
    import pandas

# What key= and key_file= take: any bytes-like object; a path.
Buffer = Union[bytes, bytearray, memoryview]
StrOrBytesPath = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]


@overload
def uuids(data: "pandas.DataFrame", *, lenient_ssn: bool = False, key: Optional[Buffer] = None,
          key_file: Optional[StrOrBytesPath] = None, errors: Literal["none", "raise"] = "none") -> "pandas.Series": ...


@overload
def uuids(data: Mapping[str, Any], *, lenient_ssn: bool = False, key: Optional[Buffer] = None,
          key_file: Optional[StrOrBytesPath] = None,
          errors: Literal["none", "raise"] = "none") -> list[Optional[str]]: ...


def uuids(data: Any, *, lenient_ssn: bool = False, key: Optional[Buffer] = None,
          key_file: Optional[StrOrBytesPath] = None, errors: Literal["none", "raise"] = "none") -> Any:
    """The identifiers of many records, one per row.

    ``data`` is a pandas DataFrame or a mapping of column names to sequences
    (lists, numpy arrays, pandas Series), all of one length. Columns are named
    as in mintbatch's CSV header (see ``FIELDS``); a missing column is a field
    not given in any row, and other columns are ignored. Values follow the
    rules of :func:`uuid`.

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
    if errors not in ("none", "raise"):
        raise ValueError(f"errors must be 'none' or 'raise', not {errors!r}")
    pandas = sys.modules.get("pandas")
    frame = pandas is not None and isinstance(data, pandas.DataFrame)
    if not frame and not isinstance(data, Mapping):
        raise TypeError(f"data must be a pandas DataFrame or a mapping of columns, not {type(data).__name__}")
    names = [name for name in FIELDS if name in data]
    if not names:
        raise ValueError("no column names a record field; the fields are " + ", ".join(FIELDS))
    if frame:
        rows = len(data)
    else:
        rows = len(data[names[0]])
    columns = {}
    for name in names:
        convert = text_column if name in TEXT_FIELDS else number_column
        columns[name] = convert(name, data[name])
    identifiers = _mint.derive_columns(columns, rows, lenient_ssn=lenient_ssn, key=key, key_file=key_file,
                                       raise_refused=errors == "raise", index=data.index if frame else None)
    if frame:
        return pandas.Series(identifiers, index=data.index, name="uuid", dtype=object)
    return identifiers
