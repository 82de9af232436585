// Placeholder until the XML document (savexml) lands.
#include "internal.hpp"

namespace pyorvex::dds {

PyMethodDef base_document_methods[] = {{nullptr, nullptr, 0, nullptr}};

void install_document(BaseVtab *) {}

}  // namespace pyorvex::dds
