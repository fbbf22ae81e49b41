// AEGP Persistent Data Suite: the application's preferences blob, text
// entries by section and key.
#include <cstring>
#include <iterator>

#include "AE_GeneralPlug.h"
#include "Suites.h"
#include "Unsupported.h"

namespace TEV::Host {

namespace {

constexpr char kPersistentData[] = "AEGP Persistent Data Suite";

// The blob handle is the host itself: one application blob per host.
HeadlessHost::Impl* blobHost(AEGP_PersistentBlobH blob) {
    HeadlessHost::Impl* host = currentHost();
    return host && reinterpret_cast<HeadlessHost::Impl*>(blob) == host ? host : nullptr;
}

A_Err getApplicationBlob(AEGP_PersistentBlobH* blob) {
    HeadlessHost::Impl* host = currentHost();
    if (!host || !blob) {
        return A_Err_PARAMETER;
    }
    *blob = reinterpret_cast<AEGP_PersistentBlobH>(host);
    return A_Err_NONE;
}

A_Err getNumSections(AEGP_PersistentBlobH blob, A_long* count) {
    HeadlessHost::Impl* host = blobHost(blob);
    if (!host || !count) {
        return A_Err_PARAMETER;
    }
    std::lock_guard<std::mutex> lock(host->mutex);
    *count = static_cast<A_long>(host->persistent.size());
    return A_Err_NONE;
}

A_Err copyKey(const std::string& key, A_long max_size, A_char* out) {
    if (!out || max_size <= 0 || static_cast<A_long>(key.size()) >= max_size) {
        return A_Err_PARAMETER;
    }
    std::memcpy(out, key.c_str(), key.size() + 1);
    return A_Err_NONE;
}

A_Err getSectionKeyByIndex(AEGP_PersistentBlobH blob, A_long index, A_long max_size, A_char* key) {
    HeadlessHost::Impl* host = blobHost(blob);
    if (!host) {
        return A_Err_PARAMETER;
    }
    std::lock_guard<std::mutex> lock(host->mutex);
    if (index < 0 || index >= static_cast<A_long>(host->persistent.size())) {
        return A_Err_PARAMETER;
    }
    return copyKey(std::next(host->persistent.begin(), index)->first, max_size, key);
}

A_Err doesKeyExist(AEGP_PersistentBlobH blob, const A_char* section, const A_char* key, A_Boolean* exists) {
    HeadlessHost::Impl* host = blobHost(blob);
    if (!host || !section || !key || !exists) {
        return A_Err_PARAMETER;
    }
    std::lock_guard<std::mutex> lock(host->mutex);
    auto it = host->persistent.find(section);
    *exists = it != host->persistent.end() && it->second.count(key);
    return A_Err_NONE;
}

A_Err getNumKeys(AEGP_PersistentBlobH blob, const A_char* section, A_long* count) {
    HeadlessHost::Impl* host = blobHost(blob);
    if (!host || !section || !count) {
        return A_Err_PARAMETER;
    }
    std::lock_guard<std::mutex> lock(host->mutex);
    auto it = host->persistent.find(section);
    *count = it == host->persistent.end() ? 0 : static_cast<A_long>(it->second.size());
    return A_Err_NONE;
}

A_Err getValueKeyByIndex(AEGP_PersistentBlobH blob, const A_char* section, A_long index,
                         A_long max_size, A_char* key) {
    HeadlessHost::Impl* host = blobHost(blob);
    if (!host || !section) {
        return A_Err_PARAMETER;
    }
    std::lock_guard<std::mutex> lock(host->mutex);
    auto it = host->persistent.find(section);
    if (it == host->persistent.end() || index < 0 || index >= static_cast<A_long>(it->second.size())) {
        return A_Err_PARAMETER;
    }
    return copyKey(std::next(it->second.begin(), index)->first, max_size, key);
}

A_Err getString(AEGP_PersistentBlobH blob, const A_char* section, const A_char* key,
                const A_char* default0, A_u_long buf_size, A_char* buf, A_u_long* actual0) {
    HeadlessHost::Impl* host = blobHost(blob);
    if (!host || !section || !key) {
        return A_Err_PARAMETER;
    }
    std::lock_guard<std::mutex> lock(host->mutex);
    auto& entries = host->persistent[section];
    auto it = entries.find(key);
    if (it == entries.end()) {
        // A missing key takes the default, which is stored as well.
        it = entries.emplace(key, default0 ? default0 : "").first;
    }
    const std::string& value = it->second;
    if (actual0) {
        *actual0 = static_cast<A_u_long>(value.size() + 1);
    }
    if (buf && buf_size > 0) {
        if (value.size() + 1 <= buf_size) {
            std::memcpy(buf, value.c_str(), value.size() + 1);
        } else {
            buf[0] = 0;  // too small: the empty text
        }
    }
    return A_Err_NONE;
}

A_Err setString(AEGP_PersistentBlobH blob, const A_char* section, const A_char* key, const A_char* value) {
    HeadlessHost::Impl* host = blobHost(blob);
    if (!host || !section || !key || !value) {
        return A_Err_PARAMETER;
    }
    std::lock_guard<std::mutex> lock(host->mutex);
    host->persistent[section][key] = value;
    return A_Err_NONE;
}

AEGP_PersistentDataSuite3 makePersistentData() {
    AEGP_PersistentDataSuite3 s{};
    s.AEGP_GetApplicationBlob = &getApplicationBlob;
    s.AEGP_GetNumSections = &getNumSections;
    s.AEGP_GetSectionKeyByIndex = &getSectionKeyByIndex;
    s.AEGP_DoesKeyExist = &doesKeyExist;
    s.AEGP_GetNumKeys = &getNumKeys;
    s.AEGP_GetValueKeyByIndex = &getValueKeyByIndex;
    TEV_HOST_UNSUPPORTED(s, AEGP_GetDataHandle, kPersistentData);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetData, kPersistentData);
    s.AEGP_GetString = &getString;
    TEV_HOST_UNSUPPORTED(s, AEGP_GetLong, kPersistentData);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetFpLong, kPersistentData);
    TEV_HOST_UNSUPPORTED(s, AEGP_SetDataHandle, kPersistentData);
    TEV_HOST_UNSUPPORTED(s, AEGP_SetData, kPersistentData);
    s.AEGP_SetString = &setString;
    TEV_HOST_UNSUPPORTED(s, AEGP_SetLong, kPersistentData);
    TEV_HOST_UNSUPPORTED(s, AEGP_SetFpLong, kPersistentData);
    TEV_HOST_UNSUPPORTED(s, AEGP_DeleteEntry, kPersistentData);
    TEV_HOST_UNSUPPORTED(s, AEGP_GetPrefsDirectory, kPersistentData);
    return s;
}

}  // namespace

const AEGP_PersistentDataSuite3& aegpPersistentDataSuite3() {
    static const AEGP_PersistentDataSuite3 suite = makePersistentData();
    return suite;
}

}  // namespace TEV::Host
