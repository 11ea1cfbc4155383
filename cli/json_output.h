// The command line's one way to print a JSON document on standard output.
#pragma once

#include <nlohmann/json.hpp>

using Json = nlohmann::ordered_json;

// Bytes that are not UTF-8 (a file name, a device's text) are replaced.
void printJson(const Json& document, int indent = 2);
