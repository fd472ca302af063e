// placeholder: replaced by its owner
#include "app/Commands.h"

#include <ostream>

namespace quenlit::app {
int runBindings(std::span<const std::string>, std::ostream&, std::ostream& err) {
    err << "quenlit: bindings is not available in this build\n";
    return 2;
}
}  // namespace quenlit::app
