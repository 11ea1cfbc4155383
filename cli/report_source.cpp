#include "cli/report_source.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "flashing/status.h"
#include "image/file_access.h"
#include "platform/system_text.h"
#include "station/line_records.h"
#include "station/line_schema.h"

namespace {

// Each skipped line on standard error; a last line without its line end was
// cut short while it was being written (a crash, a power cut).
void nameSkippedLines(const std::vector<std::size_t>& skipped, const std::string& content) {
    const bool torn = !content.empty() && content.back() != '\n';
    const auto lines =
        static_cast<std::size_t>(std::count(content.begin(), content.end(), '\n')) + (torn ? 1 : 0);
    for (const std::size_t line : skipped) {
        std::fprintf(stderr, "line %zu: cannot be read, skipped%s\n", line,
                     torn && line == lines ? " (the last line, cut short)" : "");
    }
}

bool readWholeFile(const std::string& path, std::string& content) {
    std::FILE* file = openImageFile(widePath(path));
    if (file == nullptr) return false;
    char buffer[65536];
    std::size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, count);
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

// "2026-12-07" (midnight UTC) or "2026-12-07T06:00:00Z".
bool parseReportTime(const std::string& text, std::optional<std::int64_t>& millis) {
    if (text.empty()) return true;
    std::int64_t value = 0;
    if (!parseUtcMillis(text.size() == 10 ? text + "T00:00:00Z" : text, value)) return false;
    millis = value;
    return true;
}

int readLog(const ReportOptions& options, const RecordFilter& filter, ReportRecords& read) {
    std::string content;
    if (!readWholeFile(options.path, content)) {
        std::fprintf(stderr, "quorvel-cli: cannot read the station log %s: %s\n",
                     options.path.c_str(), std::strerror(errno));
        return kStatusRecordsLost;
    }
    read.lines = parseRecordLines(content);
    nameSkippedLines(read.lines.skipped, content);
    auto& records = read.lines.records;
    records.erase(std::remove_if(records.begin(), records.end(),
                                 [&](const UnitRecord& record) { return !filter.admits(record); }),
                  records.end());
    read.source = options.path;
    return kStatusOk;
}

int databaseError(const std::string& url, const DbOutcome& outcome) {
    if (outcome.failure == DbFailure::NoLibrary) {
        std::fprintf(stderr, "quorvel-cli: %s\n", outcome.message.c_str());
    } else {
        std::fprintf(stderr, "quorvel-cli: the database %s cannot be used: %s\n",
                     maskedDbUrl(url).c_str(), outcome.message.c_str());
    }
    return outcome.failure == DbFailure::BadUrl ? kStatusWrongRequest : kStatusDatabase;
}

int readDatabase(const ReportOptions& options, const RecordFilter& filter, ReportRecords& read) {
    DbSettings settings;
    settings.url = options.db.url;
    settings.timeoutMs = options.db.timeoutMs();
    DbConnection db(settings);
    const SchemaCheck schema = checkLineSchema(db);
    if (schema.state == SchemaState::Unusable) return databaseError(settings.url, schema.outcome);
    if (schema.state != SchemaState::Ready) {
        std::fprintf(stderr, "quorvel-cli: %s\n", schema.message().c_str());
        return kStatusDatabase;
    }
    DbOutcome outcome = readRecords(db, filter, read.lines);
    if (outcome.ok()) outcome = readVoidSerials(db, filter.station, read.voidSerials);
    if (!outcome.ok()) return databaseError(settings.url, outcome);
    read.source = maskedDbUrl(settings.url);
    read.fromDatabase = true;
    return kStatusOk;
}

}  // namespace

int readReportRecords(const ReportOptions& options, ReportRecords& read) {
    RecordFilter filter;
    filter.station = options.station;
    for (const auto& [text, bound, name] :
         {std::make_tuple(options.since, &filter.since, "--since"),
          std::make_tuple(options.until, &filter.until, "--until")}) {
        if (!parseReportTime(text, *bound)) {
            std::fprintf(stderr,
                         "quorvel-cli: %s: not a UTC time (2026-12-07 or 2026-12-07T06:00:00Z): "
                         "%s\n",
                         name, text.c_str());
            return kStatusWrongRequest;
        }
    }
    return options.db.url.empty() ? readLog(options, filter, read)
                                  : readDatabase(options, filter, read);
}
