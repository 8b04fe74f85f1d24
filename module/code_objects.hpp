// The methods' code objects: signature and first line, no executable code.
#ifndef TESSAVOR_MODULE_CODE_OBJECTS_HPP
#define TESSAVOR_MODULE_CODE_OBJECTS_HPP

namespace tessavor {

// Builds the varnames tuples and code objects of every method into the
// process-wide state, in table order.
int create_code_objects();

} // namespace tessavor

#endif
