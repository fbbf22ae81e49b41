// Shared set-up for the host tests: a host with test_effect loaded and set up.
#pragma once

#include <gtest/gtest.h>

#include "AE_EffectCBSuites.h"
#include "AE_EffectSuites.h"
#include "AE_EffectVers.h"
#include "AE_GeneralPlug.h"
#include "Param_Utils.h"
#include "tevhost/HeadlessHost.h"

namespace TEV::Host::Testing {

// Parameter indices of test_effect.
enum { kReset = 1, kGain, kInvert, kMode, kStamp };
enum { kModeCopy = 1, kModeCount, kModeThrow, kModeFail };

// Loads `path`, runs global and parameter setup and applies one instance.
struct LoadedEffect {
    explicit LoadedEffect(HostOptions options = {}, const char* path = TEST_EFFECT_PATH)
        : host(std::move(options)) {
        host.load(path);
        host.globalSetup().expectOk();
        host.paramsSetup().expectOk();
        inst = host.createInstance();
    }
    HeadlessHost host;
    InstanceId inst = 0;
};

}  // namespace TEV::Host::Testing
