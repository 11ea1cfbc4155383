// Windows: libpq.dll, from the program's folder or the PATH. The DLLs it needs
// (OpenSSL's, zlib, libintl...) come with it in PostgreSQL's bin folder.
#include <windows.h>

#include "database/pq_library.h"
#include "platform/system_text.h"

const char* pqModuleName() { return "libpq.dll"; }

void* openPqModule(std::string& error) {
    HMODULE module = LoadLibraryW(L"libpq.dll");
    if (module != nullptr) return reinterpret_cast<void*>(module);
    const DWORD code = GetLastError();
    error = "libpq.dll, the PostgreSQL client library, cannot be loaded (" + systemErrorText(code) +
            "): it comes with PostgreSQL's Windows installer or its client binaries "
            "(https://www.postgresql.org/download/windows/); put their bin folder "
            "(libpq.dll and the DLLs beside it) on the PATH, or copy those DLLs beside "
            "quorvel-cli.exe";
    return nullptr;
}

void* pqModuleSymbol(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(module), name));
}
