// POSIX: libpq.so.5 through the dynamic loader.
#include <dlfcn.h>

#include "database/pq_library.h"

const char* pqModuleName() { return "libpq.so.5"; }

void* openPqModule(std::string& error) {
    void* module = dlopen("libpq.so.5", RTLD_NOW | RTLD_LOCAL);
    if (module != nullptr) return module;
    const char* reason = dlerror();
    error = std::string("libpq.so.5, the PostgreSQL client library, cannot be loaded (") +
            (reason != nullptr ? reason : "unknown reason") +
            "): install the package libpq5 (apt-get install libpq5)";
    return nullptr;
}

void* pqModuleSymbol(void* module, const char* name) { return dlsym(module, name); }
