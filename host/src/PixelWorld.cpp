#include "tevhost/PixelWorld.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "tevhost/HostError.h"

namespace TEV::Host {

namespace {

// Every live PixelWorld by record address and by pixel address, so that the
// host can tell the depth of a world a plug-in hands back.
std::mutex& worldsMutex() {
    static std::mutex m;
    return m;
}
std::unordered_map<const void*, int>& worldDepths() {
    static std::unordered_map<const void*, int> depths;
    return depths;
}

int pixelSizeOf(int depth) { return depth == 8 ? 4 : depth == 16 ? 8 : 16; }

std::uint8_t to8(float v) { return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)); }
A_u_short to16(float v) {
    return static_cast<A_u_short>(std::lround(std::clamp(v, 0.0f, 1.0f) * float(PF_MAX_CHAN16)));
}

}  // namespace

struct PixelWorld::Impl {
    PF_EffectWorld world{};
    std::vector<std::uint8_t> storage;
    int depth = 8;
    int padding = 0;

    void registerSelf() {
        std::lock_guard<std::mutex> lock(worldsMutex());
        worldDepths()[&world] = depth;
        if (world.data) {
            worldDepths()[world.data] = depth;
        }
    }
    ~Impl() {
        std::lock_guard<std::mutex> lock(worldsMutex());
        worldDepths().erase(&world);
        if (world.data) {
            worldDepths().erase(world.data);
        }
    }
};

PixelWorld::PixelWorld() : PixelWorld(0, 0, 8, 0) {}

PixelWorld::PixelWorld(int width, int height, int depth, int row_padding) : impl_(std::make_unique<Impl>()) {
    if (depth != 8 && depth != 16 && depth != 32) {
        throw HostError("PixelWorld: depth must be 8, 16 or 32, not " + std::to_string(depth));
    }
    if (width < 0 || height < 0 || width > PF_MAX_WORLD_WIDTH || height > PF_MAX_WORLD_HEIGHT || row_padding < 0) {
        throw HostError("PixelWorld: bad size " + std::to_string(width) + " x " + std::to_string(height) +
                        " with row padding " + std::to_string(row_padding));
    }
    Impl& w = *impl_;
    w.depth = depth;
    w.padding = row_padding;
    std::size_t rowbytes = static_cast<std::size_t>(width) * pixelSizeOf(depth) + row_padding;
    w.storage.assign(rowbytes * height, 0);
    for (int y = 0; y < height; ++y) {
        std::memset(w.storage.data() + y * rowbytes + rowbytes - row_padding, kPaddingByte, row_padding);
    }
    w.world.world_flags = depth == 16 ? PF_WorldFlag_DEEP : 0;
    w.world.data = w.storage.empty() ? nullptr : reinterpret_cast<PF_PixelPtr>(w.storage.data());
    w.world.rowbytes = static_cast<A_long>(rowbytes);
    w.world.width = width;
    w.world.height = height;
    w.world.extent_hint = PF_LRect{0, 0, width, height};
    w.world.pix_aspect_ratio = PF_RationalScale{1, 1};
    w.registerSelf();
}

PixelWorld::PixelWorld(PixelWorld&&) noexcept = default;
PixelWorld& PixelWorld::operator=(PixelWorld&&) noexcept = default;
PixelWorld::~PixelWorld() = default;

int PixelWorld::width() const { return impl_ ? impl_->world.width : 0; }
int PixelWorld::height() const { return impl_ ? impl_->world.height : 0; }
int PixelWorld::depth() const { return impl_ ? impl_->depth : 8; }
int PixelWorld::pixelSize() const { return pixelSizeOf(depth()); }
std::size_t PixelWorld::rowbytes() const { return impl_ ? impl_->world.rowbytes : 0; }
bool PixelWorld::empty() const { return width() == 0 || height() == 0; }

PF_EffectWorld* PixelWorld::world() { return &impl_->world; }
const PF_EffectWorld* PixelWorld::world() const { return &impl_->world; }

void PixelWorld::setWriteable(bool writeable) {
    if (writeable) {
        impl_->world.world_flags |= PF_WorldFlag_WRITEABLE;
    } else {
        impl_->world.world_flags &= ~PF_WorldFlag_WRITEABLE;
    }
}

