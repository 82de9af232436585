"""Checks shared by the planning functions: the trajectory's arrays, orders and numbers."""

from __future__ import annotations

import math
import numbers
from typing import Any, NamedTuple

import numpy as np
import numpy.typing as npt

from .._factory import _integer, _require_finite
from ..curvekit import MAX_DEGREE
from ..defdatastruct import Trajectory1d


class Spline(NamedTuple):
    """A private copy of a trajectory's data, checked for the kernel: the control points of a
    multi-axis motion (axes true) as rows of dof, flattened."""

    knots: npt.NDArray[np.float64]
    cpts: npt.NDArray[np.float64]
    p: int
    order: int
    dof: int = 1
    axes: bool = False


def check_degree(p: int) -> None:
    if p > MAX_DEGREE:
        raise ValueError(f"degree {p} exceeds the maximum supported degree {MAX_DEGREE}")


def multiaxis_type() -> Any:
    """The multi-axis motion type (its module loads on first use)."""
    from ..multiaxis import TrajectoryNd

    return TrajectoryNd


def spline_of(traj: Any, name: str = "traj") -> Spline:
    """The knots, control points, degree and order of a trajectory or a multi-axis motion, copied
    (the kernel then works on memory nothing else can change) and checked: a domain that is not
    empty, finite knots that do not decrease, finite control points, a degree the kernel
    computes with."""
    nd = None if isinstance(traj, Trajectory1d) else multiaxis_type()
    if nd is None:
        cls: Any = Trajectory1d
    elif isinstance(traj, nd):
        cls = nd
    else:
        raise TypeError(
            f"'{name}' must be a Trajectory1d or a TrajectoryNd, got {type(traj).__name__}"
        )
    # The built-in accessors: a subclass's overrides do not decide what the kernel reads.
    knots = cls.get_knotvector_asarray(traj)
    cpts = cls.get_cpts_asarray(traj)
    if knots is None or cpts is None or cpts.size == 0:
        raise ValueError(f"'{name}' holds no data (an empty {cls.__name__})")
    axes = cls is nd
    spline = Spline(
        np.array(knots, dtype=np.float64),
        np.array(cpts, dtype=np.float64).reshape(-1),
        traj.p,
        traj.order,
        cpts.shape[1] if axes else 1,
        axes,
    )
    check_degree(spline.p)
    _require_finite(spline.knots, "knots")
    if np.any(np.diff(spline.knots) < 0) or not spline.knots[0] < spline.knots[-1]:
        raise ValueError(f"'{name}' has knots that decrease or an empty domain")
    _require_finite(spline.cpts, "cpts")
    return spline


def real_array(values: Any, name: str, max_ndim: int) -> npt.NDArray[np.float64]:
    """A private float64 copy of an array of real numbers of 1..max_ndim dimensions."""
    arr = np.asarray(values)
    if arr.dtype.kind == "O":
        flat = arr.ravel()
        for i, v in enumerate(flat):
            if not isinstance(v, numbers.Real):
                raise TypeError(f"'{name}' must hold real numbers, got {v!r} at index {i}")
        arr = np.array([float(v) for v in flat], dtype=np.float64).reshape(arr.shape)
    elif arr.dtype.kind not in "biuf":
        raise TypeError(f"'{name}' must hold real numbers, got an array of dtype {arr.dtype}")
    if not 1 <= arr.ndim <= max_ndim:
        dims = "one-dimensional" if max_ndim == 1 else f"of 1 to {max_ndim} dimensions"
        raise ValueError(f"'{name}' must be {dims}, got {arr.ndim} dimensions")
    return np.array(arr, dtype=np.float64, order="C")


def order_of(value: object, name: str) -> int:
    """A derivative order: a non-negative integer."""
    nu = _integer(value, name)
    if nu < 0:
        raise ValueError(f"'{name}' must be non-negative, got {nu}")
    return nu


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
    x = positive(value, name)
    if not math.isfinite(x):
        raise ValueError(f"'{name}' must be finite, got {x}")
    return x
