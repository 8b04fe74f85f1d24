// Builds class Prod from the method table.
#ifndef TESSAVOR_MODULE_CLASS_ASSEMBLY_HPP
#define TESSAVOR_MODULE_CLASS_ASSEMBLY_HPP

namespace tessavor {

// Builds Prod and stores it in the module's dictionary. On failure adds the
// "init tessavor.prod" entry at the failing step's line and returns -1.
int build_class(const char *init_funcname);

} // namespace tessavor

#endif
