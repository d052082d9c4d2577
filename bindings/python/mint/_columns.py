"""Turns columns into what the C module reads fastest: lists of values for
the text fields, contiguous 32-bit integer arrays for the number fields
(computed with numpy, when it is there, instead of value by value)."""
from __future__ import annotations

from typing import Any

from ._mint import NOT_GIVEN, REFUSED_NUMBER

INT32_MIN = -(2 ** 31)
INT32_MAX = 2 ** 31 - 1


def text_column(name: str, values: Any) -> Any:
    """A sequence of the column's values; the C module checks each one."""
    if isinstance(values, (list, tuple)):
        return values
    tolist = getattr(values, "tolist", None)  # numpy arrays and pandas Series, at C speed
    return tolist() if tolist is not None else list(values)


def number_column(name: str, values: Any) -> Any:
    """An int32 numpy array (NOT_GIVEN where missing, REFUSED_NUMBER where
    the value cannot be a field's value), or a sequence of values for the C
    module to convert one by one (plain lists, object columns, no numpy)."""
    if isinstance(values, (list, tuple)):
        return values
    try:
        import numpy
    except ImportError:
        return list(values)
    dtype = getattr(values, "dtype", None)
    if dtype is not None and not isinstance(dtype, numpy.dtype) and dtype.kind in "iu":
        # A pandas nullable integer column: its gaps become NaN. Numbers
        # beyond 2**53 lose precision, but they are out of range anyway.
        values = values.to_numpy(dtype="float64", na_value=numpy.nan)
    array = numpy.asarray(values)
    if array.ndim != 1:
        raise ValueError(f"column {name} must be one-dimensional")
    kind = array.dtype.kind
    if kind in "iu":
        given = (array > INT32_MIN) & (array <= INT32_MAX)
        return numpy.where(given, array, REFUSED_NUMBER).astype(numpy.int32)
    if kind == "f":
        result = numpy.full(array.shape, REFUSED_NUMBER, dtype=numpy.int32)
        with numpy.errstate(invalid="ignore"):
            whole = (array > INT32_MIN) & (array <= INT32_MAX) & (numpy.floor(array) == array)
        result[whole] = array[whole].astype(numpy.int32)
        result[numpy.isnan(array)] = NOT_GIVEN
        return result
    if kind == "O":
        return array.tolist()
    raise TypeError(f"column {name} must hold numbers, not {array.dtype} values")
