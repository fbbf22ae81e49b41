// OpenEXR files: read into float worlds with their windows and pixel aspect,
// written as RGBA half or 32-bit float.
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <ImfIO.h>
#include <Imath/half.h>
#include <ImfOutputFile.h>
#include <ImfStringAttribute.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "files/ImageFiles.h"
#include "files/SafeFile.h"
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

Imf::Slice halfSlice(std::vector<half>& samples, std::size_t channel, int width, const Imath::Box2i& window) {
    const std::ptrdiff_t origin = -(std::ptrdiff_t(window.min.y) * width + window.min.x);
    char* base = reinterpret_cast<char*>(samples.data() + channel) + origin * std::ptrdiff_t(kChannels * sizeof(half));
    return Imf::Slice(Imf::HALF, base, kChannels * sizeof(half), kChannels * sizeof(half) * std::size_t(width));
}

// An output stream that keeps the system's error number of a failed write,
// which the library's own file stream loses.
class ExrFileStream : public Imf::OStream {
public:
    explicit ExrFileStream(const std::string& path) : Imf::OStream(path.c_str()), path_(path) {
        errno = 0;
        file_ = std::fopen(path.c_str(), "wb");
        if (!file_) fail();
    }
    ~ExrFileStream() override {
        if (file_) std::fclose(file_);
    }
    ExrFileStream(const ExrFileStream&) = delete;
    ExrFileStream& operator=(const ExrFileStream&) = delete;

    void write(const char c[], int n) override {
        if (std::fwrite(c, 1, std::size_t(n), file_) != std::size_t(n)) fail();
    }
    uint64_t tellp() override { return static_cast<uint64_t>(std::ftell(file_)); }
    void seekp(uint64_t pos) override {
        if (std::fseek(file_, static_cast<long>(pos), SEEK_SET) != 0) fail();
    }
    // Flushes and closes; WriteError when the data did not all reach the file.
    // The library writes its line offsets when the file object goes and
    // swallows errors there; a failure noted then is raised here.
    void finish() {
        std::FILE* file = file_;
        file_ = nullptr;
        if (error_number_) {
            std::fclose(file);
            errno = error_number_;
            fail();
        }
        if (std::fflush(file) != 0 || std::ferror(file)) {
            const int error_number = errno;
            std::fclose(file);
            errno = error_number;
            fail();
        }
        if (std::fclose(file) != 0) fail();
    }

private:
    [[noreturn]] void fail() {
        const int error_number = errno ? errno : EIO;
        error_number_ = error_number;
        throw WriteError("cannot write image '" + path_ + "': " + std::strerror(error_number), error_number);
    }
    std::string path_;
    std::FILE* file_ = nullptr;
    int error_number_ = 0;
};

struct ExrChannels {
    std::string names[kChannels];  // R, G, B (or Y first), A: full channel names
    bool grey = false;
    bool half = false;             // every colour channel read is half
    std::string problem;           // why the file cannot be read; "" when it can
};

std::string joined(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
    return out.empty() ? "no channels" : out;
}

// The channels of `layer` ("" the file's own, unprefixed ones).
ExrChannels findExrChannels(const Imf::ChannelList& channels, const std::string& layer) {
    ExrChannels found;
    const std::string prefix = layer.empty() ? "" : layer + ".";
    std::vector<std::string> all, mine;
    std::set<std::string> layers;
    for (Imf::ChannelList::ConstIterator i = channels.begin(); i != channels.end(); ++i) {
        const std::string name = i.name();
        all.push_back(name);
        const std::size_t dot = name.rfind('.');
        if (dot != std::string::npos) layers.insert(name.substr(0, dot));
        if (name.compare(0, prefix.size(), prefix) == 0 && name.find('.', prefix.size()) == std::string::npos) {
            mine.push_back(name.substr(prefix.size()));
        }
    }
    const std::vector<std::string> layer_list(layers.begin(), layers.end());
    if (!layer.empty() && mine.empty()) {
        found.problem = "it has no layer '" + layer + "' (" +
                        (layers.empty() ? std::string("it has no layers") : "layers: " + joined(layer_list)) + ")";
        return found;
    }
    auto has = [&](const char* c) { return channels.findChannel(prefix + c) != nullptr; };
    const std::string where = layer.empty() ? "" : " in layer '" + layer + "'";
    if (has("R") || has("G") || has("B")) {
        std::vector<std::string> missing;
        for (const char* c : {"R", "G", "B"}) {
            if (!has(c)) missing.push_back(c);
        }
        if (!missing.empty()) {
            found.problem = "it has no " + joined(missing) + " channel" + where + " (found only: " + joined(mine) + ")";
            return found;
        }
        const char* names[] = {"R", "G", "B"};
        found.half = true;
        for (int c = 0; c < 3; ++c) {
            found.names[c] = prefix + names[c];
            found.half = found.half && channels.findChannel(found.names[c])->type == Imf::HALF;
        }
    } else if (has("Y")) {
        found.grey = true;
        found.names[0] = prefix + "Y";
        found.half = channels.findChannel(found.names[0])->type == Imf::HALF;
    } else {
        found.problem = "it has neither R, G, B nor Y channels" + where + " (found only: " + joined(mine) + ")";
        if (layer.empty() && !layers.empty()) {
            found.problem += "; its layers: " + joined(layer_list) + " (pick one with --layer)";
        }
        return found;
    }
    found.names[3] = prefix + "A";
    return found;
}

}  // namespace

