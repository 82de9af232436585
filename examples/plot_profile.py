"""Plot a jerk-limited move with its velocity, acceleration and jerk (needs pyorvex[plot]).

python examples/plot_profile.py [OUT.png]
"""

import sys

from pyorvex import make_trajectory
from pyorvex.plot import MatplotlibMissing, plot_trajectory


def main(out: str) -> int:
    # A septic rest-to-rest move: velocity, acceleration and jerk all start and end at zero.
    move = make_trajectory([0.0] * 8 + [1.5] * 8, [0.0] * 4 + [0.8] * 4, 7)
    try:
        written = plot_trajectory(move, out, derivatives=3, title="rest-to-rest move, degree 7")
    except MatplotlibMissing as exc:
        print(exc, file=sys.stderr)
        return 1
    print(f"wrote {written}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "profile.png"))
