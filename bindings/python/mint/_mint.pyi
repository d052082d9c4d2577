# The C extension under the mint package.
from typing import Any, Optional, Sequence

__version__: str
FIELDS: tuple[str, ...]

class RecordError(ValueError):
    field: Optional[str]
    reason: Optional[str]
    row: Any

def uuid(
    patient_name: Optional[str] = None,
    patient_ssn: Optional[str] = None,
    patient_gender: Optional[float] = None,
    patient_birth_year: Optional[float] = None,
    patient_birth_month: Optional[float] = None,
    patient_birth_day: Optional[float] = None,
    policy_name: Optional[str] = None,
    policy_ssn: Optional[str] = None,
    policy_gender: Optional[float] = None,
    policy_birth_year: Optional[float] = None,
    policy_birth_month: Optional[float] = None,
    policy_birth_day: Optional[float] = None,
    *,
    lenient_ssn: bool = False,
    key: Optional[bytes] = None,
) -> str: ...

def derive_columns(
    columns: dict[str, Any],
    rows: int,
    /,
    *,
    lenient_ssn: bool = False,
    key: Optional[bytes] = None,
    raise_refused: bool = False,
    index: Optional[Sequence[Any]] = None,
) -> list[Optional[str]]: ...
