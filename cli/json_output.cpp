#include "cli/json_output.h"

#include <cstdio>

void printJson(const Json& document, int indent) {
    std::printf("%s\n", document.dump(indent, ' ', false, Json::error_handler_t::replace).c_str());
}
