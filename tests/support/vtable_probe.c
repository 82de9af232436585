/* vtable_probe: a test-only extension that calls pyorvex.defdatastruct the way other native
 * modules do, compiled against the public header <pyorvex/defdatastruct.h> only: the operations of
 * Trajectory1d through the method table of the instance (published as the type's __pyx_vtable__
 * capsule), the static factories through that capsule, and make_point through the module's
 * __pyx_capi__ capsule.
 *
 * Every probe function takes Python arguments, calls one C-level operation and hands its result
 * back as Python values (an error set by the operation is raised). To probe another operation,
 * write one function below and add it to probe_methods. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <pyorvex/defdatastruct.h>

static PyTypeObject *traj_type;                      /* pyorvex.defdatastruct.Trajectory1d */
static PyTypeObject *base_type;                      /* pyorvex.defdatastruct.PyORVEXObject */
static struct pyorvex_Trajectory1d_vtab *traj_table; /* Trajectory1d.__pyx_vtable__ */
static pyorvex_make_point_fn make_point_fn;

#define TRAJ(o) ((pyorvex_traj *)(o))
/* The table of the instance, as C callers must use it. */
#define VT(o) ((struct pyorvex_Trajectory1d_vtab *)TRAJ(o)->base.vtab)
#define BASE_VT(o) \
    ((struct pyorvex_PyORVEXObject_vtab *)((struct pyorvex_PyORVEXObject *)(o))->vtab)

/* Result conventions of the header: NULL / -1 / -1.0 with an exception set. */
static PyObject *none_or_error(int rc) {
    if (rc < 0) return NULL;
    Py_RETURN_NONE;
}

static PyObject *void_result(void) {
    if (PyErr_Occurred()) return NULL; /* a void operation must not leave an error behind */
    Py_RETURN_NONE;
}

/* --- the tables themselves ------------------------------------------------------------------ */

static void *table_in(PyObject *type) {
    if (!PyType_Check(type)) {
        PyErr_SetString(PyExc_TypeError, "a type is required");
        return NULL;
    }
    PyObject *capsule = PyDict_GetItemString(((PyTypeObject *)type)->tp_dict, "__pyx_vtable__");
    if (capsule == NULL) {
        PyErr_SetString(PyExc_KeyError, "__pyx_vtable__");
        return NULL;
    }
    return PyCapsule_GetPointer(capsule, NULL);
}

/* table_of(type) -> address of the method table in the type's __pyx_vtable__ capsule */
static PyObject *probe_table_of(PyObject *self, PyObject *type) {
    void *table = table_in(type);
    return table ? PyLong_FromVoidPtr(table) : NULL;
}

/* vtab_of(obj) -> address of the method table an instance points to */
static PyObject *probe_vtab_of(PyObject *self, PyObject *args) {
    PyObject *obj;
    if (!PyArg_ParseTuple(args, "O!", base_type, &obj)) return NULL;
    return PyLong_FromVoidPtr(((struct pyorvex_PyORVEXObject *)obj)->vtab);
}

/* base_entries(type) -> addresses of the five entries every table starts with */
static PyObject *probe_base_entries(PyObject *self, PyObject *type) {
    struct pyorvex_PyORVEXObject_vtab *t = table_in(type);
    if (t == NULL) return NULL;
    return Py_BuildValue("(NNNNN)", PyLong_FromVoidPtr((void *)t->c_loadxml),
                         PyLong_FromVoidPtr((void *)t->_getAttrib),
                         PyLong_FromVoidPtr((void *)t->_addPyORVEXObject),
                         PyLong_FromVoidPtr((void *)t->_updatePyORVEXObject),
                         PyLong_FromVoidPtr((void *)t->savexml));
}

/* --- in-place operations: op(t, x) ----------------------------------------------------------- */

#define PROBE_INPLACE(name)                                                 \
    static PyObject *probe_##name(PyObject *self, PyObject *args) {         \
        PyObject *t;                                                        \
        double x;                                                           \
        if (!PyArg_ParseTuple(args, "O!d", traj_type, &t, &x)) return NULL; \
        VT(t)->name(TRAJ(t), x);                                            \
        return void_result();                                               \
    }
PROBE_INPLACE(c_vshift)
PROBE_INPLACE(c_vscale)
PROBE_INPLACE(c_hshift)
PROBE_INPLACE(c_hscale)

/* --- operations with a skip_dispatch flag ------------------------------------------------------
 */

/* copy(t, skip_dispatch) */
static PyObject *probe_copy(PyObject *self, PyObject *args) {
    PyObject *t;
    int skip;
    if (!PyArg_ParseTuple(args, "O!i", traj_type, &t, &skip)) return NULL;
    return VT(t)->copy(TRAJ(t), skip);
}

