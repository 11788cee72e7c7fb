// Real printer streams for seeds: a one-page job of each class, made by
// the driver's own writers in this process.
#pragma once

#include <string>
#include <vector>

std::vector<std::string> printerStreamSeeds();
