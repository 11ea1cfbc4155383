#include "database/pq_library.h"

#include <mutex>

namespace {

// Looks every function up; false with the first missing one's name.
bool fillTable(void* module, PqLibrary& table, std::string& missing) {
    bool complete = true;
    auto find = [&](auto& pointer, const char* name) {
        pointer = reinterpret_cast<std::remove_reference_t<decltype(pointer)>>(
            pqModuleSymbol(module, name));
        if (pointer == nullptr && complete) {
            complete = false;
            missing = name;
        }
    };
    find(table.connectStartParams, "PQconnectStartParams");
    find(table.connectPoll, "PQconnectPoll");
    find(table.status, "PQstatus");
    find(table.errorMessage, "PQerrorMessage");
    find(table.socket, "PQsocket");
    find(table.finish, "PQfinish");
    find(table.setNonblocking, "PQsetnonblocking");
    find(table.sendQueryParams, "PQsendQueryParams");
    find(table.flush, "PQflush");
    find(table.consumeInput, "PQconsumeInput");
    find(table.isBusy, "PQisBusy");
    find(table.getResult, "PQgetResult");
    find(table.resultStatus, "PQresultStatus");
    find(table.resultErrorField, "PQresultErrorField");
    find(table.resultErrorMessage, "PQresultErrorMessage");
    find(table.clear, "PQclear");
    find(table.rowCount, "PQntuples");
    find(table.columnCount, "PQnfields");
    find(table.columnName, "PQfname");
    find(table.isNull, "PQgetisnull");
    find(table.value, "PQgetvalue");
    find(table.valueLength, "PQgetlength");
    find(table.conninfoParse, "PQconninfoParse");
    find(table.conninfoFree, "PQconninfoFree");
    find(table.freeMemory, "PQfreemem");
    return complete;
}

}  // namespace

const PqLibrary* pqLibrary(std::string& error) {
    static std::mutex mutex;
    static PqLibrary table;
    static bool loaded = false;
    std::lock_guard<std::mutex> lock(mutex);
    if (loaded) return &table;
    // The handle stays open for the program's life: the table points into it.
    void* module = openPqModule(error);
    if (module == nullptr) return nullptr;
    std::string missing;
    if (!fillTable(module, table, missing)) {
        error = std::string(pqModuleName()) + " lacks " + missing +
                ": it is older than PostgreSQL 9.3's; install a newer one";
        return nullptr;
    }
    loaded = true;
    return &table;
}
