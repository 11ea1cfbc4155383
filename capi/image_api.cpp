// The C API's images: loaded from a file or made from bytes, held by the
// library until the caller destroys them.
#include <cstring>
#include <memory>

#include "capi/api_support.h"
#include "capi/quorvel.h"
#include "capi/result_values.h"
#include "image/code_image.h"
#include "platform/system_text.h"
#include "station/image_digest.h"

extern "C" {

int quorvel_image_load(const char* path, quorvel_image** image, quorvel_result* result) {
    return guarded(result, [&] {
        if (image != nullptr) *image = nullptr;
        if (path == nullptr || image == nullptr)
            return wrongArgument(result, "no path or no image");
        if (!resultUsable(result)) return QUORVEL_STATUS_ARGUMENTS;
        CodeImage loaded = loadCodeImage(widePath(path));
        const quorvel_result filled = imageResult(loaded);
        if (loaded.outcome != ImageOutcome::Loaded) return deliver(filled, result);
        // The file's digest for a station's records, taken now: the file may change later.
        std::string digest;
        std::string error;
        if (!fileSha256(path, digest, error)) {
            return badImage(result, ImageOutcome::NotOpened, std::string(path) + ": " + error);
        }
        *image = new quorvel_image{std::move(loaded), path, digest};
        return deliver(filled, result);
    });
}

int quorvel_image_from_bytes(const void* data, size_t size, uint32_t address, quorvel_image** image,
                             quorvel_result* result) {
    return guarded(result, [&] {
        if (image != nullptr) *image = nullptr;
        if (image == nullptr || (data == nullptr && size > 0)) {
            return wrongArgument(result, "no data or no image");
        }
        if (!resultUsable(result)) return QUORVEL_STATUS_ARGUMENTS;
        if (size == 0) {
            return badImage(result, ImageOutcome::NoBytes, imageOutcomeText(ImageOutcome::NoBytes));
        }
        const std::uint64_t end = std::uint64_t{address} + size;
        if (address < kCodeWindowStart || end > kCodeWindowEnd) {
            return badImage(result, ImageOutcome::Incompatible,
                            "the bytes from " + hexAddress(address) + " to " + hexAddress(end - 1) +
                                " do not lie inside the CODE area (" +
                                hexAddress(kCodeWindowStart) + " to " +
                                hexAddress(kCodeWindowEnd - 1) + ")");
        }
        auto block = std::make_unique<ImageBlock>();
        block->targetAddress = address;
        block->byteCount = static_cast<std::int32_t>(size);
        block->data = std::make_unique<std::uint8_t[]>(size);
        std::memcpy(block->data.get(), data, size);
        auto made = std::make_unique<quorvel_image>();
        made->image.outcome = ImageOutcome::Loaded;
        made->image.blocks.push_back(std::move(block));
        made->image.downloadFlags = kCodeAreaFlags;
        const int status = deliver(imageResult(made->image), result);
        *image = made.release();
        return status;
    });
}

int quorvel_image_bytes(const quorvel_image* image, int64_t* bytes) {
    if (image == nullptr || bytes == nullptr) return QUORVEL_STATUS_ARGUMENTS;
    *bytes = image->image.byteCount();
    return QUORVEL_STATUS_OK;
}

int quorvel_image_destroy(quorvel_image* image) {
    delete image;
    return QUORVEL_STATUS_OK;
}

}  // extern "C"