ImageFile readExrFile(const std::string& path, const std::string& layer) {
    try {
        Imf::InputFile file(path.c_str());
        const Imf::Header& header = file.header();
        const Imath::Box2i window = header.dataWindow();
        const long width = long(window.max.x) - window.min.x + 1;
        const long height = long(window.max.y) - window.min.y + 1;
        if (width < 1 || height < 1 || width > PF_MAX_WORLD_WIDTH || height > PF_MAX_WORLD_HEIGHT) {
            throw HostError("cannot read image '" + path + "': its size " + std::to_string(width) + " x " +
                            std::to_string(height) + " is outside the host's 1 to 30000 pixels");
        }
        const ExrChannels found = findExrChannels(header.channels(), layer);
        if (!found.problem.empty()) {
            throw HostError("cannot read image '" + path + "': " + found.problem);
        }
        std::vector<float> samples(std::size_t(width) * std::size_t(height) * kChannels);
        const int w = static_cast<int>(width);
        Imf::FrameBuffer buffer;
        if (found.grey) {
            buffer.insert(found.names[0], floatSlice(samples, 0, w, window, 0.0));
        } else {
            for (std::size_t c = 0; c < 3; ++c) buffer.insert(found.names[c], floatSlice(samples, c, w, window, 0.0));
        }
        buffer.insert(found.names[3], floatSlice(samples, 3, w, window, 1.0));
        file.setFrameBuffer(buffer);
        file.readPixels(window.min.y, window.max.y);

        ImageFile image{PixelWorld(w, static_cast<int>(height), 32), 32, nullptr};
        const float* s = samples.data();
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < w; ++x, s += kChannels) {
                const float g = found.grey ? s[0] : s[1];
                const float b = found.grey ? s[0] : s[2];
                image.world.pixelFloat(x, y) = PF_PixelFloat{s[3], s[0], g, b};
            }
        }
        auto layout = std::make_shared<ExrLayout>();
        const Imath::Box2i display = header.displayWindow();
        layout->data_window = PF_LRect{window.min.x, window.min.y, window.max.x, window.max.y};
        layout->display_window = PF_LRect{display.min.x, display.min.y, display.max.x, display.max.y};
        layout->pixel_aspect = header.pixelAspectRatio();
        layout->half = found.half;
        image.exr = std::move(layout);
        return image;
    } catch (const HostError&) {
        throw;
    } catch (const std::exception& e) {
        throw HostError("cannot read image '" + path + "': " + e.what());
    }
}

std::string readExrTag(const std::string& path, const std::string& key) {
    try {
        Imf::InputFile file(path.c_str());
        const auto* value = file.header().findTypedAttribute<Imf::StringAttribute>(key);
        return value ? value->value() : std::string();
    } catch (const std::exception&) {
        return "";
    }
}

void writeExrFile(const std::string& path, const PixelWorld& world, const ExrLayout* layout, const ImageTags& tags) {
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
        if (layout) {
            // Written back where it was read from; a world of another size
            // (a preview) keeps the data window's corner.
            const PF_LRect& d = layout->data_window;
            const PF_LRect& v = layout->display_window;
            header.dataWindow() = Imath::Box2i(Imath::V2i(d.left, d.top), Imath::V2i(d.left + width - 1, d.top + height - 1));
            header.displayWindow() = Imath::Box2i(Imath::V2i(v.left, v.top), Imath::V2i(v.right, v.bottom));
            header.pixelAspectRatio() = layout->pixel_aspect;
        }
        for (const auto& [key, value] : tags) header.insert(key, Imf::StringAttribute(value));
        const Imf::PixelType type = layout && layout->half ? Imf::HALF : Imf::FLOAT;
        const char* names[kChannels] = {"R", "G", "B", "A"};
        for (const char* name : names) {
            header.channels().insert(name, Imf::Channel(type));
        }
        // The library converts between slice and channel types when it
        // reads, not when it writes: half channels need half samples.
        std::vector<half> halves;
        if (type == Imf::HALF) halves.assign(samples.begin(), samples.end());
        ExrFileStream stream(path);
        {
            Imf::OutputFile file(stream, header);
            Imf::FrameBuffer buffer;
            const Imath::Box2i window = header.dataWindow();
            for (std::size_t c = 0; c < kChannels; ++c) {
                buffer.insert(names[c], type == Imf::HALF ? halfSlice(halves, c, width, window)
                                                          : floatSlice(samples, c, width, window, 0.0));
            }
            file.setFrameBuffer(buffer);
            file.writePixels(height);
        }
        stream.finish();
    } catch (const HostError&) {
        throw;
    } catch (const std::exception& e) {
        throw HostError("cannot write image '" + path + "': " + e.what());
    }
}

}  // namespace TEV::Host::Cli
