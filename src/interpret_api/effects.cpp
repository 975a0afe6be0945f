// Effects: the main effect of one feature and the interaction effect of a pair, with their plots.
#include "interpret_api.h"

namespace vexo {

Rows effects_rows() { return {}; }

}  // namespace vexo
