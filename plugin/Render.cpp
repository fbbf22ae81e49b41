// UniversalRender: the frame's round trip through the processing server.
#include "Render.h"

#include <sstream>
#include <stdexcept>

#include "AEFX_SuiteHelper.h"
#include "AEGP_SuiteHandler.h"
#include "AE_EffectCBSuites.h"
#include "Logging.h"
#include "PixelConversion.h"
#include "ResultFit.h"
#include "TEV_Image.h"
#include "UserTexts.h"

namespace {

// Numerator times the reciprocal of the denominator, in floats; a zero
// denominator gives the numerator itself.
float ratioOf(const PF_RationalScale& r) {
    if (r.den == 0) return static_cast<float>(r.num);
    return static_cast<float>(r.num) * (1.0f / static_cast<float>(r.den));
}

struct FrameGeometry {
    float pix_aspect_ratio;
    float downsample;
};

// A zero-filled 3-channel image of the world's size; the input alpha is never sent.
TEV::Image frameImage(FramePool& pool, const PF_LayerDef* world, int bit_depth, const FrameGeometry& g) {
    return pool.image(static_cast<unsigned short>(world->width), static_cast<unsigned short>(world->height), 3,
                      static_cast<unsigned short>(bit_depth), g.pix_aspect_ratio,
                      static_cast<unsigned short>(world->rowbytes), g.downsample);
}

// Gives an image's store back to the pool however the render ends.
struct StoreReturn {
    FramePool& pool;
    TEV::Image& image;
    ~StoreReturn() { pool.giveBack(image); }
};

PF_Err worldToImage(AEGP_SuiteHandler& suites, PF_InData* in_data, PF_LayerDef* world, TEV::Image& image,
                    int bit_depth) {
    const A_long rows = image.height;
    switch (bit_depth) {
        case 8:
            return suites.Iterate8Suite1()->iterate(in_data, 0, rows, world, nullptr, &image,
                                                    TEV::Adobe::World2Image8, world);
        case 16:
            return suites.Iterate16Suite1()->iterate(in_data, 0, rows, world, nullptr, &image,
                                                     TEV::Adobe::World2Image16, world);
        case 32:
            return suites.IterateFloatSuite1()->iterate(in_data, 0, rows, world, nullptr, &image,
                                                        TEV::Adobe::World2Image32, world);
        default:
            throw std::runtime_error("Unsupported bit depth");
    }
}

PF_Err imageToWorld(AEGP_SuiteHandler& suites, PF_InData* in_data, TEV::Image& image, PF_LayerDef* world,
                    int bit_depth) {
    const A_long rows = image.height;
    switch (bit_depth) {
        case 8:
            return suites.Iterate8Suite1()->iterate(in_data, 0, rows, world, nullptr, &image,
                                                    TEV::Adobe::Image2World8, world);
        case 16:
            return suites.Iterate16Suite1()->iterate(in_data, 0, rows, world, nullptr, &image,
                                                     TEV::Adobe::Image2World16, world);
        case 32:
            return suites.IterateFloatSuite1()->iterate(in_data, 0, rows, world, nullptr, &image,
                                                        TEV::Adobe::Image2World32, world);
        default:
            throw std::runtime_error("Unsupported bit depth");
    }
}

void logFailure(const globalData* global, const std::string& prefix, const std::string& text) {
    std::stringstream line;
    line << prefix << text;
    spdlog_log(std::move(line), global->log_path);
}

// Releases the world suite whose acquisition is the precondition of a render.
struct WorldSuiteRelease {
    PF_InData* in_data;
    PF_OutData* out_data;
    ~WorldSuiteRelease() {
        AEFX_ReleaseSuite(in_data, out_data, kPFWorldSuite, kPFWorldSuiteVersion2, UserTexts::kCantReleaseSuite);
    }
};

}  // namespace

