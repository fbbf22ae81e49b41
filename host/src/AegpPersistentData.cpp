// AEGP Persistent Data Suite: the application's preferences blob, text
// entries by section and key.
#include <cstring>
#include <iterator>
#include <utility>

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

// Runs f on the blob's preferences under their lock when `blob` is this
// host's blob and `valid` holds; A_Err_PARAMETER otherwise.
template <typename F>
A_Err withPreferences(AEGP_PersistentBlobH blob, bool valid, F&& f) {
    HeadlessHost::Impl* host = blobHost(blob);
    if (!host || !valid) {
        return A_Err_PARAMETER;
    }
    return host->persistent.with(std::forward<F>(f));
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
    return withPreferences(blob, count, [&](const Preferences& p) -> A_Err {
        *count = static_cast<A_long>(p.size());
        return A_Err_NONE;
    });
}

A_Err copyKey(const std::string& key, A_long max_size, A_char* out) {
    if (!out || max_size <= 0 || static_cast<A_long>(key.size()) >= max_size) {
        return A_Err_PARAMETER;
    }
    std::memcpy(out, key.c_str(), key.size() + 1);
    return A_Err_NONE;
}

A_Err getSectionKeyByIndex(AEGP_PersistentBlobH blob, A_long index, A_long max_size, A_char* key) {
    return withPreferences(blob, true, [&](const Preferences& p) -> A_Err {
        if (index < 0 || index >= static_cast<A_long>(p.size())) {
            return A_Err_PARAMETER;
        }
        return copyKey(std::next(p.begin(), index)->first, max_size, key);
    });
}

A_Err doesKeyExist(AEGP_PersistentBlobH blob, const A_char* section, const A_char* key, A_Boolean* exists) {
    return withPreferences(blob, section && key && exists, [&](const Preferences& p) -> A_Err {
        auto it = p.find(section);
        *exists = it != p.end() && it->second.count(key);
        return A_Err_NONE;
    });
}

A_Err getNumKeys(AEGP_PersistentBlobH blob, const A_char* section, A_long* count) {
    return withPreferences(blob, section && count, [&](const Preferences& p) -> A_Err {
        auto it = p.find(section);
        *count = it == p.end() ? 0 : static_cast<A_long>(it->second.size());
        return A_Err_NONE;
    });
}

A_Err getValueKeyByIndex(AEGP_PersistentBlobH blob, const A_char* section, A_long index,
                         A_long max_size, A_char* key) {
    return withPreferences(blob, section, [&](const Preferences& p) -> A_Err {
        auto it = p.find(section);
        if (it == p.end() || index < 0 || index >= static_cast<A_long>(it->second.size())) {
            return A_Err_PARAMETER;
        }
        return copyKey(std::next(it->second.begin(), index)->first, max_size, key);
    });
}

A_Err getString(AEGP_PersistentBlobH blob, const A_char* section, const A_char* key,
                const A_char* default0, A_u_long buf_size, A_char* buf, A_u_long* actual0) {
    return withPreferences(blob, section && key, [&](Preferences& p) -> A_Err {
        auto& entries = p[section];
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
    });
}

A_Err setString(AEGP_PersistentBlobH blob, const A_char* section, const A_char* key, const A_char* value) {
    return withPreferences(blob, section && key && value, [&](Preferences& p) -> A_Err {
        p[section][key] = value;
        return A_Err_NONE;
    });
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

const AEGP_PersistentDataSuite3& aegpPersistentDataSuite3() { return builtOnce<makePersistentData>(); }

}  // namespace TEV::Host
