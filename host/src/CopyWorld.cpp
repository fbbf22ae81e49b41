// The utility callback `copy`: a world's pixels into another world of the
// same depth, row by row.
#include <cstring>

#include "HostImpl.h"

namespace TEV::Host {

namespace {

bool isEmpty(const PF_Rect& r) { return r.right <= r.left || r.bottom <= r.top; }

bool inside(const PF_Rect& r, const PF_EffectWorld* w) {
    return r.left >= 0 && r.top >= 0 && r.right <= w->width && r.bottom <= w->height;
}

}  // namespace

PF_Err copyWorld(PF_ProgPtr effect_ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r, PF_Rect* dst_r) {
    CallContext* ctx = contextOf(effect_ref, "copy");
    if (!ctx) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    HeadlessHost::Impl& host = *ctx->host;
    if (!src || !dst || !src->data || !dst->data) {
        host.noteMisuse("copy without a source or destination world");
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    const int depth = knownWorldDepth(src);
    if (!depth || knownWorldDepth(dst) != depth) {
        host.noteMisuse("copy between worlds the host did not make or of different depths");
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    if (!(dst->world_flags & PF_WorldFlag_WRITEABLE)) {
        host.noteMisuse("copy into a world that is not writeable");
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    const PF_Rect from = src_r ? *src_r : PF_Rect{0, 0, src->width, src->height};
    const PF_Rect to = dst_r ? *dst_r : PF_Rect{0, 0, dst->width, dst->height};
    if (!inside(from, src) || !inside(to, dst)) {
        host.noteMisuse("copy with a rectangle outside its world");
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    if (from.right - from.left != to.right - to.left || from.bottom - from.top != to.bottom - to.top) {
        host.noteUnsupported("copy with scaling");
        return PF_Err_INVALID_CALLBACK;
    }
    if (!isEmpty(from)) {
        const std::size_t pixel = depth == 8 ? sizeof(PF_Pixel8) : depth == 16 ? sizeof(PF_Pixel16) : sizeof(PF_PixelFloat);
        const std::size_t bytes = static_cast<std::size_t>(from.right - from.left) * pixel;
        for (A_long row = 0; row < from.bottom - from.top; ++row) {
            const char* in = static_cast<const char*>(static_cast<void*>(src->data)) +
                             static_cast<std::ptrdiff_t>(from.top + row) * src->rowbytes + from.left * pixel;
            char* out = static_cast<char*>(static_cast<void*>(dst->data)) +
                        static_cast<std::ptrdiff_t>(to.top + row) * dst->rowbytes + to.left * pixel;
            std::memmove(out, in, bytes);
        }
    }
    host.books.with([](Books& b) { ++b.worlds_copied; });
    return PF_Err_NONE;
}

}  // namespace TEV::Host
