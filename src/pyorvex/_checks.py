"""The argument checks of pyorvex's Python side and their messages, one holder for each: the
factory, the planning toolkit and the command line all check through here."""

from __future__ import annotations

import math
import numbers
import operator
from typing import Any, List

import numpy as np
import numpy.typing as npt

UINT_MAX = 2**32 - 1


def integer(value: object, name: str) -> int:
    """An integer (not a bool): TypeError naming the argument otherwise."""
    if isinstance(value, bool):
        raise TypeError(f"'{name}' must be an integer, got bool")
    try:
        return operator.index(value)  # type: ignore[arg-type]
    except TypeError:
        raise TypeError(f"'{name}' must be an integer, got {type(value).__name__}") from None


def check_order(order: int) -> None:
    """The derivative order a trajectory describes: 0 to UINT_MAX."""
    if order < 0:
        raise ValueError(f"'order' must be non-negative, got {order}")
    if order > UINT_MAX:
        raise OverflowError(f"'order' must be at most {UINT_MAX}, got {order}")


def order_of(value: object, name: str) -> int:
    """A derivative order asked for: a non-negative integer."""
    nu = integer(value, name)
    if nu < 0:
        raise ValueError(f"'{name}' must be non-negative, got {nu}")
    return nu


_MAX_DEGREE: List[int] = []


def max_degree() -> int:
    """The kernel's maximum degree. (The kernel's module loads here, on first use: importing
    pyorvex alone loads no extension module; later calls take the value kept.)"""
    if not _MAX_DEGREE:
        from .curvekit import MAX_DEGREE

        _MAX_DEGREE.append(int(MAX_DEGREE))
    return _MAX_DEGREE[0]


def check_degree(p: int) -> None:
    """A degree the kernel computes with."""
    if p > max_degree():
        raise ValueError(f"degree {p} exceeds the maximum supported degree {max_degree()}")


def require_finite(values: npt.NDArray[Any], name: str) -> None:
    """Every entry finite: ValueError naming the first one that is not, by its index."""
    if not np.all(np.isfinite(values)):
        bad = tuple(int(i) for i in np.argwhere(~np.isfinite(values))[0])
        where = ", ".join(map(str, bad))
        raise ValueError(f"'{name}' must be finite: {name}[{where}] = {values[bad]}")


def real_array(values: npt.ArrayLike, name: str) -> npt.NDArray[Any]:
    """An array of real numbers (Python numbers of other kinds converted to float)."""
    arr = np.asarray(values)
    if arr.dtype.kind == "O":  # Python numbers of other kinds (Fraction, Decimal, ...); not None
        flat = arr.ravel()
        for i, v in enumerate(flat):
            if not isinstance(v, numbers.Real):
                raise TypeError(f"'{name}' must hold real numbers, got {v!r} at index {i}")
        arr = np.array([float(v) for v in flat], dtype=np.float64).reshape(arr.shape)
    elif arr.dtype.kind not in "biuf":
        raise TypeError(f"'{name}' must hold real numbers, got an array of dtype {arr.dtype}")
    return arr


def vector(values: npt.ArrayLike, name: str) -> npt.NDArray[np.float64]:
    """A one-dimensional, C-contiguous float64 array (the input itself when it is one)."""
    arr = real_array(values, name)
    if arr.ndim != 1:
        raise ValueError(f"'{name}' must be one-dimensional, got {arr.ndim} dimensions")
    return np.ascontiguousarray(arr, dtype=np.float64)


def private_array(values: npt.ArrayLike, name: str, max_ndim: int) -> npt.NDArray[np.float64]:
    """A private float64 copy of an array of real numbers of 1..max_ndim dimensions: another
    thread may rewrite the caller's array meanwhile."""
    arr = real_array(values, name)
    if not 1 <= arr.ndim <= max_ndim:
        dims = "one-dimensional" if max_ndim == 1 else f"of 1 to {max_ndim} dimensions"
        raise ValueError(f"'{name}' must be {dims}, got {arr.ndim} dimensions")
    return np.array(arr, dtype=np.float64, order="C")


def real(value: object, name: str) -> float:
    """A real number (not a bool, not a string that float() would read)."""
    if isinstance(value, bool) or not isinstance(value, (numbers.Real, np.floating, np.integer)):
        raise TypeError(f"'{name}' must be a real number, got {type(value).__name__}")
    return float(value)


def positive(value: object, name: str) -> float:
    """A real number above zero; infinity is allowed where it means "no bound"."""
    x = real(value, name)
    if not x > 0.0:
        raise ValueError(f"'{name}' must be positive, got {x}")
    return x


def finite_positive(value: object, name: str) -> float:
    """A real number above zero and finite."""
    x = positive(value, name)
    if not math.isfinite(x):
        raise ValueError(f"'{name}' must be finite, got {x}")
    return x
