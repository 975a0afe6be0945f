// Local explanations: one sample explained by features and by effect terms, and the model's local linear models.
#include "interpret_api.h"

namespace vexo {

Rows local_rows() { return {}; }

}  // namespace vexo
