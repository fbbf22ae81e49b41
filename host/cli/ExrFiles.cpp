// OpenEXR files: read into float worlds, written as RGBA 32-bit float.
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <ImfOutputFile.h>

#include <vector>

#include "ImageFiles.h"
#include "tevhost/HostError.h"

namespace TEV::Host::Cli {

namespace {

constexpr std::size_t kChannels = 4;  // interleaved R, G, B, A floats

Imf::Slice floatSlice(std::vector<float>& samples, std::size_t channel, int width, const Imath::Box2i& window,
                      double fill) {
    // The frame buffer is addressed with the data window's coordinates.
    const std::ptrdiff_t origin = -(std::ptrdiff_t(window.min.y) * width + window.min.x);
    char* base = reinterpret_cast<char*>(samples.data() + channel) +
                 origin * std::ptrdiff_t(kChannels * sizeof(float));
    return Imf::Slice(Imf::FLOAT, base, kChannels * sizeof(float), kChannels * sizeof(float) * std::size_t(width),
                      1, 1, fill);
}

}  // namespace

ImageFile readExrFile(const std::string& path) {
    try {
        Imf::InputFile file(path.c_str());
        const Imath::Box2i window = file.header().dataWindow();
        const long width = long(window.max.x) - window.min.x + 1;
        const long height = long(window.max.y) - window.min.y + 1;
        if (width < 1 || height < 1 || width > PF_MAX_WORLD_WIDTH || height > PF_MAX_WORLD_HEIGHT) {
            throw HostError("cannot read image '" + path + "': its size " + std::to_string(width) + " x " +
                            std::to_string(height) + " is outside the host's 1 to 30000 pixels");
        }
        const Imf::ChannelList& channels = file.header().channels();
        const bool rgb = channels.findChannel("R") && channels.findChannel("G") && channels.findChannel("B");
        const bool grey = !rgb && channels.findChannel("Y");
        if (!rgb && !grey) {
            throw HostError("cannot read image '" + path + "': it has neither R, G, B nor Y channels");
        }
        std::vector<float> samples(std::size_t(width) * std::size_t(height) * kChannels);
        const int w = static_cast<int>(width);
        Imf::FrameBuffer buffer;
        if (rgb) {
            buffer.insert("R", floatSlice(samples, 0, w, window, 0.0));
            buffer.insert("G", floatSlice(samples, 1, w, window, 0.0));
            buffer.insert("B", floatSlice(samples, 2, w, window, 0.0));
        } else {
            buffer.insert("Y", floatSlice(samples, 0, w, window, 0.0));
        }
        buffer.insert("A", floatSlice(samples, 3, w, window, 1.0));
        file.setFrameBuffer(buffer);
        file.readPixels(window.min.y, window.max.y);

        ImageFile image{PixelWorld(w, static_cast<int>(height), 32), 32};
        const float* s = samples.data();
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < w; ++x, s += kChannels) {
                const float g = grey ? s[0] : s[1];
                const float b = grey ? s[0] : s[2];
                image.world.pixelFloat(x, y) = PF_PixelFloat{s[3], s[0], g, b};
            }
        }
        return image;
    } catch (const HostError&) {
        throw;
    } catch (const std::exception& e) {
        throw HostError("cannot read image '" + path + "': " + e.what());
    }
}

void writeExrFile(const std::string& path, const PixelWorld& world) {
    const int width = world.width();
    const int height = world.height();
    std::vector<float> samples(std::size_t(width) * std::size_t(height) * kChannels);
    float* s = samples.data();
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x, s += kChannels) {
            if (world.depth() == 32) {
                const PF_PixelFloat& p = world.pixelFloat(x, y);
                s[0] = p.red, s[1] = p.green, s[2] = p.blue, s[3] = p.alpha;
            } else {
                const Rgba p = world.get(x, y);
                s[0] = p.r, s[1] = p.g, s[2] = p.b, s[3] = p.a;
            }
        }
    }
    try {
        Imf::Header header(width, height);
        const char* names[kChannels] = {"R", "G", "B", "A"};
        for (const char* name : names) {
            header.channels().insert(name, Imf::Channel(Imf::FLOAT));
        }
        Imf::OutputFile file(path.c_str(), header);
        Imf::FrameBuffer buffer;
        const Imath::Box2i window = header.dataWindow();
        for (std::size_t c = 0; c < kChannels; ++c) {
            buffer.insert(names[c], floatSlice(samples, c, width, window, 0.0));
        }
        file.setFrameBuffer(buffer);
        file.writePixels(height);
    } catch (const std::exception& e) {
        throw HostError("cannot write image '" + path + "': " + e.what());
    }
}

}  // namespace TEV::Host::Cli
