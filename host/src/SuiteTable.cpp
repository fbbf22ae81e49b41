// Every suite the host offers, by name and version: what the basic suite's
// AcquireSuite looks up.
#include <map>
#include <utility>

#include "HostImpl.h"
#include "Suites.h"
#include "adobesdk/DrawbotSuite.h"

namespace TEV::Host {

const void* findSuite(const std::string& name, int version) {
    using Key = std::pair<std::string, int>;
    static const std::map<Key, const void*> table{
        {{kPFHandleSuite, kPFHandleSuiteVersion1}, &pfHandleSuite1()},
        {{kPFEffectUISuite, kPFEffectUISuiteVersion1}, &pfEffectUISuite1()},
        {{kPFParamUtilsSuite, kPFParamUtilsSuiteVersion3}, &pfParamUtilsSuite3()},
        {{kPFWorldSuite, kPFWorldSuiteVersion2}, &pfWorldSuite2()},
        {{kPFEffectSequenceDataSuite, kPFEffectSequenceDataSuiteVersion1}, &pfEffectSequenceDataSuite1()},
        {{kPFIterate8Suite, kPFIterate8SuiteVersion1}, &pfIterate8Suite1()},
        {{kPFIterate16Suite, kPFIterate16SuiteVersion1}, &pfIterate16Suite1()},
        {{kPFIterateFloatSuite, kPFIterateFloatSuiteVersion1}, &pfIterateFloatSuite1()},
        {{kDRAWBOT_DrawSuite, kDRAWBOT_DrawSuite_VersionCurrent}, drawbotToken(0)},
        {{kDRAWBOT_SupplierSuite, kDRAWBOT_SupplierSuite_VersionCurrent}, drawbotToken(1)},
        {{kDRAWBOT_SurfaceSuite, kDRAWBOT_SurfaceSuite_VersionCurrent}, drawbotToken(2)},
        {{kDRAWBOT_PathSuite, kDRAWBOT_PathSuite_VersionCurrent}, drawbotToken(3)},
        {{kAEGPUtilitySuite, kAEGPUtilitySuiteVersion5}, &aegpUtilitySuite5()},
        {{kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1}, &aegpPFInterfaceSuite1()},
        {{kAEGPEffectSuite, kAEGPEffectSuiteVersion2}, &aegpEffectSuite2()},
        {{kAEGPStreamSuite, kAEGPStreamSuiteVersion2}, &aegpStreamSuite2()},
        {{kAEGPStreamSuite, kAEGPStreamSuiteVersion5}, &aegpStreamSuite5()},
        {{kAEGPDynamicStreamSuite, kAEGPDynamicStreamSuiteVersion2}, &aegpDynamicStreamSuite2()},
        {{kAEGPPersistentDataSuite, kAEGPPersistentDataSuiteVersion3}, &aegpPersistentDataSuite3()},
    };
    auto it = table.find({name, version});
    return it == table.end() ? nullptr : it->second;
}

}  // namespace TEV::Host