/* getattrib(obj, skip_dispatch): _getAttrib through the object's own table */
static PyObject *probe_getattrib(PyObject *self, PyObject *args) {
    PyObject *obj;
    int skip;
    if (!PyArg_ParseTuple(args, "O!i", base_type, &obj, &skip)) return NULL;
    return BASE_VT(obj)->_getAttrib((struct pyorvex_PyORVEXObject *)obj, skip);
}

/* sget_knotvector(t, skip_dispatch), sget_cpts(t, skip_dispatch) */
static PyObject *probe_sget_knotvector(PyObject *self, PyObject *args) {
    PyObject *t;
    int skip;
    if (!PyArg_ParseTuple(args, "O!i", traj_type, &t, &skip)) return NULL;
    return VT(t)->_sget_knotvector(TRAJ(t), skip);
}

static PyObject *probe_sget_cpts(PyObject *self, PyObject *args) {
    PyObject *t;
    int skip;
    if (!PyArg_ParseTuple(args, "O!i", traj_type, &t, &skip)) return NULL;
    return VT(t)->_sget_cpts(TRAJ(t), skip);
}

/* dset_data(t, knots, cpts, p, n, order, owner, skip_dispatch) */
static PyObject *probe_dset_data(PyObject *self, PyObject *args) {
    PyObject *t, *knots, *cpts;
    int p, n, owner, skip;
    unsigned int order;
    if (!PyArg_ParseTuple(args, "O!OOiiIii", traj_type, &t, &knots, &cpts, &p, &n, &order, &owner,
                          &skip))
        return NULL;
    return none_or_error(VT(t)->_dset_data(TRAJ(t), knots, cpts, p, n, order, owner, skip));
}

/* c_eq(a, b) -> bool; raises what c_eq reports */
static PyObject *probe_c_eq(PyObject *self, PyObject *args) {
    PyObject *a, *b;
    if (!PyArg_ParseTuple(args, "O!O!", traj_type, &a, traj_type, &b)) return NULL;
    int eq = VT(a)->c_eq(TRAJ(a), TRAJ(b));
    if (PyErr_Occurred()) {
        if (eq) {
            PyErr_Clear();
            PyErr_SetString(PyExc_SystemError, "c_eq answered true with an error set");
        }
        return NULL;
    }
    return PyBool_FromLong(eq);
}

/* --- the static factories, through the type's capsule ------------------------------------------
 */

/* The memory of a double buffer (or NULL for None), checked to hold at least `need` doubles. */
static int borrow_doubles(PyObject *obj, Py_ssize_t need, double **out) {
    *out = NULL;
    if (obj == Py_None) return 0;
    Py_buffer view;
    if (PyObject_GetBuffer(obj, &view, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) < 0)
        return -1;
    int ok = view.itemsize == sizeof(double) && view.format != NULL &&
             strcmp(view.format, "d") == 0 && view.len >= need * (Py_ssize_t)sizeof(double);
    *out = (double *)view.buf;
    PyBuffer_Release(&view); /* the caller keeps obj alive as long as it lends the memory */
    if (!ok) {
        PyErr_SetString(PyExc_ValueError, "need a contiguous float64 buffer that is long enough");
        return -1;
    }
    return 0;
}

/* A PyMem copy of a double buffer, for records that own (and free) their arrays. */
static int copy_doubles(PyObject *obj, Py_ssize_t need, double **out) {
    double *src;
    *out = NULL;
    if (borrow_doubles(obj, need, &src) < 0) return -1;
    if (src == NULL) return 0; /* None: a null pointer */
    *out = PyMem_Malloc(need > 0 ? (size_t)need * sizeof(double) : 1);
    if (*out == NULL) {
        PyErr_NoMemory();
        return -1;
    }
    if (need > 0) memcpy(*out, src, (size_t)need * sizeof(double));
    return 0;
}

/* from_ptrs(knots, cpts, p, n, order[, owner]): knots/cpts are float64 buffers or None (a null
 * pointer). Without owner (or owner False) the buffers' memory is lent: keep them alive while the
 * trajectory lives. With owner True the record gets PyMem copies, which it frees. */
