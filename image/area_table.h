// The target areas of the device's flash: which stretch an image goes to, the
// size an image for it must have, and what the dialog shows for it.
#pragma once

#include <cstdint>
#include <string>

enum class AreaKind { Code, Oem, Parameter, Boot, Custom };

// Flags word bit pattern that tells the boot loader the image is application code.
constexpr std::uint32_t kCodeAreaFlags = 0xA5A50000u;

// Device addresses are the flash-relative base plus the flash's own start.
constexpr std::uint32_t kFlashStartAddress = 0x100000u;

// The CODE area: its flash-relative base, and the largest image it holds.
constexpr std::uint32_t kCodeAreaBase = 0x8000u;
constexpr std::int32_t kCodeAreaSize = 0x34000;

// The dialog state that choosing an area changes.
struct AreaState {
    std::uint32_t downloadFlags = 0;
    std::uint32_t areaBase = 0;
    std::int32_t areaSize = 0;  // 0 = any size
};

// How the address field looks once an area text has been applied.
struct AddressField {
    std::wstring text;
    bool enabled = false;
};

// Looks up the area by its exact, case-sensitive text. Known areas set base and
// size; an unknown text leaves them as they were. The flags word is always reset
// first, so only CODE leaves it non-zero.
AddressField applyArea(const std::wstring& areaText, AreaState& state);

// The address field text for a base and size: "0x%06x(%i)".
std::wstring formatAreaAddress(std::uint32_t base, std::int32_t size);
