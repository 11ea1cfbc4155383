// The folder where the program keeps what it writes on its own: a station's
// default log. One implementation per system (data_folder_posix.cpp,
// data_folder_win32.cpp).
#pragma once

#include <string>

// The folder, UTF-8, created with its parents when missing: $XDG_DATA_HOME/quorvel
// or ~/.local/share/quorvel on POSIX, %LOCALAPPDATA%\Quorvel on Windows. False
// with the system's text when it cannot be made.
bool programDataFolder(std::string& folder, std::string& error);
