// How loading an image file ended, for the dialog's "Load Binary File" and for
// the image files of the command line alike, and the text the user sees for it.
#pragma once

#include <string>

enum class ImageOutcome {
    Loaded,          // the image is ready
    NotOpened,       // the file could not be opened, measured or read whole
    Incompatible,    // larger than the area allows, or 2 GiB or more (beyond any block size)
    WrongBlockSize,  // the size differs from the non-zero expected size
    BadHex,          // an Intel HEX record was refused
    NoBytes,         // the file holds no image bytes: nothing to write
};

// "Incompatible File", "Wrong Block Size", ...; empty for Loaded.
std::string imageOutcomeText(ImageOutcome outcome);
