#include "app/startup.hpp"

namespace orvanta {

// The dynamic loader here never searches the program's own folder.
void prepareProcess() {}

} // namespace orvanta
