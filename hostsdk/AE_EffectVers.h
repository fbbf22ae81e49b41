// Effect API version that an effect built with these headers declares in its
// resource description.
#pragma once

#define PF_PLUG_IN_VERSION 13
#define PF_PLUG_IN_SUBVERS 28
