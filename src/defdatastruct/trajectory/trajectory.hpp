// The trajectory subsystem: the spline record behind Trajectory1d (its arrays, their allocation
// and ownership, the views every kernel call is made on), its lifecycle and value semantics, its
// NumPy views and pickle state. The record helpers here are what every other subsystem builds on.
#pragma once

#include "internal.hpp"

namespace pyorvex::dds::trajectory {

// --- the record (record.cpp, domain.cpp) ---------------------------------------------------------
inline Py_ssize_t knot_count(const Traj *t) {
    return static_cast<Py_ssize_t>(t->n) + static_cast<Py_ssize_t>(t->p) + 2;
}
inline Py_ssize_t cpts_count(const Traj *t) { return static_cast<Py_ssize_t>(t->n) + 1; }

// The record's arrays as views for a call. ValueError when an array is absent.
bool knot_view(Traj *t, pyorvex_dview *out);
bool cpts_view(Traj *t, pyorvex_dview *out);
// Both views, for what only reads the data (comparison, element forms): any degree.
bool record_data_views(Traj *t, pyorvex_dview *knots, pyorvex_dview *cpts);
// Both views for a kernel call: also ValueError when the degree is above what the kernel
// supports.
bool record_views(Traj *t, pyorvex_dview *knots, pyorvex_dview *cpts);

// PyMem_Malloc of count doubles; MemoryError "memory allocation failed" on failure or when count
// is not positive or overflows.
double *alloc_doubles(Py_ssize_t count);
// The two buffers of a record (nk knots, nc control points) from alloc_doubles: both or, with
// MemoryError, neither.
bool alloc_record_buffers(Py_ssize_t nk, Py_ssize_t nc, double **knots, double **cpts);
// Shrinks (or grows) a buffer from alloc_doubles; MemoryError on failure (buf stays valid).
bool resize_doubles(double **buf, Py_ssize_t count);
PyObject *raise_memory_error();

// from_ptrs with owner true for two buffers from alloc_doubles; on failure frees both.
PyObject *wrap_owned(double *knots, double *cpts, int p, int n, unsigned int order);

// The highest control-point index n of a new record of degree p, which the record keeps in an
// int, as a size the kernel reports or a caller computes wide; MemoryError "memory allocation
// failed" when n is negative or the knot count n + p + 2 does not fit an int (no such record can
// exist).
bool record_index(long long n, int p, int *out);

// The two buffers of a record being built: allocated together, and freed together unless they
// are handed to a new trajectory by wrap().
class NewRecord {
public:
    NewRecord() = default;
    NewRecord(const NewRecord &) = delete;
    NewRecord &operator=(const NewRecord &) = delete;
    ~NewRecord();

    // Room for nk knots and nc control points (alloc_record_buffers).
    bool allocate(Py_ssize_t nk, Py_ssize_t nc);
    // Cuts (or grows) both buffers, the knots first (resize_doubles).
    bool resize(Py_ssize_t nk, Py_ssize_t nc);

    double *knots() const { return knots_; }
    double *cpts() const { return cpts_; }
    pyorvex_dview knot_view() const { return {knots_, nk_}; }
    pyorvex_dview cpts_view() const { return {cpts_, nc_}; }

    // wrap_owned: a new owning Trajectory1d of degree p and highest index n over the buffers.
    PyObject *wrap(int p, int n, unsigned int order);

private:
    double *knots_ = nullptr;
    double *cpts_ = nullptr;
    Py_ssize_t nk_ = 0;
    Py_ssize_t nc_ = 0;
};
// The record's own buffers, freed by the record whatever its visible owner flag says.
void adopt_module_buffers(Traj *t, double *knots, double *cpts);
void release_arrays(Traj *t);

// The start and stop properties, as Python objects (None without a knot vector).
PyObject *traj_start(Traj *t);
PyObject *traj_stop(Traj *t);
// The same as doubles, through the attribute when a subclass may redefine it (the plain type
// reads its knots directly); an exception when the attribute fails or is not a number
// (domain.cpp).
bool domain_start(Traj *t, double *out);
bool domain_stop(Traj *t, double *out);

// --- the operations of the units, gathered by the hub (trajectory.cpp) ---------------------------
// record.cpp: the factories, the in-place shifts and scalings, copying, the properties.
PyObject *from_ptrs(double *knots, double *cpts, int p, int n, unsigned int order,
                    pyorvex_opt_owner *opt);
PyObject *new_struct(int p, int n, unsigned int order);
void c_vshift(Traj *self, double x);
void c_vscale(Traj *self, double x);
void c_hshift(Traj *self, double x);
void c_hscale(Traj *self, double k);
PyObject *copy_op(Traj *self, int skip_dispatch);
PyObject *py_copy(PyObject *self, PyObject *);
PyObject *py_dunder_copy(PyObject *self, PyObject *);
PyObject *py_deepcopy(PyObject *self, PyObject *);
PyObject *get_p(PyObject *self, void *);
PyObject *get_n(PyObject *self, void *);
PyObject *get_order(PyObject *self, void *);
PyObject *get_start(PyObject *self, void *);
PyObject *get_stop(PyObject *self, void *);
// compare.cpp: equality within tolerance, the text forms, the attribute dictionary.
int c_eq(Traj *self, Traj *other);
PyObject *getattrib_op(BaseObject *base, int skip_dispatch);
PyObject *py_getattrib(PyObject *self, PyObject *);
PyObject *richcompare(PyObject *a, PyObject *b, int op);
PyObject *str(PyObject *self);
PyObject *repr(PyObject *self);
// state.cpp: NumPy views, the abscissae of the control points, the pickle state.
PyObject *py_get_cpts_asarray(PyObject *self, PyObject *);
PyObject *py_get_knotvector_asarray(PyObject *self, PyObject *);
PyObject *py_get_xcpts(PyObject *self, PyObject *);
PyObject *sget_knotvector(Traj *self, int skip_dispatch);
PyObject *sget_cpts(Traj *self, int skip_dispatch);
PyObject *py_sget_knotvector(PyObject *self, PyObject *);
PyObject *py_sget_cpts(PyObject *self, PyObject *);
int dset_data(Traj *self, PyObject *knots, PyObject *cpts, int p, int n, unsigned int order,
              int owner, int skip_dispatch);
PyObject *py_dset_data(PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kw);
PyObject *py_getstate(PyObject *self, PyObject *);
PyObject *py_setstate(PyObject *self, PyObject *state);
PyObject *no_default_reduce(PyObject *, PyObject *);

// --- the hub (trajectory.cpp) --------------------------------------------------------------------
extern PyMethodDef methods[];
extern PyGetSetDef getset[];
// The trajectory subsystem's entries of the method table.
void install(TrajVtab *vt);

}  // namespace pyorvex::dds::trajectory
