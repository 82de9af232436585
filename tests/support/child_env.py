"""The environment for child Python processes: this one's, with PYTHONPATH made absolute so that
the child imports the same pyorvex from any working directory."""

import os


def child_env(*first_on_path, **extra):
    env = {**os.environ, **extra}
    entries = [*map(str, first_on_path), *filter(None, env.get("PYTHONPATH", "").split(os.pathsep))]
    if entries:
        env["PYTHONPATH"] = os.pathsep.join(os.path.abspath(p) for p in entries)
    return env
