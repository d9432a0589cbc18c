// The W38XX VME high-voltage board backend (family 5): the board publishes
// its own parameter table, read at open through the outside communication
// library; a polling thread per board pushes subscribed values.
#pragma once

#include "backend_ops.h"

namespace koruhv {

extern const BackendOps kW38XXBackend;

} // namespace koruhv
