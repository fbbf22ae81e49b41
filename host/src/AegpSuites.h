// What the AEGP suite sources share: checks of the ids and references that
// the plug-in hands back to the host.
#pragma once

#include "AE_GeneralPlug.h"
#include "HostImpl.h"

namespace TEV::Host {

// Records a misuse naming `who` when `id` is not one that
// AEGP_RegisterWithAEGP returned (AegpUtility.cpp).
void checkPluginId(HeadlessHost::Impl& host, AEGP_PluginID id, const char* who);

// The live effect reference behind h, or null, recorded as a misuse naming
// `who` (AegpEffect.cpp).
EffectRef* effectRef(HeadlessHost::Impl& host, AEGP_EffectRefH h, const char* who);

}  // namespace TEV::Host
