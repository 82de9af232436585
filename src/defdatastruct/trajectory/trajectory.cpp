// The trajectory subsystem's hub: its entries of the method table. The Python-visible pieces of
// the type stay with the units that implement them (record.cpp owns the type object; compare.cpp
// and state.cpp contribute their method lists).
#include "trajectory.hpp"

namespace pyorvex::dds::trajectory {

void install(TrajVtab *vt) {
    install_record(vt);   // from_ptrs, new_struct, c_vshift, c_vscale, c_hshift, c_hscale, copy
    install_compare(vt);  // c_eq, _getAttrib
    install_state(vt);    // _sget_knotvector, _sget_cpts, _dset_data
}

}  // namespace pyorvex::dds::trajectory
