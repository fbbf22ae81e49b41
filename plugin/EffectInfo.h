/* The effect's identity and flags. Plain preprocessor definitions so that the
   resource description (mac/ExamplePluginPiPL.r) and global setup read the
   very same values. */
#pragma once

#define EFFECT_NAME "ExamplePlugin"
#define EFFECT_MATCH_NAME "VRAL ExamplePlugin"
#define EFFECT_CATEGORY "VRAL"

#define EFFECT_MAJOR_VERSION 1
#define EFFECT_MINOR_VERSION 0
#define EFFECT_BUG_VERSION 0
#define EFFECT_STAGE_VERSION 0 /* develop */
#define EFFECT_BUILD_VERSION 1
/* The host's packing of 1.0.0, stage develop, build 1. */
#define EFFECT_VERSION_WORD 0x80001

/* NON_PARAM_VARY | I_DO_DIALOG | PIX_INDEPENDENT | CUSTOM_UI |
   DEEP_COLOR_AWARE | SEND_UPDATE_PARAMS_UI */
#define EFFECT_OUT_FLAGS 0x06008424
/* SUPPORTS_QUERY_DYNAMIC_FLAGS | PARAM_GROUP_START_COLLAPSED_FLAG |
   SUPPORTS_SMART_RENDER | FLOAT_COLOR_AWARE | SUPPORTS_THREADED_RENDERING */
#define EFFECT_OUT_FLAGS2 0x08001409
