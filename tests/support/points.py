"""Points for the point and constraint tests."""

from pyorvex.defdatastruct import Point1d


class Spy(Point1d):
    """A point that logs which of its attributes are read, in order."""

    def __init__(self, *args):
        super().__init__(*args)
        self.log = []

    def _read(name):
        def get(self):
            self.log.append(name)
            return getattr(Point1d, name).__get__(self)

        return property(get)

    t, val, order = _read("t"), _read("val"), _read("order")
