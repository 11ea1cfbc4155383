#include "image/area_table.h"

#include <cwchar>
#include <iterator>

namespace {

struct AreaRow {
    const wchar_t* text;
    AreaKind kind;
    std::uint32_t base;
    std::int32_t size;
};

// The four fixed areas tile the first 256 KiB of flash; CUSTOM has no extent.
constexpr AreaRow kAreaRows[] = {
    {L"CODE", AreaKind::Code, kCodeAreaBase, kCodeAreaSize},
    {L"OEM", AreaKind::Oem, 0x3CC00u, 0x3400},
    {L"PARAMETER", AreaKind::Parameter, 0x3C000u, 0xC00},
    {L"BOOT", AreaKind::Boot, 0x0u, 0x8000},
    {L"CUSTOM", AreaKind::Custom, 0x0u, 0},
};

}  // namespace

std::wstring formatAreaAddress(std::uint32_t base, std::int32_t size) {
    wchar_t text[32];
    std::swprintf(text, std::size(text), L"0x%06x(%i)", static_cast<unsigned>(base),
                  static_cast<int>(size));
    return text;
}

AddressField applyArea(const std::wstring& areaText, AreaState& state) {
    AddressField field;
    state.downloadFlags = 0;
    for (const AreaRow& row : kAreaRows) {
        if (areaText != row.text) continue;
        state.areaBase = row.base;
        state.areaSize = row.size;
        if (row.kind == AreaKind::Code) state.downloadFlags |= kCodeAreaFlags;
        if (row.kind == AreaKind::Custom) {
            field.enabled = true;
        } else {
            field.text = formatAreaAddress(row.base, row.size);
        }
        break;
    }
    return field;
}
