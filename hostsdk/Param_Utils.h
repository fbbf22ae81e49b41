// Parameter registration macros. Each expects a local `PF_ParamDef def` and
// `in_data` in scope, and returns add_param's error from the enclosing
// function when the host refuses the parameter.
#pragma once

#include <string.h>

#include "AE_Effect.h"
#include "AE_EffectCB.h"
#include "AE_Macros.h"

enum {
    PF_Precision_INTEGER,
    PF_Precision_TENTHS,
    PF_Precision_HUNDREDTHS,
    PF_Precision_THOUSANDTHS,
    PF_Precision_TEN_THOUSANDTHS
};

#define PF_ParamFlag_NONE 0

#define AEFX_AUDIO_DEFAULT_CURVE_TOLERANCE 0.05f

// strncpy that always leaves a terminating NUL at SZ - 1.
#define PF_STRNNCPY(DST, SRC, SZ)                                                                  \
    do {                                                                                           \
        strncpy((DST), (SRC), (SZ));                                                               \
        (DST)[(SZ) - 1] = 0;                                                                       \
    } while (0)

#define PF_PRIV_ADD_DEF_OR_RETURN()                                                                \
    do {                                                                                           \
        PF_Err priv_add_err = PF_ADD_PARAM(in_data, -1, &def);                                     \
        if (priv_add_err != PF_Err_NONE) {                                                         \
            return priv_add_err;                                                                   \
        }                                                                                          \
    } while (0)

// Neither clears `def` nor touches its flags; CURVE_TOLERANCE is not used
// (the curve tolerance is always AEFX_AUDIO_DEFAULT_CURVE_TOLERANCE).
#define PF_ADD_FLOAT_SLIDER(NAME, VALID_MIN, VALID_MAX, SLIDER_MIN, SLIDER_MAX, CURVE_TOLERANCE,  \
                            DFLT, PREC, DISP, WANT_PHASE, ID)                                      \
    do {                                                                                           \
        def.param_type = PF_Param_FLOAT_SLIDER;                                                    \
        PF_STRNNCPY(def.name, (NAME), sizeof(def.name));                                           \
        def.u.fs_d.valid_min = (PF_FpShort)(VALID_MIN);                                            \
        def.u.fs_d.slider_min = (PF_FpShort)(SLIDER_MIN);                                          \
        def.u.fs_d.valid_max = (PF_FpShort)(VALID_MAX);                                            \
        def.u.fs_d.slider_max = (PF_FpShort)(SLIDER_MAX);                                          \
        def.u.fs_d.value = (DFLT);                                                                 \
        def.u.fs_d.dephault = (PF_FpShort)(def.u.fs_d.value);                                      \
        def.u.fs_d.precision = (A_short)(PREC);                                                    \
        def.u.fs_d.display_flags = (PF_ValueDisplayFlags)(DISP);                                   \
        def.u.fs_d.fs_flags |= (WANT_PHASE) ? PF_FSliderFlag_WANT_PHASE : 0;                       \
        def.u.fs_d.curve_tolerance = AEFX_AUDIO_DEFAULT_CURVE_TOLERANCE;                           \
        def.uu.id = (ID);                                                                          \
        PF_PRIV_ADD_DEF_OR_RETURN();                                                               \
    } while (0)

// Clears `def`, sets its flags, then a float slider without phase.
#define PF_ADD_FLOAT_SLIDERX(NAME, VALID_MIN, VALID_MAX, SLIDER_MIN, SLIDER_MAX, DFLT, PREC, DISP, \
                             FLAGS, ID)                                                            \
    do {                                                                                           \
        AEFX_CLR_STRUCT(def);                                                                      \
        def.flags = (FLAGS);                                                                       \
        PF_ADD_FLOAT_SLIDER((NAME), (VALID_MIN), (VALID_MAX), (SLIDER_MIN), (SLIDER_MAX), 0,       \
                            (DFLT), (PREC), (DISP), 0, (ID));                                      \
    } while (0)

