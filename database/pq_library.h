// libpq's functions, looked up in the shared library (libpq.so.5 or libpq.dll)
// when the first connection asks for them, so that the programs start and run
// without libpq until a database is used. The types come from libpq's own
// header, so a pointer's signature cannot drift from the library's.
#pragma once

#include <libpq-fe.h>

#include <string>

struct PqLibrary {
    decltype(&PQconnectStartParams) connectStartParams;
    decltype(&PQconnectPoll) connectPoll;
    decltype(&PQstatus) status;
    decltype(&PQerrorMessage) errorMessage;
    decltype(&PQsocket) socket;
    decltype(&PQfinish) finish;
    decltype(&PQsetnonblocking) setNonblocking;
    decltype(&PQsendQueryParams) sendQueryParams;
    decltype(&PQflush) flush;
    decltype(&PQconsumeInput) consumeInput;
    decltype(&PQisBusy) isBusy;
    decltype(&PQgetResult) getResult;
    decltype(&PQresultStatus) resultStatus;
    decltype(&PQresultErrorField) resultErrorField;
    decltype(&PQresultErrorMessage) resultErrorMessage;
    decltype(&PQclear) clear;
    decltype(&PQntuples) rowCount;
    decltype(&PQnfields) columnCount;
    decltype(&PQfname) columnName;
    decltype(&PQgetisnull) isNull;
    decltype(&PQgetvalue) value;
    decltype(&PQgetlength) valueLength;
    decltype(&PQconninfoParse) conninfoParse;
    decltype(&PQconninfoFree) conninfoFree;
    decltype(&PQfreemem) freeMemory;
};

// The loaded table, or null with the reason and where to get libpq in
// `error`. The library is loaded once, by whichever thread asks first; a
// failed load is tried again at the next call.
const PqLibrary* pqLibrary(std::string& error);

// The per-system part (pq_library_posix.cpp, pq_library_win32.cpp).
// Opens libpq: a handle, or null with a message saying where to get it.
void* openPqModule(std::string& error);
// A function's address in the opened library, or null.
void* pqModuleSymbol(void* module, const char* name);
// The library's file name, for messages.
const char* pqModuleName();
