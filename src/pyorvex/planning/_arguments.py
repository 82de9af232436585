"""The trajectory data the planning functions hand to the kernel, checked; the argument checks
they share come from pyorvex._checks."""

from __future__ import annotations

from typing import Any, NamedTuple

import numpy as np
import numpy.typing as npt

from .._checks import (  # noqa: F401 (the checks the toolkit's files take from here)
    check_degree,
    finite_positive,
    order_of,
    positive,
    private_array,
    real,
    require_finite,
)
from ..defdatastruct import Trajectory1d
from . import _kernel


class Spline(NamedTuple):
    """A private copy of a trajectory's data, checked for the kernel: the control points of a
    multi-axis motion (axes true) as rows of dof, flattened."""

    knots: npt.NDArray[np.float64]
    cpts: npt.NDArray[np.float64]
    p: int
    order: int
    dof: int = 1
    axes: bool = False


_MULTIAXIS: Any = None


def multiaxis_type() -> Any:
    """The multi-axis motion type (its module loads on first use)."""
    global _MULTIAXIS
    if _MULTIAXIS is None:
        from ..multiaxis import TrajectoryNd

        _MULTIAXIS = TrajectoryNd
    return _MULTIAXIS


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
    if _kernel.spline_ok(spline.knots, spline.cpts):
        return spline
    # One of the checks below fails: they word the refusal.
    require_finite(spline.knots, "knots")
    if np.any(np.diff(spline.knots) < 0) or not spline.knots[0] < spline.knots[-1]:
        raise ValueError(f"'{name}' has knots that decrease or an empty domain")
    require_finite(spline.cpts, "cpts")
    return spline
