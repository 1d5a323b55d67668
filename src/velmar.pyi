"""Python module for TextGrid file manipulation."""

from collections.abc import Sequence
from typing import SupportsFloat, SupportsIndex, final

import numpy as np
import numpy.typing as npt

__all__ = [
    "textgrid2vectors",
    "textgrids2vectors",
    "textgrid2data",
    "textgrids2data",
    "data2textgrid",
    "vectors2textgrid",
    "textgrids2arrow",
    "textgrid2arrow",
    "set_num_threads",
    "get_num_threads",
    "release_memory",
    "text2data",
    "text2vectors",
    "data2text",
    "vectors2text",
    "data2textgrids",
    "vectors2textgrids",
]

_Float = SupportsFloat | SupportsIndex
_Floats = npt.NDArray[np.float64]
_Bools = npt.NDArray[np.bool_]
_Flag = bool | np.bool_
_Item = tuple[float, float, str]
_Tier = tuple[str, bool, list[_Item]]
_TextGridData = tuple[float, float, list[_Tier]]
_TierInput = tuple[str, _Flag, Sequence[tuple[_Float, _Float, str]]]
_Content = str | bytes | bytearray | memoryview
_FloatColumn = Sequence[_Float] | npt.NDArray[np.floating]
_FlagColumn = Sequence[_Flag] | _Bools

def textgrid2vectors(
    file: str, strict: _Flag, file_type: str
) -> tuple[_Floats, _Floats, list[str], list[str], _Bools]: ...
def textgrids2vectors(
    files: Sequence[str], strict: _Flag, file_type: str
) -> tuple[_Floats, _Floats, list[str], list[str], _Bools, npt.NDArray[np.uint32]]: ...
def textgrid2data(file: str, strict: _Flag, file_type: str) -> _TextGridData: ...
def textgrids2data(files: Sequence[str], strict: _Flag, file_type: str) -> list[_TextGridData]: ...
def data2textgrid(
    data: Sequence[_TierInput],
    tmin: _Float | None,
    tmax: _Float | None,
    output_file: str,
    file_type: str,
) -> None: ...
def vectors2textgrid(
    tmins: Sequence[_Float] | npt.NDArray[np.floating],
    tmaxs: Sequence[_Float] | npt.NDArray[np.floating],
    labels: Sequence[str],
    tier_names: Sequence[str],
    is_intervals: Sequence[_Flag] | _Bools,
    tmin: _Float | None,
    tmax: _Float | None,
    output_file: str,
    file_type: str,
) -> None: ...

@final
class TextGridTable:
    """Rows as an Arrow table (file, tier, is_interval, tmin, tmax, label), taken by
    any consumer of the Arrow PyCapsule interface."""

    def __arrow_c_stream__(self, requested_schema: object | None = None) -> object: ...  # a PyCapsule
    def __arrow_c_array__(
        self, requested_schema: object | None = None
    ) -> tuple[object, object]: ...  # PyCapsules
    def __len__(self) -> int: ...

def textgrids2arrow(files: Sequence[str], strict: _Flag, file_type: str) -> TextGridTable: ...
def textgrid2arrow(file: str, strict: _Flag, file_type: str) -> TextGridTable: ...
def set_num_threads(n: SupportsIndex) -> None: ...
def get_num_threads() -> int: ...
def release_memory() -> int: ...
def text2data(text: _Content, strict: _Flag, file_type: str) -> _TextGridData: ...
def text2vectors(
    text: _Content, strict: _Flag, file_type: str
) -> tuple[_Floats, _Floats, list[str], list[str], _Bools]: ...
def data2text(
    data: Sequence[_TierInput], tmin: _Float | None, tmax: _Float | None, file_type: str
) -> str: ...
def vectors2text(
    tmins: _FloatColumn,
    tmaxs: _FloatColumn,
    labels: Sequence[str],
    tier_names: Sequence[str],
    is_intervals: _FlagColumn,
    tmin: _Float | None,
    tmax: _Float | None,
    file_type: str,
) -> str: ...
def data2textgrids(
    documents: Sequence[tuple[Sequence[_TierInput], _Float | None, _Float | None]],
    output_files: Sequence[str],
    file_type: str,
) -> list[str | None]: ...
def vectors2textgrids(
    tmins: _FloatColumn,
    tmaxs: _FloatColumn,
    labels: Sequence[str],
    tier_names: Sequence[str],
    is_intervals: _FlagColumn,
    file_ids: Sequence[SupportsIndex] | npt.NDArray[np.integer],
    output_files: Sequence[str],
    file_type: str,
) -> list[str | None]: ...
