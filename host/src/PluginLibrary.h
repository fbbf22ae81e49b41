// The plug-in's shared library: dlopen, the entry point, dlclose.
#pragma once

#include <string>

#include "AE_Effect.h"
#include "AE_PluginData.h"

namespace TEV::Host {

class PluginLibrary {
public:
    PluginLibrary() = default;
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    // HostError with the path and the loader's text when the library does not
    // load or exports no "EffectMain"; a library already open is closed first.
    void open(const std::string& path);
    void close();
    bool isOpen() const { return handle_ != nullptr; }
    const std::string& path() const { return path_; }

    PF_FilterProc entry() const { return entry_; }
    // The optional registration entries; null when not exported.
    PluginDataEntryFunction2Ptr dataEntry2() const { return data_entry2_; }
    PluginDataEntryFunctionPtr dataEntry() const { return data_entry_; }

private:
    void* handle_ = nullptr;
    std::string path_;
    PF_FilterProc entry_ = nullptr;
    PluginDataEntryFunction2Ptr data_entry2_ = nullptr;
    PluginDataEntryFunctionPtr data_entry_ = nullptr;
};

}  // namespace TEV::Host
