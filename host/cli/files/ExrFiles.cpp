// OpenEXR files: read into float worlds with their windows and pixel aspect,
// written as RGBA half or 32-bit float beside everything else the input file
// held (other channels, layers and parts), which passes through unchanged.
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputPart.h>
#include <ImfIO.h>
#include <ImfMultiPartInputFile.h>
#include <ImfMultiPartOutputFile.h>
#include <ImfOutputFile.h>
#include <ImfOutputPart.h>
#include <ImfPartType.h>
#include <ImfStandardAttributes.h>
#include <ImfStringAttribute.h>
#include <Imath/half.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "files/Downsample.h"
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

// One channel's samples as the file holds them (half, float or unsigned
// int), row after row over its part's data window.
struct StoredChannel {
    std::string name;
    Imf::Channel channel;
    std::vector<char> samples;
};

struct StoredPart {
    Imf::Header header;
    std::vector<StoredChannel> channels;  // all of them; the rendered part: those not rendered
};

std::size_t sampleSize(Imf::PixelType type) { return type == Imf::HALF ? sizeof(half) : sizeof(float); }

Imath::Box2i boxOf(const PF_LRect& r) { return Imath::Box2i(Imath::V2i(r.left, r.top), Imath::V2i(r.right, r.bottom)); }
PF_LRect rectOf(const Imath::Box2i& b) { return PF_LRect{b.min.x, b.min.y, b.max.x, b.max.y}; }

// A slice over samples laid out row after row over `window`, `size` bytes each.
Imf::Slice storedSlice(Imf::PixelType type, char* samples, const Imath::Box2i& window) {
    const std::size_t size = sampleSize(type);
    const std::ptrdiff_t width = std::ptrdiff_t(window.max.x) - window.min.x + 1;
    char* base = samples - (std::ptrdiff_t(window.min.y) * width + window.min.x) * std::ptrdiff_t(size);
    return Imf::Slice(type, base, size, size * std::size_t(width));
}

double sampleAt(const StoredChannel& c, std::size_t i) {
    const char* at = c.samples.data() + i * sampleSize(c.channel.type);
    switch (c.channel.type) {
    case Imf::HALF: {
        half h;
        std::memcpy(&h, at, sizeof h);
        return double(float(h));
    }
    case Imf::UINT: {
        unsigned int u;
        std::memcpy(&u, at, sizeof u);
        return double(u);
    }
    default: {
        float f;
        std::memcpy(&f, at, sizeof f);
        return double(f);
    }
    }
}

void storeSample(StoredChannel& c, std::size_t i, double mean) {
    char* at = c.samples.data() + i * sampleSize(c.channel.type);
    switch (c.channel.type) {
    case Imf::HALF: {
        const half h(static_cast<float>(mean));
        std::memcpy(at, &h, sizeof h);
        break;
    }
    case Imf::UINT: {
        const unsigned int u = static_cast<unsigned int>(mean);  // one sample picked: exact
        std::memcpy(at, &u, sizeof u);
        break;
    }
    default: {
        const float f = static_cast<float>(mean);
        std::memcpy(at, &f, sizeof f);
        break;
    }
    }
}

// The channel of a part whose data window is `box` at 1/factor, on the
// absolute pixel grid as downsampled(). Unsigned ints (object ids, masks as
// integers) are picked, not averaged: a mean of ids 3 and 7 would be 5, an id
// that exists nowhere. The pick is the block's top-left pixel on the absolute
// grid, or for a block that the window's edge cuts, its top-left pixel inside
// the window. Half and float samples are the mean of their block.
StoredChannel downsampledChannel(const StoredChannel& c, const Imath::Box2i& box, int factor) {
    if (factor == 1) return c;
    const int width = box.max.x - box.min.x + 1;
    const BlockAxis across{box.min.x, width, factor};
    const BlockAxis down{box.min.y, box.max.y - box.min.y + 1, factor};
    const int w = across.count(), h = down.count();
    const bool pick = c.channel.type == Imf::UINT;
    StoredChannel small{c.name, c.channel, std::vector<char>(std::size_t(w) * h * sampleSize(c.channel.type))};
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            double sum = 0;
            int count = 0;
            for (int sy = down.begin(y); sy < (pick ? down.begin(y) + 1 : down.end(y)); ++sy) {
                for (int sx = across.begin(x); sx < (pick ? across.begin(x) + 1 : across.end(x)); ++sx, ++count) {
                    sum += sampleAt(c, std::size_t(sy) * width + sx);
                }
            }
            storeSample(small, std::size_t(y) * w + x, sum / count);
        }
    }
    return small;
}

