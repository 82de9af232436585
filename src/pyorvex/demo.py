"""A guided tour: a point-to-point move built, edited, constrained, saved and plotted."""

from __future__ import annotations

import os

import numpy as np


def smooth_move(start, stop, t0, t1):
    """A rest-to-rest move from `start` to `stop` over [t0, t1]: a quintic with zero velocity
    and acceleration at both ends."""
    from . import make_trajectory

    knots = [t0] * 6 + [t1] * 6
    cpts = [start, start, start, stop, stop, stop]
    return make_trajectory(knots, cpts, 5)


def run_demo(out_dir):
    from .defdatastruct import Point1d, Trajectory1d

    os.makedirs(out_dir, exist_ok=True)
    doc = os.path.join(out_dir, "demo.pyorvex")
    if os.path.exists(doc):
        os.remove(doc)
    lines = []

    move = smooth_move(0.0, 1.0, 0.0, 2.0)
    lines.append(f"move:        {move}")
    lines.append(f"  position at t = 1.0: {move(1.0):.6f}, peak velocity: {move(1.0, 1):.6f}")

    refined = move.knotref(np.linspace(0.0, 2.0, 11)[1:-1])
    thinned = refined.knotsrem()
    lines.append(f"refined:     n = {refined.n} (9 knots inserted); thinned back: n = {thinned.n}")
    x = np.linspace(0.0, 2.0, 201)
    lines.append(f"  largest change of the curve: {np.max(np.abs(thinned(x) - move(x))):.2e}")

    correction = refined.copy()
    bump = np.sin(np.pi * refined.get_xcpts() / 2.0) ** 2
    correction.get_cpts_asarray()[:] = 0.02 * bump
    corrected = refined + correction
    lines.append(f"corrected:   {corrected} (a 2 % bump added)")

    target = Point1d(1.0, 0.55, 0)
    corrected.setValueTr(target)
    lines.append(f"constrained: value at t = {target.t} is {corrected(target.t):.6f} (target {target.val})")

    corrected.savexml(doc, "move")
    target.savexml(doc, "via")
    back = Trajectory1d.loadxml(doc, "move")
    point = Point1d.loadxml(doc, "via")
    lines.append(f"saved to {doc}; loaded back equal: {back == corrected}, point: {point}")
    lines.append(f"  jerk at t = 0.5: {back(0.5, 3):.4f}")

    try:
        from .plot import plot_trajectory

        png = plot_trajectory(back, os.path.join(out_dir, "demo.png"), derivatives=3, title="demo move")
        lines.append(f"plot: {png}")
    except Exception as exc:  # the plot is optional; the report says why it is missing
        lines.append(f"plot skipped: {exc}")
    print("\n".join(lines))
    return 0
