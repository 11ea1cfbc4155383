#include "image/image_outcome.h"

std::string imageOutcomeText(ImageOutcome outcome) {
    switch (outcome) {
        case ImageOutcome::Loaded:
            return "";
        case ImageOutcome::NotOpened:
            return "cannot open the image file";
        case ImageOutcome::Incompatible:
            return "Incompatible File";
        case ImageOutcome::WrongBlockSize:
            return "Wrong Block Size";
        case ImageOutcome::BadHex:
            return "not a valid Intel HEX file";
        case ImageOutcome::NoBytes:
            return "the image holds no bytes";
    }
    return "";
}
