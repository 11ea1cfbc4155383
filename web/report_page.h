// `quorvel-cli report --html`: one self-contained HTML file with the report's
// figures and charts (yield per slot, a cycle-time histogram, boards per hour
// over time, failure reasons). The figures are the report's JSON document
// itself, built into the page, so the page and `report --json` agree; the
// chart library and the page's script are inside the file too.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "station/report_statistics.h"
#include "station/unit_record.h"

// The page for a report. `figures` is the report's JSON document, `report`
// and `records` what it was made from (for the charts' series).
std::string reportPage(const nlohmann::ordered_json& figures, const Report& report,
                       const std::vector<UnitRecord>& records);

// JSON text that is safe inside an HTML <script> element: no "<" can end the
// element or open a comment.
std::string scriptSafeJson(const nlohmann::ordered_json& document);
