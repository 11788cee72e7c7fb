// The Printer Application's drivers for the PostScript models: one per
// PPD of the PostScript model list (the PPDs are compiled from it), with
// the capabilities that PPD offers.  Their jobs go through jobwrapper
// (ps_job.h).
#pragma once

#include <string>
#include <vector>

#include <pappl/pappl.h>

#include "media_names.h"
#include "model_catalog.h"

namespace tpa {

// How a model takes its jobs, as its PPD says.
enum class PsFamily {
  Mono,        // TP3000: PostScript with the PPD's job header, copied as it is
  JobControl,  // TP5000: the same, with job owner lines, media fix-ups and the monitor
  Colour,      // TPC8000: the PDF itself
};

struct PsModel {
  std::string name;         // "tesvel_ps_tp3010"
  std::string description;  // "Tesvel TP3010 Series PS", the PPD's ModelName
  std::string deviceId;     // the PPD's 1284DeviceID
  std::string ppdPath;
  PsFamily family = PsFamily::Mono;
  bool duplex = false;      // the PPD has a Duplex option
  std::vector<MediaRow> media;
  rf::ModelInfo sizes{};    // only customMinPt/customMaxPt: the custom sizes it takes
  std::vector<std::string> customRange;
};

// The printer-ready format of the PostScript drivers: what jobwrapper
// writes.  A client cannot send it: every job goes through the wrapper.
extern const char kPsPrinterFormat[];

// Every PostScript model whose PPD the application finds, in PPD name order.
const std::vector<PsModel>& psModels();
const PsModel* findPsModel(const char* driverName);

// Appends the PostScript drivers to PAPPL's driver table.
void addPsDrivers(std::vector<pappl_pr_driver_t>* table);

// Fills PAPPL's driver data from the model's PPD.
bool psDriverCallback(const PsModel& model, pappl_pr_driver_data_t* data, ipp_t** attrs);

// How well a device ID's MFG and MDL name the model (0: not at all); on
// the same scale as the host-based drivers' score.
int psDeviceIdScore(const char* manufacturer, const char* model, const PsModel& driver);

}  // namespace tpa
