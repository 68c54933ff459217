// Load-time behaviour: the install-location check runs once when the library is loaded; no
// allocation happens at load.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

#include "platform/orvane_platform.h"

namespace orvane::platform {
namespace {

__attribute__((constructor)) void CheckInstallLocationAtLoad() {
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&CheckInstallLocationAtLoad), &info) == 0 ||
        info.dli_fname == nullptr) {
        return;
    }
    static char message[32768];
    if (IsInstalledInSystemDirectory(info.dli_fname, SystemDirectories(), message,
                                     static_cast<int32_t>(sizeof message))) {
        std::fprintf(stderr, "Fatal Orvane Installation Error: %s\n", message);
        std::abort();
    }
}

}  // namespace
}  // namespace orvane::platform
