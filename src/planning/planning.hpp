// What the units of pyorvex.planning._kernel share: the settle of a motion's time scale on its
// exact peaks, and the entries that take the toolkit's objects whole.
#pragma once

#include <Python.h>

#include <span>

#include "bspline.hpp"
#include "scratch.hpp"

namespace pyorvex::planning {

namespace k = pyorvex::kernel;
namespace capi = pyorvex::capi;

// The interrupt test the long kernel routines ask: a pending Ctrl-C (or another signal whose
// handler raises) stops them, with the exception set.
bool signalled(void *);

// Knots finite and never decreasing over a non-empty domain, control points finite.
bool spline_sound(k::cspan knots, k::cspan cpts);

// The extrema of the derivative of order nu of every axis into e[0..dof): all axes at once up to
// the degrees extrema_rows takes, else axis by axis, each column gathered (work and column are
// kept between calls). False with the exception of a refusal or an overflow.
bool axis_extrema(k::cspan knots, k::cspan cpts, int dof, int p, int nu, capi::Scratch<> &work,
                  capi::Scratch<> &column, std::span<k::Extrema> e);

// What a settle found: the exact factor (the largest (|peak| / limit) ** (1 / q) of the motion
// as given), the factor k the result holds every limit with (NaN when only the exact one was
// asked, infinite when no attempt held them all) and whether stretching by k stays within the
// range of floating point.
struct Settled {
    double exact = 0.0;
    double k = 0.0;
    bool fits = true;
};

// The smallest factor found by which time stretches so that on the exact peaks of the result
// (into out_knots, out_cpts) the derivative of order qs[j] of the path of every axis c holds
// within limits[j * dof + c]. exact, when not positive, is computed first; a negative start
// returns it alone, as does an exact of zero or infinity. The attempts begin at start when
// positive, else a little above exact, and each adds what its result's peaks still miss. False
// with the exception of a peak refused or overflowing.
bool settle_motion(k::cspan knots, k::cspan cpts, int dof, int p, int order,
                   std::span<const int> qs, const double *limits, double exact, double start,
                   k::vspan out_knots, k::vspan out_cpts, Settled &found);

// The whole-object entries (direct.cpp): each takes the arguments of the toolkit function as the
// user gave them and returns its result, or NotImplemented when anything is unusual (another
// type, a refusal, an argument to word a message about) and the checked Python path must run.
PyObject *retime_direct(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kw);
PyObject *extrema_direct(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kw);
PyObject *interpolate_direct(PyObject *, PyObject *const *args, Py_ssize_t nargs, PyObject *kw);

}  // namespace pyorvex::planning
