// Trees: the model's decision tree, drawn whole and along one sample's path.
#include "interpret_api.h"

namespace vexo {

Rows tree_rows() { return {}; }

}  // namespace vexo
