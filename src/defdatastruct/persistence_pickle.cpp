// Placeholder until the pickling of the base lands.
#include "internal.hpp"

namespace pyorvex::dds {

PyMethodDef base_pickle_methods[] = {{nullptr, nullptr, 0, nullptr}};

PyObject *make_unpickle_function(PyObject *) { return capi::none(); }

}  // namespace pyorvex::dds
