// The station page's files and the chart library, built into the program
// from web/assets (and Debian's Chart.js) by CMake, so that the page needs
// nothing from outside the station.
#pragma once

#include <cstddef>
#include <string>

struct WebAsset {
    const char* name;         // "station.js"
    const char* contentType;  // "text/javascript; charset=utf-8"
    const char* data;
    std::size_t size;
};

// The asset of that name, or null.
const WebAsset* findWebAsset(const std::string& name);

// The asset's text; the program was built with all of them, so a missing name is a build fault.
std::string webAssetText(const std::string& name);
