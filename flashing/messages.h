// Every text the user sees for a device's outcomes, in one place: the
// dialog's boxes and log lines, and what the command line says of a failure.
#pragma once

#include <string>

#include "protocol/transfer.h"

struct FlashResult;
struct IdentifyResult;

// Message boxes.
constexpr const char* kNoDeviceMessage = "The comport is wrong or the device is off. \n";
constexpr const char* kCheckCableMessage = "check cable.\n";
constexpr const char* kNoImageMessage = "No image is loaded. \nLoad a binary file first.\n";
// "Communication Error \n" followed by the transfer's result code.
std::string communicationErrorMessage(const TransferResult& transfer);

// Lines of the progress log.
constexpr const char* kConnectedLine = "connected.\n";
constexpr const char* kDisconnectedLine = "disconnected.\n";
constexpr const char* kDownloadCompletedLine = "download completed. please wait ...\n";
constexpr const char* kFinishedLine = "finished.\n";

// What a transfer's end means for the user ("written", "the device refused a
// data packet (status 2)", "the port failed: <OS text>").
std::string transferEndText(const TransferResult& transfer);

// Why a job did not succeed, for a person: the dialog's message on one line
// and what lies behind it; for a written device whose pause was cut short,
// says so. Empty for a plain success.
std::string jobDetailText(const FlashResult& result);
std::string jobDetailText(const IdentifyResult& result);

// A few words on why a job failed, for a station's board and its records:
// "no device", "port lost", "packet damaged (-9978)"; empty for a success.
std::string jobReasonText(const FlashResult& result);

// A dialog message on one line: "Communication Error \n-9978" reads
// "Communication Error -9978".
std::string singleLine(const std::string& message);
