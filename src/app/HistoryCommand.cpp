// placeholder: replaced by its owner
#include "app/Commands.h"

#include <ostream>

namespace quenlit::app {
int runHistory(std::span<const std::string>, std::ostream&, std::ostream& err) {
    err << "quenlit: history is not available in this build\n";
    return 2;
}
}  // namespace quenlit::app
