"""Plots of a trajectory and its derivatives. Needs matplotlib: ``pip install 'pyorvex[plot]'``.

The figures are built with matplotlib's object interface and never touch pyplot's global state,
so plotting from a program or a notebook leaves its chosen backend alone.
"""

from __future__ import annotations

import errno
import os
from typing import TYPE_CHECKING, Optional

import numpy as np

if TYPE_CHECKING:
    from matplotlib.figure import Figure

    from .defdatastruct import Trajectory1d
    from .multiaxis import TrajectoryNd

QUANTITIES = ("position", "velocity", "acceleration", "jerk", "snap", "crackle", "pop")


class MatplotlibMissing(ImportError):
    """Plotting was asked for, but matplotlib (the ``plot`` extra) is not installed."""

    def __init__(self) -> None:
        super().__init__(
            "plotting needs matplotlib, which is not installed; "
            "install the plot extra: pip install 'pyorvex[plot]'"
        )


class UnsupportedImageFormat(ValueError):
    """The extension of an output path names an image format that matplotlib cannot write."""


def quantity(order: int) -> str:
    """The name of the quantity that a trajectory of the given derivative order describes."""
    return QUANTITIES[order] if order < len(QUANTITIES) else f"derivative {order}"


def trajectory_figure(
    traj: Trajectory1d | TrajectoryNd,
    derivatives: int = 2,
    title: Optional[str] = None,
    samples: Optional[int] = None,
) -> Figure:
    """A figure with the trajectory and its first `derivatives` derivatives, one panel each.

    The panels share the time axis; every distinct knot is marked by a faint vertical line and a
    dot on the curve. A TrajectoryNd draws one line per axis in every panel, labelled "axis j". `samples` points are evaluated per panel; by default enough to resolve
    every knot span (at least 600, at most 20000).
    """
    try:
        from matplotlib.figure import Figure
    except ImportError:
        raise MatplotlibMissing() from None

    if derivatives < 0:
        raise ValueError(f"'derivatives' must be non-negative, got {derivatives}")
    knots = np.unique(traj.get_knotvector_asarray())
    if samples is None:
        samples = int(min(20000, max(600, 8 * knots.size)))
    # Far from zero a short domain holds fewer doubles than samples: the repeats are dropped.
    x = np.unique(np.linspace(traj.start, traj.stop, samples))
    panels = derivatives + 1
    fig = Figure(figsize=(8.0, 1.2 + 2.0 * panels), layout="constrained")
    axes = fig.subplots(panels, 1, sharex=True, squeeze=False)[:, 0]
    for k, ax in enumerate(axes):
        ax.vlines(
            knots, 0.0, 1.0, transform=ax.get_xaxis_transform(), colors="0.85", lw=0.6, zorder=0
        )
        # One column per axis: a Trajectory1d is a single one.
        curves = np.reshape(traj(x, k), (x.size, -1))
        marks = np.reshape(traj(knots, k), (knots.size, -1))
        per_axis = hasattr(traj, "dof")  # a TrajectoryNd, whose lines are labelled by axis
        for j in range(curves.shape[1]):
            label = f"axis {j}" if per_axis and k == 0 else None
            ax.plot(x, curves[:, j], lw=1.6, color=f"C{j}" if per_axis else "tab:blue", label=label)
            first = k == 0 and j == 0
            ax.plot(
                knots, marks[:, j], "o", ms=3, color="tab:red", label="knots" if first else None
            )
        ax.set_ylabel(quantity(traj.order + k))
        ax.grid(alpha=0.3)
    axes[0].legend(loc="best")
    axes[-1].set_xlabel("time")
    if title:
        fig.suptitle(title)
    return fig


def plot_trajectory(
    traj: Trajectory1d | TrajectoryNd,
    out: str | os.PathLike[str],
    derivatives: int = 2,
    title: Optional[str] = None,
    samples: Optional[int] = None,
    dpi: int = 100,
) -> str:
    """Write the figure of :func:`trajectory_figure` to `out`, in the image format its extension
    names (PNG, with ``.png`` appended, when it has none); return the path written.

    Raises :class:`UnsupportedImageFormat` (a ValueError) for an extension that matplotlib cannot
    write, naming those it can, and IsADirectoryError when `out` is a directory; both before
    anything is drawn.
    """
    path = _image_path(out)
    fig = trajectory_figure(traj, derivatives, title, samples)
    fig.savefig(path, dpi=dpi)
    return path


def _image_path(out: str | os.PathLike[str]) -> str:
    try:
        from matplotlib.figure import Figure
    except ImportError:
        raise MatplotlibMissing() from None

    path = os.fspath(out)
    if os.path.isdir(path):
        raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR), path)
    ext = os.path.splitext(path)[1][1:].lower()
    if not ext:
        return path + ".png"
    formats = Figure().canvas.get_supported_filetypes()
    if ext not in formats:
        raise UnsupportedImageFormat(
            f"matplotlib cannot write images of format {ext!r}; the formats it can write are "
            f"{', '.join(sorted(formats))}"
        )
    return path
