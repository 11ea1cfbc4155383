// Windows: the user's local application data folder.
#include <shlobj.h>
#include <windows.h>

#include "platform/data_folder.h"
#include "platform/system_text.h"

bool programDataFolder(std::string& folder, std::string& error) {
    PWSTR local = nullptr;
    const HRESULT found =
        SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &local);
    if (FAILED(found)) {
        error = "the local application data folder: " +
                systemErrorText(static_cast<unsigned long>(found));
        return false;
    }
    const std::wstring path = std::wstring(local) + L"\\Quorvel";
    CoTaskMemFree(local);
    if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        error = utf8FromWide(path) + ": " + systemErrorText(GetLastError());
        return false;
    }
    folder = utf8FromWide(path);
    return true;
}
