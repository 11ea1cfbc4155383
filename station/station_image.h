// A station's image, read once at start-up.
#pragma once

#include <string>

#include "image/code_image.h"

// Loads the image file as the command line does. The loader examines the file
// with no sharing, so a file that another station (or a sync client) holds
// for a moment is tried again for a second before it counts as unreadable:
// several stations started together on one release file all start. A file
// that cannot be used is therefore refused a second late.
CodeImage loadStationImage(const std::string& path);
