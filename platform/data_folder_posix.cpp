// POSIX: the XDG data folder.
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

#include "platform/data_folder.h"
#include "platform/system_text.h"

namespace {

bool makeFolder(const std::string& path, std::string& error) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            error = part + ": " + systemErrorText(static_cast<unsigned long>(errno));
            return false;
        }
        if (slash == std::string::npos) return true;
    }
}

}  // namespace

bool programDataFolder(std::string& folder, std::string& error) {
    const char* data = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (data != nullptr && data[0] == '/') {
        folder = std::string(data) + "/quorvel";
    } else if (home != nullptr && home[0] == '/') {
        folder = std::string(home) + "/.local/share/quorvel";
    } else {
        error = "neither XDG_DATA_HOME nor HOME names a folder";
        return false;
    }
    return makeFolder(folder, error);
}
