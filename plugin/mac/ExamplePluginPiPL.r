/* The effect's resource description, read by the host from the bundle.
   Its flags and version come from EffectInfo.h, the same definitions that
   global setup writes, so the two cannot drift apart. */
#include "AE_EffectVers.h"
#include "EffectInfo.h"

#ifndef TEV_PIPL_CHECK
#include "AEConfig.h"
#include "AE_General.r"
#endif

resource 'PiPL' (16000) {
	{
		Kind {
			AEEffect
		},
		Name {
			EFFECT_NAME
		},
		Category {
			EFFECT_CATEGORY
		},
		CodeMacIntel64 {"EffectMain"},
		CodeMacARM64 {"EffectMain"},
		AE_PiPL_Version {
			2,
			0
		},
		AE_Effect_Spec_Version {
			PF_PLUG_IN_VERSION,
			PF_PLUG_IN_SUBVERS
		},
		AE_Effect_Version {
			EFFECT_VERSION_WORD
		},
		AE_Effect_Info_Flags {
			0
		},
		AE_Effect_Global_OutFlags {
			EFFECT_OUT_FLAGS
		},
		AE_Effect_Global_OutFlags_2 {
			EFFECT_OUT_FLAGS2
		},
		AE_Effect_Match_Name {
			EFFECT_MATCH_NAME
		},
		AE_Reserved_Info {
			0
		}
	}
};
