#include "module/state.hpp"

namespace tessavor {

State state;

} // namespace tessavor
