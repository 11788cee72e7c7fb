// The ppdc driver source of the host-based models, written from the model
// catalogue: one PPD per catalogue row.
#pragma once

#include <ostream>

namespace ppdgen {

void writeRasterDrv(std::ostream& out);

}  // namespace ppdgen
