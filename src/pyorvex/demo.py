"""A guided tour: a point-to-point move built, edited, constrained, saved, loaded and plotted.

``pyorvex demo [--out DIR]`` runs it; the source reads as an example of the whole API.
"""

from __future__ import annotations

import os
from typing import TYPE_CHECKING, List, Optional, Tuple

import numpy as np

from . import make_trajectory

if TYPE_CHECKING:
    from .defdatastruct import Trajectory1d


def minimum_jerk(start: float, stop: float, t0: float, t1: float) -> Trajectory1d:
    """The minimum-jerk move from `start` to `stop` over [t0, t1], at rest at both ends.

    It is the quintic 10 s^3 - 15 s^4 + 6 s^5 in the normalised time s; as a degree-5 B-spline
    with no interior knot its control points are three copies of each end position, which
    makes velocity and acceleration vanish at both ends.
    """
    return make_trajectory([t0] * 6 + [t1] * 6, [start] * 3 + [stop] * 3, 5)


def _peak(traj: Trajectory1d, nu: int) -> Tuple[float, float]:
    """(time, value) of the largest magnitude of the nu-th derivative, on a fine grid."""
    x = np.linspace(traj.start, traj.stop, 2001)
    y = traj(x, nu)
    i = int(np.argmax(np.abs(y)))
    return float(x[i]), float(y[i])


def run_demo(out_dir: str) -> Tuple[str, Optional[str]]:
    """Run the tour, print its report and return the paths of the document and of the plot
    (None when matplotlib is missing)."""
    from .defdatastruct import Point1d, Trajectory1d
    from .plot import MatplotlibMissing, plot_trajectory

    os.makedirs(out_dir, exist_ok=True)
    doc = os.path.join(out_dir, "demo.pyorvex")
    if os.path.isfile(doc):  # savexml updates an existing document; the demo starts afresh
        os.remove(doc)
    report: List[str] = []
    say = report.append

    # 1. A joint moves from 0 to 1 rad in 2 s along the minimum-jerk profile.
    move = minimum_jerk(0.0, 1.0, 0.0, 2.0)
    t_v, v_max = _peak(move, 1)
    say(f"move         {move}")
    say(f"             peak velocity {v_max:.4f} rad/s at t = {t_v:.2f} s")

    # 2. Knots every 0.2 s give room for local edits; removing every knot the curve does not
    #    need brings back the single polynomial.
    refined = move.knotref(np.linspace(0.0, 2.0, 11)[1:-1])
    thinned = refined.knotsrem()
    x = np.linspace(0.0, 2.0, 401)
    say(
        f"refined      n = {move.n} -> {refined.n}, thinned back to n = {thinned.n}; "
        f"largest change of the curve {np.max(np.abs(thinned(x) - move(x))):.1e} rad"
    )

    # 3. The move must pass through a via point. A local bump around t = 1 s, built on the
    #    refined knots, is scaled by the constraint so that move + bump meets the point; its
    #    first and last control points stay zero, so the ends of the move do not change.
    via = Point1d(1.0, 0.55, 0)
    bump = refined.copy()
    xc = bump.get_xcpts()
    bump.get_cpts_asarray()[:] = np.where(
        np.abs(xc - via.t) < 0.5, np.cos(np.pi * (xc - via.t)) ** 2, 0.0
    )
    bump.setValueAm(Point1d(via.t, via.val - refined(via.t), 0))
    corrected = refined + bump
    say(
        f"via point    {via}: the move now gives {corrected(via.t):.6f} there "
        f"(was {refined(via.t):.6f})"
    )
    say(
        f"             ends unchanged: {corrected(0.0):.6f} -> {corrected(2.0):.6f} rad, "
        f"velocity {corrected(0.0, 1):.1e} and {corrected(2.0, 1):.1e} rad/s"
    )

    # 4. Save the move and its via point into one document and load both back.
    corrected.savexml(doc, "move")
    via.savexml(doc, "via")
    back = Trajectory1d.loadxml(doc, "move")
    point = Point1d.loadxml(doc, "via")
    say(
        f"saved        {doc}: move and via point load back equal: {back == corrected and point == via}"
    )
    t_a, a_max = _peak(back, 2)
    t_j, j_max = _peak(back, 3)
    say(
        f"             peak acceleration {a_max:.3f} rad/s^2 at t = {t_a:.2f} s, "
        f"peak jerk {j_max:.2f} rad/s^3 at t = {t_j:.2f} s"
    )

    # 5. Position, velocity, acceleration and jerk on one time axis.
    png: Optional[str]
    try:
        png = plot_trajectory(
            back,
            os.path.join(out_dir, "demo.png"),
            derivatives=3,
            title="demo: minimum-jerk move through a via point",
        )
        say(f"plot         {png}")
    except MatplotlibMissing as exc:
        png = None
        say(f"plot         not written: {exc}")
    print("\n".join(report))
    return doc, png
