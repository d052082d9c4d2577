# The C extension under the mint package.
import os
from typing import Any, Optional, Sequence, Union

# What key= and key_file= take: any bytes-like object; a path as str, bytes or os.PathLike.
Buffer = Union[bytes, bytearray, memoryview]
StrOrBytesPath = Union[str, bytes, os.PathLike[str], os.PathLike[bytes]]

__version__: str
FIELDS: tuple[str, ...]
# The fields a column can give: data_record, the twelve FIELDS, patient_birth_date, policy_birth_date.
COLUMN_FIELDS: tuple[str, ...]
# The most columns map_columns maps (with at most 64 KiB of names).
MOST_COLUMNS: int

class RecordError(ValueError):
    field: Optional[str]
    reason: Optional[str]
    row: Any

def uuid(
    patient_name: Optional[str] = None,
    patient_ssn: Optional[str] = None,
    patient_gender: Union[float, str, None] = None,
    patient_birth_year: Union[float, str, None] = None,
    patient_birth_month: Union[float, str, None] = None,
    patient_birth_day: Union[float, str, None] = None,
    policy_name: Optional[str] = None,
    policy_ssn: Optional[str] = None,
    policy_gender: Union[float, str, None] = None,
    policy_birth_year: Union[float, str, None] = None,
    policy_birth_month: Union[float, str, None] = None,
    policy_birth_day: Union[float, str, None] = None,
    *,
    lenient_ssn: bool = False,
    key: Optional[Buffer] = None,
    key_file: Optional[StrOrBytesPath] = None,
) -> str: ...

def read_key(path: StrOrBytesPath, /) -> bytes: ...

def derive_columns(
    columns: dict[str, Any],
    rows: int,
    /,
    *,
    lenient_ssn: bool = False,
    key: Optional[Buffer] = None,
    raise_refused: bool = False,
    index: Optional[Sequence[Any]] = None,
    key_file: Optional[StrOrBytesPath] = None,
    gender_values: Optional[str] = None,
    date_format: Optional[str] = None,
) -> list[Optional[str]]: ...

def map_columns(
    names: Sequence[Any],
    mapped: Optional[dict[str, str]] = None,
    /,
    *,
    required: bool = True,
) -> tuple[int, ...]: ...
