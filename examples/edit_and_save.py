"""Edit a trajectory (knots, arithmetic, a constraint), save it with its via point, load both.

    python examples/edit_and_save.py [DOCUMENT]

DOCUMENT defaults to edited.pyorvex in the current directory.
"""

import pickle
import sys

import numpy as np

from pyorvex import make_trajectory
from pyorvex.defdatastruct import Point1d, Trajectory1d


def main(document: str) -> None:
    # A cubic move from 0 to 2 over [0, 3].
    move = make_trajectory([0, 0, 0, 0, 1, 2, 3, 3, 3, 3], [0.0, 0.0, 0.5, 1.5, 2.0, 2.0], 3)

    finer = move.knotins(1.5, 2)  # the same curve with the knot 1.5 twice
    x = np.linspace(move.start, move.stop, 50)
    assert np.allclose(finer(x), move(x))
    leaner = finer.knotsrem()  # drops the knots the curve does not need
    print(f"knots: {move.n + move.p + 2} -> {finer.n + finer.p + 2} -> {leaner.n + leaner.p + 2}")

    offset = move + 0.25  # a new trajectory; move is unchanged
    scaled = 2.0 * move
    print(
        f"at t = 1.5: move {move(1.5):.4f}, move + 0.25 {offset(1.5):.4f}, 2 move {scaled(1.5):.4f}"
    )

    via = Point1d(1.5, 1.2, 0)
    offset.setValueTr(via)  # shift the whole curve so that it passes through the via point
    print(f"through {via}: {offset(via.t):.4f}")

    offset.savexml(document, "move")
    via.savexml(document, "via")
    loaded: Trajectory1d = Trajectory1d.loadxml(document, "move")
    assert loaded == offset and Point1d.loadxml(document, "via") == via

    clone = pickle.loads(pickle.dumps(loaded))
    print(f"saved to {document}; loaded and unpickled equal: {clone == offset}")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "edited.pyorvex")
