"""Turns columns into what the C module reads fastest: lists of values for
the text fields; numpy's numeric arrays as they are for the number fields,
which the C module reads without copying."""
from __future__ import annotations

from typing import Any, Union


def text_column(name: str, values: Any) -> Any:
    """A sequence of the column's values; the C module checks each one."""
    if isinstance(values, (list, tuple)):
        return values
    tolist = getattr(values, "tolist", None)  # numpy arrays and pandas Series, at C speed
    return tolist() if tolist is not None else list(values)


def number_column(name: str, values: Any) -> Any:
    """A one-dimensional numeric numpy array (the C module reads integers and
    floats, NaN as not given), or a sequence of values for it to convert one
    by one (plain lists, object columns, or no numpy)."""
    if isinstance(values, (list, tuple)):
        return values
    try:
        import numpy
    except ImportError:
        return list(values)
    dtype = getattr(values, "dtype", None)
    if dtype is not None and not isinstance(dtype, numpy.dtype) and dtype.kind in "iuf":
        # A pandas nullable number column: its gaps become NaN. Integers
        # beyond 2**53 lose precision, but they are out of range anyway.
        values = values.to_numpy(dtype="float64", na_value=numpy.nan)
    array = numpy.asarray(values)
    kind = array.dtype.kind
    if kind in "iuf" and array.dtype.itemsize <= 8 and array.dtype != numpy.float16:
        if not array.dtype.isnative:
            array = array.astype(array.dtype.newbyteorder("="))
        return numpy.ascontiguousarray(array)
    if kind in "OU":
        # Objects, and texts (which the C module judges as mintbatch does).
        return array.tolist()
    raise TypeError(f"column {name} must hold numbers, not {array.dtype} values")


def date_column(name: str, values: Any) -> Union[tuple[Any, Any, Any], Any]:
    """A date column: for numpy datetime64 values, their year, month and day
    as three float arrays (NaT as NaN, a time of day dropped); otherwise a
    sequence of its values (dates, texts), which the C module reads."""
    dtype = getattr(values, "dtype", None)
    numpy = None
    if dtype is not None:
        try:
            import numpy
        except ImportError:
            numpy = None
    if numpy is None or not isinstance(dtype, numpy.dtype) or dtype.kind != "M":
        # pandas' dates with a time zone are Timestamps, each on its own date.
        return text_column(name, values)
    days = numpy.asarray(values).astype("datetime64[D]")
    missing = numpy.isnat(days)
    months = days.astype("datetime64[M]")
    parts = (days.astype("datetime64[Y]").astype("int64") + 1970, months.astype("int64") % 12 + 1,
             (days - months).astype("int64") + 1)
    return tuple(numpy.where(missing, numpy.nan, part.astype("float64")) for part in parts)
