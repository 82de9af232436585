# The kernel routines of pyorvex.planning (private: call the functions of pyorvex.planning).
from typing import Any

import numpy as np
import numpy.typing as npt

_Array = npt.NDArray[np.float64]

def interpolate(
    times: _Array,
    values: _Array,
    dof: int,
    p: int,
    start: _Array,
    stop: _Array,
    knots: _Array,
    coefs: _Array,
    tolerance: float,
) -> None: ...
def extrema(knots: _Array, cpts: _Array, dof: int, p: int, nus: _Array, out: _Array) -> None: ...
def peak_ratio(
    knots: _Array, cpts: _Array, dof: int, p: int, nu: int, limits: _Array
) -> tuple[float, bool]: ...
def settle(
    knots: _Array,
    cpts: _Array,
    dof: int,
    p: int,
    order: int,
    qs: _Array,
    limits: _Array,
    exact: float,
    start: float,
    out_knots: _Array,
    out_cpts: _Array,
) -> tuple[float, float, bool]: ...
def derivatives(
    knots: _Array, cpts: _Array, dof: int, p: int, x: _Array, first: int, last: int, out: _Array
) -> None: ...
def optimal_size(knots: _Array, p: int, dof: int, grid: int) -> tuple[int, int, int]: ...
def retime_optimal(
    knots: _Array,
    cpts: _Array,
    dof: int,
    p: int,
    velocity: _Array,
    acceleration: _Array,
    shrink: _Array,
    grid: int,
    speeds: _Array,
    out_knots: _Array,
    out_coefs: _Array,
    out_profile: _Array | None = None,
    smooth: int = 1,
) -> tuple[float, bool]: ...
def smooth_size(nknots: int, p: int, dof: int, segments: int) -> tuple[int, int, int]: ...
def smooth_time(
    knots: _Array,
    cpts: _Array,
    dof: int,
    p: int,
    profile: _Array,
    tau: float,
    out_knots: _Array,
    out_coefs: _Array,
) -> tuple[int, float]: ...
def spline_ok(knots: _Array, cpts: _Array) -> bool: ...
def retime_direct(
    trajs: object, velocity: object, acceleration: object, jerk: object, factor: bool
) -> Any: ...
def interpolate_direct(
    times: object,
    values: object,
    p: object,
    start: object,
    stop: object,
    order: object,
    tolerance: float,
) -> Any: ...
def extrema_direct(traj: object, nu: object, peak: bool) -> Any: ...