const std::map<std::string, Imf::Compression>& compressionNames() {
    static const std::map<std::string, Imf::Compression> names = {
        {"none", Imf::NO_COMPRESSION},       {"rle", Imf::RLE_COMPRESSION},   {"zips", Imf::ZIPS_COMPRESSION},
        {"zip", Imf::ZIP_COMPRESSION},       {"piz", Imf::PIZ_COMPRESSION},   {"pxr24", Imf::PXR24_COMPRESSION},
        {"b44", Imf::B44_COMPRESSION},       {"b44a", Imf::B44A_COMPRESSION}, {"dwaa", Imf::DWAA_COMPRESSION},
        {"dwab", Imf::DWAB_COMPRESSION},
    };
    return names;
}

// A copy of `from` without the attributes `names`. Header::erase() of the
// library we build with forgets the attribute without freeing it.
Imf::Header withoutAttributes(const Imf::Header& from, std::initializer_list<const char*> names) {
    Imf::Header header;
    for (Imf::Header::ConstIterator a = from.begin(); a != from.end(); ++a) {
        if (std::none_of(names.begin(), names.end(), [&](const char* n) { return std::strcmp(n, a.name()) == 0; })) {
            header.insert(a.name(), a.attribute());
        }
    }
    return header;
}

// The header as written: scanlines (a tiled part is written as scanlines of
// its full-resolution level), windows at 1/factor, `compression` when named,
// and not the input's mark: the front end writes its own, or none.
Imf::Header outputHeader(const Imf::Header& input, int factor, const std::string& compression) {
    Imf::Header header = withoutAttributes(input, {"tiles", kVerdictTag});
    if (header.hasType()) header.setType(Imf::SCANLINEIMAGE);
    if (factor > 1) {
        header.dataWindow() = boxOf(downsampledWindow(rectOf(header.dataWindow()), factor));
        header.displayWindow() = boxOf(downsampledWindow(rectOf(header.displayWindow()), factor));
    }
    if (!compression.empty()) header.compression() = compressionNames().at(compression);
    return header;
}

}  // namespace

struct ExrPassThrough {
    std::vector<StoredPart> parts;
    std::size_t rendered = 0;  // the part the world came from
    std::string prefix;        // its rendered channels' layer: "" or "NAME."
};

bool isExrCompressionName(const std::string& name) { return compressionNames().count(name) != 0; }

PF_LRect downsampledWindow(const PF_LRect& window, int factor) {
    return PF_LRect{floorDiv(window.left, factor), floorDiv(window.top, factor), floorDiv(window.right, factor),
                    floorDiv(window.bottom, factor)};
}

