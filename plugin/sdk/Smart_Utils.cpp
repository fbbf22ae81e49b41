#include "Smart_Utils.h"

PF_Boolean IsEmptyRect(const PF_LRect* r) {
    return (r->left >= r->right) || (r->top >= r->bottom);
}

void UnionLRect(const PF_LRect* src, PF_LRect* dst) {
    if (IsEmptyRect(dst)) {
        *dst = *src;
    } else if (!IsEmptyRect(src)) {
        dst->left = mmin(dst->left, src->left);
        dst->top = mmin(dst->top, src->top);
        dst->right = mmax(dst->right, src->right);
        dst->bottom = mmax(dst->bottom, src->bottom);
    }
}

PF_Boolean IsEdgePixel(PF_LRect* rectP, A_long x, A_long y) {
    const bool on_column = (x == rectP->left || x == rectP->right) && y >= rectP->top &&
                           y <= rectP->bottom;
    const bool on_row = (y == rectP->top || y == rectP->bottom) && x >= rectP->left &&
                        x <= rectP->right;
    return on_column || on_row;
}
