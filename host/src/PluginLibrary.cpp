#include "PluginLibrary.h"

#include <dlfcn.h>

#include "tevhost/HostError.h"

namespace TEV::Host {

PluginLibrary::~PluginLibrary() { close(); }

void PluginLibrary::open(const std::string& path) {
    close();
    dlerror();
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        throw HostError("cannot load plug-in '" + path + "': " + (why ? why : "unknown loader error"));
    }
    dlerror();
    void* entry = dlsym(handle, AE_ENTRY_POINT);
    if (!entry) {
        const char* why = dlerror();
        std::string detail = why ? std::string(": ") + why : std::string();  // copied: dlclose frees it
        dlclose(handle);
        throw HostError("plug-in '" + path + "' has no entry point '" AE_ENTRY_POINT "'" + detail);
    }
    handle_ = handle;
    path_ = path;
    entry_ = reinterpret_cast<PF_FilterProc>(entry);
    data_entry2_ = reinterpret_cast<PluginDataEntryFunction2Ptr>(dlsym(handle, "PluginDataEntryFunction2"));
    data_entry_ = reinterpret_cast<PluginDataEntryFunctionPtr>(dlsym(handle, "PluginDataEntryFunction"));
}

void PluginLibrary::close() {
    if (handle_) {
        dlclose(handle_);
    }
    handle_ = nullptr;
    entry_ = nullptr;
    data_entry2_ = nullptr;
    data_entry_ = nullptr;
    path_.clear();
}

}  // namespace TEV::Host