ImageFile readExrFile(const std::string& path, const std::string& layer) {
    try {
        Imf::MultiPartInputFile file(path.c_str());
        // The first part with the channels to render; the first part's
        // problem is told when none has them.
        std::size_t rendered = 0;
        ExrChannels found;
        std::string problem;
        bool have = false;
        for (int p = 0; p < file.parts() && !have; ++p) {
            const Imf::Header& h = file.header(p);
            if (h.hasType() && Imf::isDeepData(h.type())) continue;
            const ExrChannels here = findExrChannels(h.channels(), layer);
            if (here.problem.empty()) {
                found = here;
                rendered = std::size_t(p);
                have = true;
            } else if (problem.empty()) {
                problem = here.problem;
            }
        }
        if (!have) {
            throw HostError("cannot read image '" + path + "': " +
                            (problem.empty() ? std::string("it has no part of flat pixels") : problem));
        }
        const Imf::Header& header = file.header(int(rendered));
        const Imath::Box2i window = header.dataWindow();
        const long width = long(window.max.x) - window.min.x + 1;
        const long height = long(window.max.y) - window.min.y + 1;
        if (width < 1 || height < 1 || width > PF_MAX_WORLD_WIDTH || height > PF_MAX_WORLD_HEIGHT) {
            throw HostError("cannot read image '" + path + "': its size " + std::to_string(width) + " x " +
                            std::to_string(height) + " is outside the host's 1 to 30000 pixels");
        }
        auto pass = std::make_shared<ExrPassThrough>();
        pass->rendered = rendered;
        pass->prefix = layer.empty() ? "" : layer + ".";
        std::vector<float> samples(std::size_t(width) * std::size_t(height) * kChannels);
        const int w = static_cast<int>(width);
        for (int p = 0; p < file.parts(); ++p) {
            const Imf::Header& h = file.header(p);
            if (h.hasType() && Imf::isDeepData(h.type())) {
                throw HostError("cannot read image '" + path + "': part " + std::to_string(p) +
                                (h.hasName() ? " '" + h.name() + "'" : std::string()) +
                                " holds deep data, which the front end cannot pass through");
            }
            StoredPart part{h, {}};
            const Imath::Box2i box = h.dataWindow();
            const std::size_t pixels = (std::size_t(box.max.x) - box.min.x + 1) * (std::size_t(box.max.y) - box.min.y + 1);
            Imf::FrameBuffer buffer;
            for (Imf::ChannelList::ConstIterator c = h.channels().begin(); c != h.channels().end(); ++c) {
                const std::string name = c.name();
                if (std::size_t(p) == rendered &&
                    (name == found.names[0] || name == found.names[1] || name == found.names[2] ||
                     name == found.names[3])) {
                    continue;
                }
                if (c.channel().xSampling != 1 || c.channel().ySampling != 1) {
                    throw HostError("cannot read image '" + path + "': channel '" + name +
                                    "' is subsampled, which the front end cannot pass through");
                }
                part.channels.push_back(
                    StoredChannel{name, c.channel(), std::vector<char>(pixels * sampleSize(c.channel().type))});
            }
            for (StoredChannel& c : part.channels) {
                buffer.insert(c.name, storedSlice(c.channel.type, c.samples.data(), box));
            }
            if (std::size_t(p) == rendered) {
                if (found.grey) {
                    buffer.insert(found.names[0], floatSlice(samples, 0, w, window, 0.0));
                } else {
                    for (std::size_t c = 0; c < 3; ++c) {
                        buffer.insert(found.names[c], floatSlice(samples, c, w, window, 0.0));
                    }
                }
                buffer.insert(found.names[3], floatSlice(samples, 3, w, window, 1.0));
            }
            Imf::InputPart in(file, p);
            in.setFrameBuffer(buffer);
            in.readPixels(box.min.y, box.max.y);
            pass->parts.push_back(std::move(part));
        }

        ImageFile image{PixelWorld(w, static_cast<int>(height), 32), 32, nullptr, nullptr};
        const float* s = samples.data();
        for (int y = 0; y < height; ++y) {
            PF_PixelFloat* row = &image.world.pixelFloat(0, y);
            for (int x = 0; x < w; ++x, s += kChannels) {
                const float g = found.grey ? s[0] : s[1];
                const float b = found.grey ? s[0] : s[2];
                row[x] = PF_PixelFloat{s[3], s[0], g, b};
            }
        }
        auto layout = std::make_shared<ExrLayout>();
        layout->data_window = rectOf(window);
        layout->display_window = rectOf(header.displayWindow());
        layout->pixel_aspect = header.pixelAspectRatio();
        layout->half = found.half;
        layout->pass_through = std::move(pass);
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
        // The mark sits on the rendered part, which need not be the first.
        Imf::MultiPartInputFile file(path.c_str());
        for (int part = 0; part < file.parts(); ++part) {
            const auto* value = file.header(part).findTypedAttribute<Imf::StringAttribute>(key);
            if (value) return value->value();
        }
        return "";
    } catch (const std::exception&) {
        return "";
    }
}

