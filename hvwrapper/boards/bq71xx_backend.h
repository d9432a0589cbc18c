// The BQ71XX four-channel desktop unit backend (family 9): a fixed table of
// register rows completed at open by the unit's calibration sequence; a
// polling thread per unit pushes subscribed values.
#pragma once

#include "backend_ops.h"

namespace koruhv {

extern const BackendOps kBQ71XXBackend;

} // namespace koruhv