#define PF_ADD_FLOAT_SLIDERX_DISABLED(NAME, VALID_MIN, VALID_MAX, SLIDER_MIN, SLIDER_MAX, DFLT,    \
                                      PREC, DISP, FLAGS, ID)                                       \
    do {                                                                                           \
        AEFX_CLR_STRUCT(def);                                                                      \
        def.flags = (FLAGS);                                                                       \
        def.ui_flags = PF_PUI_DISABLED;                                                            \
        PF_ADD_FLOAT_SLIDER((NAME), (VALID_MIN), (VALID_MAX), (SLIDER_MIN), (SLIDER_MAX), 0,       \
                            (DFLT), (PREC), (DISP), 0, (ID));                                      \
    } while (0)

// NAME_B is the text shown beside the box. ORs FLAGS into def.flags.
#define PF_ADD_CHECKBOX(NAME_A, NAME_B, DFLT, FLAGS, ID)                                           \
    do {                                                                                           \
        def.param_type = PF_Param_CHECKBOX;                                                        \
        PF_STRNNCPY(def.name, (NAME_A), sizeof(def.name));                                         \
        def.u.bd.u.nameptr = (NAME_B);                                                             \
        def.u.bd.value = (DFLT);                                                                   \
        def.u.bd.dephault = (PF_Boolean)(def.u.bd.value);                                          \
        def.flags |= (FLAGS);                                                                      \
        def.uu.id = (ID);                                                                          \
        PF_PRIV_ADD_DEF_OR_RETURN();                                                               \
    } while (0)

#define PF_ADD_CHECKBOXX(NAME, DFLT, FLAGS, ID)                                                    \
    do {                                                                                           \
        AEFX_CLR_STRUCT(def);                                                                      \
        PF_ADD_CHECKBOX((NAME), "", (DFLT), (FLAGS), (ID));                                        \
    } while (0)

#define PF_ADD_BUTTON(PARAM_NAME, BUTTON_NAME, PUI_FLAGS, PARAM_FLAGS, ID)                         \
    do {                                                                                           \
        AEFX_CLR_STRUCT(def);                                                                      \
        def.param_type = PF_Param_BUTTON;                                                          \
        PF_STRNNCPY(def.name, (PARAM_NAME), sizeof(def.name));                                     \
        def.u.button_d.u.namesptr = (BUTTON_NAME);                                                 \
        def.flags = (PARAM_FLAGS);                                                                 \
        def.ui_flags = (PUI_FLAGS);                                                                \
        def.uu.id = (ID);                                                                          \
        PF_PRIV_ADD_DEF_OR_RETURN();                                                               \
    } while (0)

// Neither clears `def` nor sets its flags. STRING holds the choices separated by '|'.
#define PF_ADD_POPUP(NAME, CHOICES, DFLT, STRING, ID)                                              \
    do {                                                                                           \
        def.param_type = PF_Param_POPUP;                                                           \
        PF_STRNNCPY(def.name, (NAME), sizeof(def.name));                                           \
        def.u.pd.num_choices = (A_short)(CHOICES);                                                 \
        def.u.pd.dephault = (A_short)(DFLT);                                                       \
        def.u.pd.value = def.u.pd.dephault;                                                        \
        def.u.pd.u.namesptr = (STRING);                                                            \
        def.uu.id = (ID);                                                                          \
        PF_PRIV_ADD_DEF_OR_RETURN();                                                               \
    } while (0)

#define PF_ADD_POPUPX(NAME, NUM_CHOICES, DFLT, ITEMS_STRING, FLAGS, ID)                            \
    do {                                                                                           \
        AEFX_CLR_STRUCT(def);                                                                      \
        def.flags = (FLAGS);                                                                       \
        PF_ADD_POPUP((NAME), (NUM_CHOICES), (DFLT), (ITEMS_STRING), (ID));                         \
    } while (0)

#define PF_ADD_LAYER(NAME, DFLT, ID)                                                               \
    do {                                                                                           \
        def.param_type = PF_Param_LAYER;                                                           \
        PF_STRNNCPY(def.name, (NAME), sizeof(def.name));                                           \
        def.u.ld.dephault = (DFLT);                                                                \
        def.uu.id = (ID);                                                                          \
        PF_PRIV_ADD_DEF_OR_RETURN();                                                               \
    } while (0)
