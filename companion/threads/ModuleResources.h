// Port: raw-data (RCDATA) resources of a loaded module, found by the module's file
// name ("Ostrel.dll"). False when the module is not loaded under that name or the
// resource is missing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ResourceIds.h"

constexpr int kVersionStampResource = IDR_VERSION_STAMP;
constexpr int kSignatureListResource = IDR_SIGNATURE_LIST;

class ModuleResources {
  public:
    virtual ~ModuleResources() = default;
    virtual bool ReadRawData(const std::string& moduleName, int resourceId,
                             std::vector<uint8_t>& out) = 0;
};
