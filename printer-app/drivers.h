// The Printer Application's drivers: one per host-based model of the
// model catalogue, with that model's capabilities.
#pragma once

#include <string>
#include <vector>

#include <pappl/pappl.h>

#include "media_names.h"
#include "model_catalog.h"

namespace tpa {

struct DriverModel {
  const rf::ModelInfo* info = nullptr;
  std::string name;         // "tesvel_tz3010"
  std::string description;  // "Tesvel TZ3010 Series", the PPD's ModelName
  std::string deviceId;     // "MFG:Tesvel;MDL:TZ3010 Series;"
  std::vector<MediaRow> media;
  std::vector<std::string> customRange;  // "custom_min_...", "custom_max_..." or none
};

// Every model of the catalogue, in catalogue order.
const std::vector<DriverModel>& driverModels();
const DriverModel* findDriver(const char* name);

// The driver table for papplMainloop (pointers into driverModels()).
std::vector<pappl_pr_driver_t> papplDriverTable();

// Fills PAPPL's driver data from the model: media, resolutions, sides,
// sources, darkness, vendor settings and the print callbacks.
bool driverCallback(pappl_system_t* system, const char* driverName, const char* deviceUri,
                    const char* deviceId, pappl_pr_driver_data_t* data, ipp_t** attrs, void* cbdata);

// The driver for a printer's IEEE 1284 device ID: the model whose name
// matches the ID's model best, or null when the ID is not a Tesvel
// printer we drive.
const char* autoaddCallback(const char* deviceInfo, const char* deviceUri, const char* deviceId,
                            void* data);

// How well a device ID's MFG and MDL values name a model (0: not at all).
int deviceIdScore(const char* manufacturer, const char* model, const DriverModel& driver);

}  // namespace tpa
