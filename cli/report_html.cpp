#include "cli/report_html.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "flashing/status.h"
#include "image/file_access.h"
#include "platform/system_text.h"
#include "web/report_page.h"

int writeReportHtml(const std::string& outPath, const nlohmann::ordered_json& figures,
                    const Report& report, const std::vector<UnitRecord>& records) {
    const std::string page = reportPage(figures, report, records);
    std::FILE* file = createOutputFile(widePath(outPath));
    bool written = file != nullptr && std::fwrite(page.data(), 1, page.size(), file) == page.size();
    const int error = errno;
    if (file != nullptr && std::fclose(file) != 0) written = false;
    if (!written) {
        std::fprintf(stderr, "quorvel-cli: cannot write the report page %s: %s\n", outPath.c_str(),
                     std::strerror(error != 0 ? error : errno));
        return kStatusRecordsLost;
    }
    std::fprintf(stderr, "report page written to %s\n", outPath.c_str());
    return kStatusOk;
}
