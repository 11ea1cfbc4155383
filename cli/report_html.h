// report --html: the report's page written to a file.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "station/report_statistics.h"
#include "station/unit_record.h"

// Writes the page (web/report_page.h) to `outPath`; 0, or kStatusRecordsLost
// when the file cannot be written, said on standard error.
int writeReportHtml(const std::string& outPath, const nlohmann::ordered_json& figures,
                    const Report& report, const std::vector<UnitRecord>& records);