static PyObject *probe_from_ptrs(PyObject *self, PyObject *args) {
    PyObject *knots, *cpts, *owner = NULL;
    int p, n;
    unsigned int order;
    if (!PyArg_ParseTuple(args, "OOiiI|O", &knots, &cpts, &p, &n, &order, &owner)) return NULL;
    Py_ssize_t nk = (Py_ssize_t)n + p + 2, nc = (Py_ssize_t)n + 1;
    if (nk < 0) nk = 0;
    if (nc < 0) nc = 0;
    int own = 0;
    if (owner != NULL && (own = PyObject_IsTrue(owner)) < 0) return NULL;
    double *k, *c;
    if (own) {
        if (copy_doubles(knots, nk, &k) < 0) return NULL;
        if (copy_doubles(cpts, nc, &c) < 0) {
            PyMem_Free(k);
            return NULL;
        }
    } else if (borrow_doubles(knots, nk, &k) < 0 || borrow_doubles(cpts, nc, &c) < 0) {
        return NULL;
    }
    struct pyorvex_opt_owner opt = {1, own};
    PyObject *t = traj_table->from_ptrs(k, c, p, n, order, owner != NULL ? &opt : NULL);
    if (t == NULL && own) {
        PyMem_Free(k);
        PyMem_Free(c);
    }
    return t;
}

/* new_struct(p, n, order) */
static PyObject *probe_new_struct(PyObject *self, PyObject *args) {
    int p, n;
    unsigned int order;
    if (!PyArg_ParseTuple(args, "iiI", &p, &n, &order)) return NULL;
    return traj_table->new_struct(p, n, order);
}

/* --- the module's exported function --------------------------------------------------------------
 */

/* make_point(t, val, order) -> (t, val, order) of the returned record */
static PyObject *probe_make_point(PyObject *self, PyObject *args) {
    double t, val;
    unsigned int order;
    if (!PyArg_ParseTuple(args, "ddI", &t, &val, &order)) return NULL;
    c_point1d pt = make_point_fn(t, val, order);
    return Py_BuildValue("(ddI)", pt.t, pt.val, pt.order);
}

static PyMethodDef probe_methods[] = {
    {"table_of", probe_table_of, METH_O, NULL},
    {"vtab_of", probe_vtab_of, METH_VARARGS, NULL},
    {"base_entries", probe_base_entries, METH_O, NULL},
    {"c_vshift", probe_c_vshift, METH_VARARGS, NULL},
    {"c_vscale", probe_c_vscale, METH_VARARGS, NULL},
    {"c_hshift", probe_c_hshift, METH_VARARGS, NULL},
    {"c_hscale", probe_c_hscale, METH_VARARGS, NULL},
    {"copy", probe_copy, METH_VARARGS, NULL},
    {"getattrib", probe_getattrib, METH_VARARGS, NULL},
    {"sget_knotvector", probe_sget_knotvector, METH_VARARGS, NULL},
    {"sget_cpts", probe_sget_cpts, METH_VARARGS, NULL},
    {"dset_data", probe_dset_data, METH_VARARGS, NULL},
    {"c_eq", probe_c_eq, METH_VARARGS, NULL},
    {"from_ptrs", probe_from_ptrs, METH_VARARGS, NULL},
    {"new_struct", probe_new_struct, METH_VARARGS, NULL},
    {"make_point", probe_make_point, METH_VARARGS, NULL},
    {NULL, NULL, 0, NULL},
};

static int bind(PyObject *module) {
    PyObject *dds = PyImport_ImportModule("pyorvex.defdatastruct");
    if (dds == NULL) return -1;
    traj_type = (PyTypeObject *)PyObject_GetAttrString(dds, "Trajectory1d");
    base_type = (PyTypeObject *)PyObject_GetAttrString(dds, "PyORVEXObject");
    PyObject *capi = PyObject_GetAttrString(dds, "__pyx_capi__");
    Py_DECREF(dds);
    if (traj_type == NULL || base_type == NULL || capi == NULL) {
        Py_XDECREF(capi);
        return -1;
    }
    traj_table = table_in((PyObject *)traj_type);
    PyObject *capsule = PyMapping_GetItemString(capi, "make_point");
    Py_DECREF(capi);
    if (traj_table == NULL || capsule == NULL) {
        Py_XDECREF(capsule);
        return -1;
    }
    /* Importers compare the capsule's name with the signature text exactly. */
    make_point_fn =
        (pyorvex_make_point_fn)PyCapsule_GetPointer(capsule, PYORVEX_MAKE_POINT_SIGNATURE);
    Py_DECREF(capsule);
    return make_point_fn == NULL ? -1 : 0;
}

static PyModuleDef_Slot probe_slots[] = {{Py_mod_exec, (void *)bind}, {0, NULL}};

static struct PyModuleDef probe_module = {
    PyModuleDef_HEAD_INIT, "vtable_probe", NULL, 0, probe_methods, probe_slots, NULL, NULL, NULL,
};

PyMODINIT_FUNC PyInit_vtable_probe(void) { return PyModuleDef_Init(&probe_module); }