void writeExrFile(const std::string& path, const PixelWorld& world, const ExrLayout* layout,
                  const ImageWriteOptions& options) {
    const int width = world.width();
    const int height = world.height();
    std::vector<float> samples(std::size_t(width) * std::size_t(height) * kChannels);
    float* s = samples.data();
    for (int y = 0; y < height; ++y) {
        if (world.depth() == 32) {
            const PF_PixelFloat* row = &world.pixelFloat(0, y);
            for (int x = 0; x < width; ++x, s += kChannels) {
                s[0] = row[x].red, s[1] = row[x].green, s[2] = row[x].blue, s[3] = row[x].alpha;
            }
            continue;
        }
        for (int x = 0; x < width; ++x, s += kChannels) {
            const Rgba p = world.get(x, y);
            s[0] = p.r, s[1] = p.g, s[2] = p.b, s[3] = p.a;
        }
    }
    try {
        const ExrPassThrough* pass = layout ? layout->pass_through.get() : nullptr;
        const int factor = layout ? std::max(1, layout->downsample) : 1;
        const std::string compression = options.exr_compression;
        if (!compression.empty() && !isExrCompressionName(compression)) {
            throw HostError("cannot write image '" + path + "': no EXR compression is called '" + compression + "'");
        }
        // Every part's header and passed-through channels as written.
        std::vector<Imf::Header> headers;
        std::vector<std::vector<StoredChannel>> channels;
        std::size_t rendered = 0;
        if (pass) {
            rendered = pass->rendered;
            for (const StoredPart& part : pass->parts) {
                headers.push_back(outputHeader(part.header, factor, compression));
                channels.emplace_back();
                for (const StoredChannel& c : part.channels) {
                    channels.back().push_back(downsampledChannel(c, part.header.dataWindow(), factor));
                }
            }
        } else {
            headers.push_back(Imf::Header(width, height));
            channels.emplace_back();
            if (!compression.empty()) headers[0].compression() = compressionNames().at(compression);
        }
        Imf::Header& header = headers[rendered];
        if (layout) {
            // Written back where it was read from, at the render's scale; a
            // world of another size (a preview) keeps the data window's corner.
            const PF_LRect d = downsampledWindow(layout->data_window, factor);
            const PF_LRect v = downsampledWindow(layout->display_window, factor);
            header.dataWindow() =
                Imath::Box2i(Imath::V2i(d.left, d.top), Imath::V2i(d.left + width - 1, d.top + height - 1));
            header.displayWindow() = boxOf(v);
            header.pixelAspectRatio() = layout->pixel_aspect;
        }
        const Imf::PixelType type = layout && layout->half ? Imf::HALF : Imf::FLOAT;
        const std::string prefix = pass ? pass->prefix : "";
        const std::string names[kChannels] = {prefix + "R", prefix + "G", prefix + "B", prefix + "A"};
        header.channels() = Imf::ChannelList();
        for (const std::string& name : names) header.channels().insert(name, Imf::Channel(type));
        for (const StoredChannel& c : channels[rendered]) header.channels().insert(c.name, c.channel);
        for (const auto& [key, value] : options.text) header.insert(key, Imf::StringAttribute(value));
        // The library converts between slice and channel types when it
        // reads, not when it writes: half channels need half samples.
        std::vector<half> halves;
        if (type == Imf::HALF) halves.assign(samples.begin(), samples.end());
        auto frameBuffer = [&](std::size_t p) {
            const Imath::Box2i window = headers[p].dataWindow();
            Imf::FrameBuffer buffer;
            for (StoredChannel& c : channels[p]) {
                buffer.insert(c.name, storedSlice(c.channel.type, c.samples.data(), window));
            }
            if (p == rendered) {
                for (std::size_t c = 0; c < kChannels; ++c) {
                    buffer.insert(names[c], type == Imf::HALF ? halfSlice(halves, c, width, window)
                                                              : floatSlice(samples, c, width, window, 0.0));
                }
            }
            return buffer;
        };
        auto rows = [&](std::size_t p) { return headers[p].dataWindow().max.y - headers[p].dataWindow().min.y + 1; };
        ExrFileStream stream(path);
        if (headers.size() == 1) {
            Imf::OutputFile file(stream, headers[0]);
            file.setFrameBuffer(frameBuffer(0));
            file.writePixels(rows(0));
        } else {
            Imf::MultiPartOutputFile file(stream, headers.data(), int(headers.size()));
            for (std::size_t p = 0; p < headers.size(); ++p) {
                Imf::OutputPart out(file, int(p));
                out.setFrameBuffer(frameBuffer(p));
                out.writePixels(rows(p));
            }
        }
        stream.finish();
    } catch (const HostError&) {
        throw;
    } catch (const std::exception& e) {
        throw HostError("cannot write image '" + path + "': " + e.what());
    }
}

}  // namespace TEV::Host::Cli