void* PixelWorld::at(int x, int y, int expected_depth) const {
    if (!impl_ || depth() != expected_depth) {
        throw HostError("PixelWorld: " + std::to_string(expected_depth) + "-bit access to a " +
                        std::to_string(depth()) + "-bit world");
    }
    if (x < 0 || y < 0 || x >= width() || y >= height()) {
        throw HostError("PixelWorld: pixel (" + std::to_string(x) + ", " + std::to_string(y) +
                        ") outside " + std::to_string(width()) + " x " + std::to_string(height()));
    }
    return const_cast<std::uint8_t*>(impl_->storage.data()) + y * rowbytes() + x * pixelSize();
}

PF_Pixel& PixelWorld::pixel8(int x, int y) { return *static_cast<PF_Pixel*>(at(x, y, 8)); }
PF_Pixel16& PixelWorld::pixel16(int x, int y) { return *static_cast<PF_Pixel16*>(at(x, y, 16)); }
PF_PixelFloat& PixelWorld::pixelFloat(int x, int y) { return *static_cast<PF_PixelFloat*>(at(x, y, 32)); }
const PF_Pixel& PixelWorld::pixel8(int x, int y) const { return *static_cast<PF_Pixel*>(at(x, y, 8)); }
const PF_Pixel16& PixelWorld::pixel16(int x, int y) const { return *static_cast<PF_Pixel16*>(at(x, y, 16)); }
const PF_PixelFloat& PixelWorld::pixelFloat(int x, int y) const {
    return *static_cast<PF_PixelFloat*>(at(x, y, 32));
}

Rgba PixelWorld::get(int x, int y) const {
    switch (depth()) {
    case 8: {
        const PF_Pixel& p = pixel8(x, y);
        return {p.red / 255.0f, p.green / 255.0f, p.blue / 255.0f, p.alpha / 255.0f};
    }
    case 16: {
        const PF_Pixel16& p = pixel16(x, y);
        constexpr float k = PF_MAX_CHAN16;
        return {p.red / k, p.green / k, p.blue / k, p.alpha / k};
    }
    default: {
        const PF_PixelFloat& p = pixelFloat(x, y);
        return {p.red, p.green, p.blue, p.alpha};
    }
    }
}

void PixelWorld::set(int x, int y, const Rgba& v) {
    switch (depth()) {
    case 8: pixel8(x, y) = PF_Pixel{to8(v.a), to8(v.r), to8(v.g), to8(v.b)}; break;
    case 16: pixel16(x, y) = PF_Pixel16{to16(v.a), to16(v.r), to16(v.g), to16(v.b)}; break;
    default: pixelFloat(x, y) = PF_PixelFloat{v.a, v.r, v.g, v.b}; break;
    }
}

void PixelWorld::fill(const Rgba& value) {
    for (int y = 0; y < height(); ++y) {
        for (int x = 0; x < width(); ++x) {
            set(x, y, value);
        }
    }
}

void PixelWorld::fillGradient() {
    for (int y = 0; y < height(); ++y) {
        for (int x = 0; x < width(); ++x) {
            set(x, y, Rgba{(x % 256) / 255.0f, (y % 256) / 255.0f, ((x + y) % 256) / 255.0f, 1.0f});
        }
    }
}

PixelWorld PixelWorld::convertedTo(int new_depth) const {
    PixelWorld out(width(), height(), new_depth, impl_ ? impl_->padding : 0);
    for (int y = 0; y < height(); ++y) {
        for (int x = 0; x < width(); ++x) {
            out.set(x, y, get(x, y));
        }
    }
    return out;
}

bool PixelWorld::paddingIntact() const {
    if (!impl_ || impl_->padding == 0) {
        return true;
    }
    std::size_t rb = rowbytes();
    for (int y = 0; y < height(); ++y) {
        const std::uint8_t* pad = impl_->storage.data() + y * rb + rb - impl_->padding;
        for (int i = 0; i < impl_->padding; ++i) {
            if (pad[i] != kPaddingByte) {
                return false;
            }
        }
    }
    return true;
}

PF_PixelFormat PixelWorld::pixelFormat() const {
    return depth() == 8 ? PF_PixelFormat_ARGB32 : depth() == 16 ? PF_PixelFormat_ARGB64 : PF_PixelFormat_ARGB128;
}

int knownWorldDepth(const PF_EffectWorld* world) {
    if (!world) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(worldsMutex());
    auto it = worldDepths().find(world);
    if (it == worldDepths().end() && world->data) {
        it = worldDepths().find(world->data);
    }
    return it == worldDepths().end() ? 0 : it->second;
}

}  // namespace TEV::Host
