"""Plots of a trajectory and its derivatives (needs matplotlib: the [plot] extra)."""

from __future__ import annotations

import numpy as np

MISSING_MATPLOTLIB = (
    "plotting needs matplotlib, which is not installed; install the plot extra: "
    "pip install 'pyorvex[plot]'"
)


def _pyplot():
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        from .cli import CommandError

        raise CommandError(MISSING_MATPLOTLIB) from None
    return plt


def plot_trajectory(traj, out, derivatives=2, title=None, samples=600):
    """Write a PNG with the trajectory and its first `derivatives` derivatives, knots marked."""
    from .cli import _quantity

    plt = _pyplot()
    derivatives = max(0, int(derivatives))
    x = np.linspace(traj.start, traj.stop, samples)
    knots = np.unique(traj.get_knotvector_asarray())
    fig, axes = plt.subplots(derivatives + 1, 1, sharex=True, figsize=(8, 2.2 * (derivatives + 1)), squeeze=False)
    for k, ax in enumerate(axes[:, 0]):
        y = traj(x, k)
        ax.plot(x, y, lw=1.6)
        ax.plot(knots, traj(knots, k), "o", ms=3, color="tab:red", label="knots" if k == 0 else None)
        for u in knots:
            ax.axvline(u, color="0.85", lw=0.6, zorder=0)
        ax.set_ylabel(_quantity(traj.order + k))
        ax.grid(alpha=0.3)
    axes[0, 0].legend(loc="best")
    axes[-1, 0].set_xlabel("time")
    if title:
        fig.suptitle(title)
    fig.tight_layout()
    fig.savefig(out, dpi=100)
    plt.close(fig)
    return out
