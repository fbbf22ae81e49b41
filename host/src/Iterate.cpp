#include "Iterate.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>

#include "HostImpl.h"

namespace TEV::Host {

namespace {

// Work shared between the calling thread and the helpers of one walk. Helpers
// hold it by shared pointer: one that starts after the walk ended finds
// `finished` and touches nothing else.
struct Walk {
    std::mutex mutex;
    std::condition_variable changed;
    A_long rows = 0;
    A_long next_row = 0;
    A_long rows_done = 0;
    int active_helpers = 0;
    bool stop = false;
    bool finished = false;
    PF_Err err = PF_Err_NONE;
    std::exception_ptr thrown;
};

// Runs rows until none are left or the walk stops. `do_row` returns the first
// non-zero code of the row.
template <typename DoRow>
void workRows(Walk& walk, DoRow& do_row, bool single_row) {
    for (;;) {
        A_long row;
        {
            std::lock_guard<std::mutex> lock(walk.mutex);
            if (walk.stop || walk.next_row >= walk.rows) {
                return;
            }
            row = walk.next_row++;
        }
        PF_Err err = PF_Err_NONE;
        std::exception_ptr thrown;
        try {
            err = do_row(row);
        } catch (...) {
            thrown = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> lock(walk.mutex);
            ++walk.rows_done;
            if ((err || thrown) && !walk.stop) {
                walk.stop = true;
                walk.err = err;
                walk.thrown = thrown;
            }
        }
        walk.changed.notify_all();
        if (single_row) {
            return;
        }
    }
}

int depthOfSuite(std::size_t pixel_size) {
    return pixel_size == sizeof(PF_Pixel8) ? 8 : pixel_size == sizeof(PF_Pixel16) ? 16 : 32;
}

bool worldFits(HeadlessHost::Impl& host, const PF_EffectWorld* world, std::size_t pixel_size,
               const char* who) {
    if (!world->data || world->width < 0 || world->height < 0 ||
        world->rowbytes < static_cast<A_long>(world->width * pixel_size)) {
        host.noteMisuse(std::string(who) + " on a world without pixels or with rowbytes below its width");
        return false;
    }
    int known = knownWorldDepth(world);
    if (known && known != depthOfSuite(pixel_size)) {
        host.noteMisuse(std::string(who) + " at " + std::to_string(depthOfSuite(pixel_size)) +
                        " bits on a " + std::to_string(known) + "-bit world");
        return false;
    }
    return true;
}

template <typename Pixel>
PF_Err iterateWorld(const char* who, PF_InData* in_data, A_long progress_base,
                    A_long progress_final, PF_EffectWorld* src, const PF_Rect* area, void* refcon,
                    PF_Err (*pix_fn)(void*, A_long, A_long, Pixel*, Pixel*), PF_EffectWorld* dst) {
    CallContext* ctx = in_data ? contextOf(in_data->effect_ref, who) : nullptr;
    if (!ctx) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    HeadlessHost::Impl& host = *ctx->host;
    if (!pix_fn || !dst) {
        host.noteMisuse(std::string(who) + " without a pixel function or destination world");
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    if (!worldFits(host, dst, sizeof(Pixel), who) || (src && !worldFits(host, src, sizeof(Pixel), who))) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    PF_Rect rect = area ? *area : PF_Rect{0, 0, dst->width, dst->height};
    A_long max_w = src ? std::min(src->width, dst->width) : dst->width;
    A_long max_h = src ? std::min(src->height, dst->height) : dst->height;
    rect.left = std::max<A_long>(rect.left, 0);
    rect.top = std::max<A_long>(rect.top, 0);
    rect.right = std::min(rect.right, max_w);
    rect.bottom = std::min(rect.bottom, max_h);
    host.books.with([](Books& b) { ++b.iterate_calls; });
    if (rect.right <= rect.left || rect.bottom <= rect.top) {
        return PF_Err_NONE;
    }

    // The walk's constants are copied into the row function, and from it into
    // locals, so that the per-pixel loop keeps them in registers across the
    // opaque calls of pix_fn (which may be called 10^7 times a frame).
    struct Plane {
        char* data;
        std::ptrdiff_t rowbytes;
        Pixel* row(A_long y) const {
            return reinterpret_cast<Pixel*>(data + static_cast<std::ptrdiff_t>(y) * rowbytes);
        }
    };
    const Plane src_plane{src ? reinterpret_cast<char*>(src->data) : nullptr, src ? src->rowbytes : 0};
    const Plane dst_plane{reinterpret_cast<char*>(dst->data), dst->rowbytes};
    const PF_Rect walk_rect = rect;
    auto do_row = [src_plane, dst_plane, walk_rect, refcon, pix_fn](A_long row) -> PF_Err {
        const A_long y = walk_rect.top + row;
        const A_long left = walk_rect.left, right = walk_rect.right;
        auto* const fn = pix_fn;
        void* const ref = refcon;
        Pixel* out = dst_plane.row(y) + left;
        Pixel* in = src_plane.data ? src_plane.row(y) + left : out;
        for (A_long x = left; x < right; ++x, ++in, ++out) {
            if (PF_Err err = fn(ref, x, y, in, out)) {
                return err;
            }
        }
        return PF_Err_NONE;
    };

    auto walk = std::make_shared<Walk>();
    walk->rows = rect.bottom - rect.top;
    unsigned helpers = std::min<unsigned>(host.iterateThreads() - 1, static_cast<unsigned>(walk->rows - 1));
    ThreadPool& pool = host.iteratePool();
    HeadlessHost::Impl* host_ptr = &host;
    for (unsigned i = 0; i < helpers; ++i) {
        pool.post([walk, &do_row, host_ptr] {
            {
                std::lock_guard<std::mutex> lock(walk->mutex);
                if (walk->finished) {
                    return;
                }
                ++walk->active_helpers;
            }
            CurrentHostScope scope(host_ptr);
            workRows(*walk, do_row, false);
            {
                std::lock_guard<std::mutex> lock(walk->mutex);
                --walk->active_helpers;
            }
            walk->changed.notify_all();
        });
    }

    // The calling thread works too, one row at a time, and between rows asks
    // for abort and reports progress (plug-in callbacks stay on its thread).
    A_long reported = -1;
    for (;;) {
        workRows(*walk, do_row, true);
        A_long done;
        bool all_done;
        {
            std::unique_lock<std::mutex> lock(walk->mutex);
            all_done = walk->stop || walk->rows_done == walk->rows;
            if (!all_done && walk->next_row >= walk->rows) {
                walk->changed.wait_for(lock, std::chrono::milliseconds(5));
                all_done = walk->stop || walk->rows_done == walk->rows;
            }
            done = walk->rows_done;
        }
        if (progress_final != 0 && done != reported) {
            reported = done;
            if (PF_Err err = host.reportProgress(progress_base + done, progress_final)) {
                std::lock_guard<std::mutex> lock(walk->mutex);
                if (!walk->stop) {
                    walk->stop = true;
                    walk->err = err;
                }
            }
        }
        if (all_done) {
            break;
        }
        if (PF_Err err = host.abortCheck()) {
            std::lock_guard<std::mutex> lock(walk->mutex);
            if (!walk->stop) {
                walk->stop = true;
                walk->err = err;
            }
        }
    }
    {
        std::unique_lock<std::mutex> lock(walk->mutex);
        walk->changed.wait(lock, [&] { return walk->active_helpers == 0; });
        walk->finished = true;
    }
    const long pixels = static_cast<long>(walk->rows_done) * (rect.right - rect.left);
    host.books.with([pixels](Books& b) { b.pixels_iterated += pixels; });
    if (walk->thrown) {
        std::rethrow_exception(walk->thrown);
    }
    return walk->err;
}

}  // namespace

PF_Err iterate8(PF_InData* in_data, A_long progress_base, A_long progress_final, PF_EffectWorld* src,
                const PF_Rect* area, void* refcon, PF_IteratePixel8Func pix_fn, PF_EffectWorld* dst) {
    return iterateWorld<PF_Pixel8>("iterate (8 bits)", in_data, progress_base, progress_final, src,
                                   area, refcon, pix_fn, dst);
}

PF_Err iterate16(PF_InData* in_data, A_long progress_base, A_long progress_final, PF_EffectWorld* src,
                 const PF_Rect* area, void* refcon, PF_IteratePixel16Func pix_fn, PF_EffectWorld* dst) {
    return iterateWorld<PF_Pixel16>("iterate (16 bits)", in_data, progress_base, progress_final,
                                    src, area, refcon, pix_fn, dst);
}

PF_Err iterateFloat(PF_InData* in_data, A_long progress_base, A_long progress_final,
                    PF_EffectWorld* src, const PF_Rect* area, void* refcon,
                    PF_IteratePixelFloatFunc pix_fn, PF_EffectWorld* dst) {
    return iterateWorld<PF_PixelFloat>("iterate (float)", in_data, progress_base, progress_final,
                                       src, area, refcon, pix_fn, dst);
}

PF_Err iterateGeneric(A_long iterations, void* refcon,
                      PF_Err (*fn)(void* refcon, A_long thread_index, A_long i, A_long iterations)) {
    if (!fn || iterations < 0) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    // Runs on the calling thread, as thread 0: callers get correct results
    // without relying on parallelism.
    for (A_long i = 0; i < iterations; ++i) {
        if (PF_Err err = fn(refcon, 0, i, iterations)) {
            return err;
        }
    }
    return PF_Err_NONE;
}

}  // namespace TEV::Host
