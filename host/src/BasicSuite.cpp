// The basic suite: suite lookup by name and version, withholding, books.
#include <cstdlib>
#include <cstring>

#include "HostImpl.h"

namespace TEV::Host {

namespace {

bool withheld(const HostOptions& options, const char* name, int32 version) {
    for (const SuiteId& id : options.withheld_suites) {
        if (id.name == name && (id.version == SuiteId::kAnyVersion || id.version == version)) {
            return true;
        }
    }
    return false;
}

SPErr acquireSuite(const char* name, int32 version, const void** suite) {
    if (!suite) {
        return kSPBadParameterError;
    }
    *suite = nullptr;
    HeadlessHost::Impl* host = currentHost();
    if (!host || !name) {
        return kSPBadParameterError;
    }
    const void* table = withheld(host->options, name, version) ? nullptr : findSuite(name, version);
    return host->books.with([&](Books& b) {
        if (!table) {
            b.suites_refused.emplace_back(name, version);
            if (host->options.withholding == Withholding::NullWithoutError &&
                withheld(host->options, name, version)) {
                ++b.suites[{name, version}].acquired;
                return kSPNoError;
            }
            return kSPUnimplementedError;
        }
        ++b.suites[{name, version}].acquired;
        *suite = table;
        return kSPNoError;
    });
}

SPErr releaseSuite(const char* name, int32 version) {
    HeadlessHost::Impl* host = currentHost();
    if (!host || !name) {
        return kSPBadParameterError;
    }
    return host->books.with([&](Books& b) {
        auto it = b.suites.find({name, version});
        if (it == b.suites.end() || it->second.released >= it->second.acquired) {
            b.misuse.push_back("ReleaseSuite of \"" + std::string(name) + "\" " + std::to_string(version) +
                               " that is not acquired");
            return kSPBadParameterError;
        }
        ++it->second.released;
        return kSPNoError;
    });
}

SPBoolean isEqual(const char* a, const char* b) { return a && b && std::strcmp(a, b) == 0; }

SPErr allocateBlock(size_t size, void** block) {
    if (!block) {
        return kSPBadParameterError;
    }
    *block = std::malloc(size ? size : 1);
    if (!*block) {
        return kSPBadParameterError;
    }
    if (HeadlessHost::Impl* host = currentHost()) {
        host->books.with([](Books& b) { ++b.blocks_allocated; });
    }
    return kSPNoError;
}

SPErr freeBlock(void* block) {
    std::free(block);
    if (HeadlessHost::Impl* host = currentHost(); host && block) {
        host->books.with([](Books& b) { ++b.blocks_freed; });
    }
    return kSPNoError;
}

SPErr reallocateBlock(void* block, size_t size, void** new_block) {
    if (!new_block) {
        return kSPBadParameterError;
    }
    if (!block) {
        return allocateBlock(size, new_block);
    }
    void* moved = std::realloc(block, size ? size : 1);
    if (!moved) {
        return kSPBadParameterError;
    }
    *new_block = moved;
    return kSPNoError;
}

SPErr undefinedCall() {
    if (HeadlessHost::Impl* host = currentHost()) {
        host->noteUnsupported("SPBasicSuite");
    }
    return kSPUnimplementedError;
}

}  // namespace

SPBasicSuite makeBasicSuite() {
    return SPBasicSuite{&acquireSuite, &releaseSuite, &isEqual, &allocateBlock,
                        &freeBlock,    &reallocateBlock, &undefinedCall};
}

}  // namespace TEV::Host
