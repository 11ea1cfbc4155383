// The driver's scenarios. Each starts its own Quorvel session, reports every
// check on a line of its own and returns the number of failed checks.
#pragma once

#include <string>

namespace gui {

// Without a device: the dialog at start, the about box, the open-file dialog.
int startupScenario(const std::wstring& exe);
int aboutScenario(const std::wstring& exe);
int openFileScenario(const std::wstring& exe);

// Against the simulated device of scripts/with-device.sh.
int connectScenario(const std::wstring& exe);
int downloadFromAppScenario(const std::wstring& exe);
// A refused data packet and the retry, then a device silent mid-transfer.
int downloadFailuresScenario(const std::wstring& exe);
int downloadBlScenario(const std::wstring& exe);
int bootSwitchScenario(const std::wstring& exe);
int oneDownloadScenario(const std::wstring& exe);
// Paced at 115 200 baud: prints the time of a 212 992-byte download beside
// the line-rate bound.
int downloadTimingScenario(const std::wstring& exe);

}  // namespace gui
