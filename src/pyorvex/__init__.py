"""pyorvex: data types for trajectory planning (B-spline trajectories and constraint points)."""

import os as _os
from typing import TYPE_CHECKING, Any

__version__ = "0.1.0"

from ._factory import make_trajectory  # noqa: E402

# The planning toolkit's names, imported on first use: importing pyorvex alone must not load
# the extension modules (pyorvex.curvekit is imported on its own, before defdatastruct binds it).
_PLANNING = (
    "derivatives",
    "extrema",
    "from_scipy",
    "interpolate",
    "limits_report",
    "peak",
    "retime",
    "retime_optimal",
    "sample",
    "time_scale",
    "to_scipy",
)

if TYPE_CHECKING:
    from .multiaxis import TrajectoryNd
    from .planning import (
        derivatives,
        extrema,
        from_scipy,
        interpolate,
        limits_report,
        peak,
        retime,
        retime_optimal,
        sample,
        time_scale,
        to_scipy,
    )

__all__ = [
    "make_trajectory",
    "TrajectoryNd",
    "get_include",
    "__version__",
    "derivatives",
    "extrema",
    "from_scipy",
    "interpolate",
    "limits_report",
    "peak",
    "retime",
    "retime_optimal",
    "sample",
    "time_scale",
    "to_scipy",
]


def get_include() -> str:
    """Return the directory that holds ``pyorvex/defdatastruct.h``.

    Native modules that call the C-level interface of :mod:`pyorvex.defdatastruct` add this
    directory to their include path, as they would NumPy's ``numpy.get_include()``.
    """
    return _os.path.join(_os.path.dirname(__file__), "include")


def __getattr__(name: str) -> Any:
    if name == "TrajectoryNd":
        from .multiaxis import TrajectoryNd

        return TrajectoryNd
    if name in _PLANNING:
        from . import planning

        return getattr(planning, name)
    raise AttributeError(f"module 'pyorvex' has no attribute {name!r}")
