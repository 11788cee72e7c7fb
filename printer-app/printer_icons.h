// The printers' icons for the web interface and IPP clients
// (printer-icons): a desktop laser printer drawn in code at PAPPL's three
// sizes, one drawing per printer family (the TC series with a second
// tray, the TM series with an output bin), instead of PAPPL's generic one.
#pragma once

#include <string>

#include <pappl/pappl.h>

#include "model_catalog.h"

namespace tpa {

// PAPPL's icon sizes, smallest first, in pixels.
constexpr int kIconSizes[3] = {48, 128, 512};

// The family's drawing as a PNG of `size` x `size` pixels, grey with alpha.
std::string drawIconPng(rf::ModelClass cls, int size);

// Draws every family's icons, before the server listens: printers restored
// from the state file then come up without the wait.
void drawIcons();

// Points the driver data at the model's icons, drawn once per family.
void setIcons(const rf::ModelInfo& model, pappl_pr_driver_data_t* data);

}  // namespace tpa
