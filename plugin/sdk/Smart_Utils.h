// Rectangle helpers for smart rendering. A rectangle is empty when
// left >= right or top >= bottom.
#pragma once

#include "AE_Effect.h"

#ifndef mmin
#define mmin(a, b) (((a) < (b)) ? (a) : (b))
#endif
#ifndef mmax
#define mmax(a, b) (((a) > (b)) ? (a) : (b))
#endif

PF_Boolean IsEmptyRect(const PF_LRect* r);

// An empty dst becomes a copy of src; otherwise a non-empty src widens dst to
// the smallest rectangle holding both; an empty src leaves dst unchanged.
void UnionLRect(const PF_LRect* src, PF_LRect* dst);

// True when (x, y) lies on the rectangle's border, right and bottom inclusive.
PF_Boolean IsEdgePixel(PF_LRect* rectP, A_long x, A_long y);
