# The kernel routines of pyorvex.planning (private: call the functions of pyorvex.planning).
from typing import Tuple

import numpy as np
import numpy.typing as npt

_Array = npt.NDArray[np.float64]

def interpolate(
    times: _Array,
    values: _Array,
    p: int,
    start: _Array,
    stop: _Array,
    knots: _Array,
    coefs: _Array,
    tolerance: float,
) -> None: ...
def extrema(knots: _Array, cpts: _Array, p: int, nu: int) -> Tuple[float, float, float, float]: ...
def derivatives(
    knots: _Array, cpts: _Array, p: int, x: _Array, first: int, last: int, out: _Array
) -> None: ...
