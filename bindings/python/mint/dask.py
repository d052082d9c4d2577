"""Identifiers for a Dask DataFrame, partition by partition on the cluster.

Importable only where dask and pandas are installed. The workers need the
``mint`` package too (installed, or on their PYTHONPATH).
"""
from __future__ import annotations

from typing import Literal, Mapping, Optional

import dask.dataframe
import pandas

from . import Buffer, GenderValues, StrOrBytesPath, _derive, _gender_values_text, read_key, uuid

__all__ = ["uuids"]


def _with_identifiers(partition: pandas.DataFrame, column: str, columns: Optional[dict], gender_values: Optional[str],
                      date_format: Optional[str], lenient_ssn: bool, key: Optional[Buffer],
                      errors: str) -> pandas.DataFrame:
    # Warned once, where the graph was built; not again for every partition.
    identifiers = _derive(partition, columns, gender_values, date_format, lenient_ssn, key, None, errors, warn=False)
    return partition.assign(**{column: identifiers})


def uuids(ddf: dask.dataframe.DataFrame, *, column: str = "uuid", columns: Optional[Mapping[str, str]] = None,
          gender_values: Optional[GenderValues] = None, date_format: Optional[str] = None,
          lenient_ssn: bool = False, key: Optional[Buffer] = None, key_file: Optional[StrOrBytesPath] = None,
          errors: Literal["none", "raise"] = "none") -> dask.dataframe.DataFrame:
    """``ddf`` with a column ``column`` (default ``"uuid"``) of identifiers added,
    computed lazily with :func:`mint.uuids` on each partition (same options,
    same rules; an existing column of that name is replaced). The columns
    are mapped, and a mapping problem raised or warned of, here, at once.

    The column is of object dtype: the identifier, ``'000000000000'``, or
    ``None`` for a refused record. With ``errors="raise"`` computing the result
    raises :class:`mint.RecordError` for a refused record; its ``row`` is the
    label within the partition's index. A ``key`` is sent to the workers with
    the tasks; ``key_file`` names a key file that is read here, at once,
    and its secret sent as a ``key`` is (the workers need no access to it).
    """
    if not isinstance(ddf, dask.dataframe.DataFrame):
        raise TypeError(f"ddf must be a dask DataFrame, not {type(ddf).__name__}")
    if errors not in ("none", "raise"):
        raise ValueError(f"errors must be 'none' or 'raise', not {errors!r}")
    # The mapping's errors and warning, from an empty frame of the same columns.
    _derive(ddf._meta.iloc[:0], columns, gender_values, date_format, lenient_ssn, None, None, errors, warn=True)
    columns = None if columns is None else dict(columns)
    gender_values = _gender_values_text(gender_values)
    if key_file is not None:
        if key is not None:
            raise TypeError("give key= or key_file=, not both")
        key = read_key(key_file)
    elif key is not None:
        uuid(key=key)  # a key that cannot be used is refused here, not on every worker
    meta = {**ddf.dtypes.to_dict(), column: object}
    return ddf.map_partitions(_with_identifiers, column, columns, gender_values, date_format, lenient_ssn, key, errors,
                              meta=meta)
