#include "NativeStatement.h"

#include <cstring>
#include <string>

#include <dlfcn.h>
#include <link.h>

bool driverSharesFunction(const char* driverFile, const char* symbol, const void* ours) {
    struct Search {
        const char* file;
        std::string path;
    } search{driverFile, {}};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            auto* search = static_cast<Search*>(data);
            if (info->dlpi_name && std::strstr(info->dlpi_name, search->file)) {
                search->path = info->dlpi_name;
                return 1;
            }
            return 0;
        },
        &search);
    if (search.path.empty())
        return false;
    void* library = dlopen(search.path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (!library)
        return false;
    const bool same = dlsym(library, symbol) == ours;
    dlclose(library);
    return same;
}