// The frame's way from the input world to the output world, with every copy
// of its samples that remains (frame-sized buffers: `frame` and the reply's
// pixel block, nothing else):
//   1. input world -> `frame`: World2Image on the host's iterate threads
//      (4-channel host pixels to 3 samples, into a store kept from an earlier
//      frame when the pool has one, so that it needn't be faulted in anew);
//   2. `frame` -> libcurl's upload buffer: the request is encoded without the
//      samples and libcurl reads them straight from frame's store;
//   3. libcurl's receive buffer -> the reply's pixel block, set apart as the
//      body arrives (into the block the client kept from the previous reply,
//      when it fits) and moved, not copied, into the decoded reply;
//   4. the reply's pixel block -> `result`: asImage into frame's store, whose
//      memory is reused (a Dict holds bytes as std::vector<char>, an Image
//      as std::vector<unsigned char> or <float>, so the block can't be moved);
//   5. `result` -> output world: Image2World on the host's iterate threads.
// Besides these, only the kernel's socket copies and the server's own work.
PF_Err UniversalRender(PF_InData* in_data, PF_LayerDef* input, PF_OutData* out_data, PF_LayerDef* output,
                       PluginParams* params, int bit_depth, globalData* global) {
    PF_Err err = PF_Err_NONE;
    AEGP_SuiteHandler suites(in_data->pica_basicP);

    void* world_suite = nullptr;
    if (PF_Err acquire_err = AEFX_AcquireSuite(in_data, out_data, kPFWorldSuite, kPFWorldSuiteVersion2,
                                               UserTexts::kCantLoadSuite, &world_suite))
        return acquire_err;
    WorldSuiteRelease release_world_suite{in_data, out_data};

    TEV::Rest::Client* client = EnsureClient(global);
    const FrameGeometry geometry{ratioOf(input->pix_aspect_ratio), ratioOf(in_data->downsample_x)};

    // The input frame with a three-line message on it, into the output world.
    auto showMessage = [&](const std::string& line1, const std::string& line2, const std::string& line3) {
        TEV::Image image = frameImage(global->frame_pool, input, bit_depth, geometry);
        StoreReturn return_image{global->frame_pool, image};
        if (!err) err = worldToImage(suites, in_data, input, image, bit_depth);
        TEV::writeOnImage(image, line1, line2, line3, true, geometry.downsample);
        if (!err) err = imageToWorld(suites, in_data, image, output, bit_depth);
    };

    TEV::Image frame = frameImage(global->frame_pool, input, bit_depth, geometry);
    StoreReturn return_frame{global->frame_pool, frame};
    err = worldToImage(suites, in_data, input, frame, bit_depth);

    // The request is {"image": frame's image dictionary, "params", "instance_id"};
    // call_plugin_with_image adds "image" from `frame` itself, without copying it.
    TEV::Dict request;
    {
        TEV::Dict p;
        p["brightness"] = static_cast<double>(params->brightness);
        p["contrast"] = static_cast<double>(params->contrast);
        p["saturation"] = static_cast<double>(params->saturation);
        p["enable_effect"] = params->enable_effect;
        p["type"] = static_cast<long long>(params->type);
        request["params"] = std::move(p);
    }

    if (client->launchAttemptedSettled()) {
        // The server is known to be down since the last launch attempt: don't send.
        showMessage(UserTexts::kCantConnect, UserTexts::kStartOrRestart, UserTexts::kClickReconnect);
        return err;  // 0 unless a host copy failed or was cancelled
    }

    // The host's abort and progress, asked on this thread while the job runs.
    // Once the host has refused, neither is asked again.
    auto abort_check = [&]() -> bool {
        if (err) return err == PF_Interrupt_CANCEL;
        err = in_data->inter.abort(in_data->effect_ref);
        return err == PF_Interrupt_CANCEL;
    };
    auto report_progress = [&](int percent) {
        if (err) return;
        err = in_data->inter.progress(in_data->effect_ref, percent, 100);
    };

    TEV::MessageDict reply;
    try {
        request["instance_id"] = ReadInstanceId(in_data, out_data);
        reply = client->call_plugin_with_image("render", std::move(request), "image", frame, abort_check,
                                               report_progress);
    } catch (TEV::TEVErr& e) {
        logFailure(global, UserTexts::kRenderLibraryErrorPrefix, e.message());
        if (e.type == TEV::ConnectionFailed)
            showMessage(UserTexts::kCantConnect, UserTexts::kStartOrRestart, UserTexts::kClickReconnectAfterFailure);
        else
            showMessage(UserTexts::kLibraryError, e.detail, e.context);
        return err;  // the failure is drawn; a failed or cancelled copy is the host's to know
    } catch (std::exception& e) {
        logFailure(global, UserTexts::kRenderErrorPrefix, e.what());
        showMessage(UserTexts::kGenericError, e.what(), UserTexts::kViewLogs);
        return err;
    }

    if (reply.type == TEV::Dict::Null || !reply.error().empty()) {
        const std::string error = reply.error();
        if (err != PF_Interrupt_CANCEL)  // a cancelled job is no failure
            logFailure(global, UserTexts::kRenderErrorPrefix,
                       error.empty() ? std::string(UserTexts::kNoResult) : error);
        showMessage(UserTexts::kServerError, error, UserTexts::kViewLogs);
        return err;
    }
    // A cancel ends the job with whatever the last poll brought (usually the
    // pending marker), and a failed copy stops every later one: either way
    // the output world stays unwritten and the host gets the code.
    if (err) return err;

    const TEV::Dict& image_dict = reply.path("result.image");
    TEV::Image result = image_dict.asImage(std::move(frame));  // frame's store is reused
    StoreReturn return_result{global->frame_pool, result};
    const std::string mismatch = image_dict.isImage()
                                     ? resultMismatch(result, output->width, output->height, bit_depth)
                                     : UserTexts::kNoResultImage;
    client->recycle(std::move(reply));  // the next frame's reply goes into the same memory
    if (!mismatch.empty()) {
        logFailure(global, UserTexts::kRenderErrorPrefix, mismatch);
        showMessage(UserTexts::kServerError, mismatch, UserTexts::kViewLogs);
        return err;
    }
    if (!err) err = imageToWorld(suites, in_data, result, output, bit_depth);
    return err;
}
