// Small PPD files written by the tests.
#pragma once

#include <string>

// A minimal PPD for `model` with the given extra lines (options, texts).
std::string makePpdText(const std::string& model, const std::string& extra = "");

// A PPD option block: keyword, default choice and choices.
std::string ppdOption(const std::string& keyword, const std::string& def,
                      std::initializer_list<const char*> choices);
