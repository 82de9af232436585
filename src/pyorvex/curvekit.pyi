from typing import Dict

# The B-spline kernel, exported as C functions: each capsule's name is the function's C signature.
__pyx_capi__: Dict[str, object]

# The largest degree the kernel computes with, given or produced (records of any degree hold data).
MAX_DEGREE: int
