// Shared set-up and pixel helpers of the plug-in tests.
#include "PluginTestSupport.h"

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "TEV_Image.h"

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

namespace fs = std::filesystem;

namespace {
// Relative: each suite that links this support writes into its own folder.
constexpr char kPictureDir[] = "pictures";
}  // namespace

namespace TEV::PluginTest {

// ---- log file -----------------------------------------------------------------

std::string logPath() { return logFolder() + "/ExamplePlugin_Adobe.log"; }

std::vector<std::string> logMessages() {
    static const std::regex stamped(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} (.*)$)");
    std::ifstream in(logPath());
    std::vector<std::string> messages;
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) continue;  // the line feed that ends "At line 185\n"
        std::smatch m;
        if (std::regex_match(line, m, stamped))
            messages.push_back(m[1]);
        else
            ADD_FAILURE() << "log line without date and time: " << line;
    }
    return messages;
}

int countLogMessages(const std::string& prefix) {
    const std::vector<std::string> messages = logMessages();
    return static_cast<int>(std::count_if(messages.begin(), messages.end(), [&](const std::string& m) {
        return m.compare(0, prefix.size(), prefix) == 0;
    }));
}

// ---- server side --------------------------------------------------------------

Dict makeMap(std::initializer_list<std::pair<const std::string, Dict>> entries) {
    return Dict(std::map<std::string, Dict>(entries));
}

Dict renderResult(const Image& image) { return makeMap({{"result", makeMap({{"image", Dict(image)}})}}); }

Image receivedImage(const ReceivedRequest& call) { return call.message.get("args").get("image").asImage(); }

Image inverted(const Image& image) {
    Image out = image;
    const std::size_t n = std::size_t(image.width) * image.height;
    for (std::size_t p = 0; p < n; ++p) {
        for (int s = 0; s < 3; ++s) {
            const std::size_t i = p * image.channels + s;
            if (auto* f = std::get_if<std::vector<float>>(&out.pixels)) {
                (*f)[i] = 1.0f - (*f)[i];
            } else {
                auto& bytes = std::get<std::vector<unsigned char>>(out.pixels);
                if (image.bit_depth == 16) {
                    std::uint16_t v;
                    std::memcpy(&v, &bytes[i * 2], 2);
                    v = static_cast<std::uint16_t>(32768 - v);
                    std::memcpy(&bytes[i * 2], &v, 2);
                } else {
                    bytes[i] = static_cast<unsigned char>(255 - bytes[i]);
                }
            }
        }
    }
    return out;
}

JobScript invertingJob() {
    JobScript script;
    script.result = [](const Dict& call) { return renderResult(inverted(call.get("args").get("image").asImage())); };
    return script;
}

// ---- pixels -------------------------------------------------------------------

double sampleAt(const Image& image, int x, int y, int s) {
    const std::size_t i = (std::size_t(y) * image.width + x) * image.channels + s;
    if (const auto* f = std::get_if<std::vector<float>>(&image.pixels)) return (*f)[i];
    const auto& bytes = std::get<std::vector<unsigned char>>(image.pixels);
    if (image.bit_depth == 16) {
        std::uint16_t v;
        std::memcpy(&v, &bytes[i * 2], 2);
        return v;
    }
    return bytes[i];
}

namespace {

void setSample(Image& image, int x, int y, int s, double value) {
    const std::size_t i = (std::size_t(y) * image.width + x) * image.channels + s;
    if (auto* f = std::get_if<std::vector<float>>(&image.pixels)) {
        (*f)[i] = static_cast<float>(value);
        return;
    }
    auto& bytes = std::get<std::vector<unsigned char>>(image.pixels);
    if (image.bit_depth == 16) {
        const auto v = static_cast<std::uint16_t>(value);
        std::memcpy(&bytes[i * 2], &v, 2);
    } else {
        bytes[i] = static_cast<unsigned char>(value);
    }
}

}  // namespace

PixelWorld worldFromImage(const Image& image, int padding) {
    PixelWorld world(image.width, image.height, image.bit_depth, padding);
    const bool alpha = image.channels == 4;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            auto s = [&](int k) { return sampleAt(image, x, y, k); };
            switch (image.bit_depth) {
                case 8:
                    world.pixel8(x, y) = PF_Pixel{static_cast<A_u_char>(alpha ? s(3) : 255), static_cast<A_u_char>(s(0)),
                                                  static_cast<A_u_char>(s(1)), static_cast<A_u_char>(s(2))};
                    break;
                case 16:
                    world.pixel16(x, y) =
                        PF_Pixel16{static_cast<A_u_short>(alpha ? s(3) : 32768), static_cast<A_u_short>(s(0)),
                                   static_cast<A_u_short>(s(1)), static_cast<A_u_short>(s(2))};
                    break;
                default:
                    world.pixelFloat(x, y) =
                        PF_PixelFloat{static_cast<float>(alpha ? s(3) : 1.0), static_cast<float>(s(0)),
                                      static_cast<float>(s(1)), static_cast<float>(s(2))};
            }
        }
    }
    return world;
}

Image imageFromWorld(const PixelWorld& input, float downsample) {
    Image image(static_cast<unsigned short>(input.width()), static_cast<unsigned short>(input.height()), 3,
                static_cast<unsigned short>(input.depth()), 1.0f, static_cast<unsigned short>(input.rowbytes()),
                downsample);
    for (int y = 0; y < input.height(); ++y) {
        for (int x = 0; x < input.width(); ++x) {
            double rgb[3];
            switch (input.depth()) {
                case 8: {
                    const PF_Pixel& p = input.pixel8(x, y);
                    rgb[0] = p.red, rgb[1] = p.green, rgb[2] = p.blue;
                    break;
                }
                case 16: {
                    const PF_Pixel16& p = input.pixel16(x, y);
                    rgb[0] = p.red, rgb[1] = p.green, rgb[2] = p.blue;
                    break;
                }
                default: {
                    const PF_PixelFloat& p = input.pixelFloat(x, y);
                    rgb[0] = p.red, rgb[1] = p.green, rgb[2] = p.blue;
                }
            }
            for (int s = 0; s < 3; ++s) setSample(image, x, y, s, rgb[s]);
        }
    }
    return image;
}

PixelWorld expectedOverlay(const PixelWorld& input, const std::string& line1, const std::string& line2,
                           const std::string& line3, float scale) {
    Image image = imageFromWorld(input, scale);
    writeOnImage(image, line1, line2, line3, true, scale);
    return worldFromImage(image);
}

long differingPixels(const PixelWorld& a, const PixelWorld& b) {
    if (a.width() != b.width() || a.height() != b.height() || a.depth() != b.depth()) return -1;
    long differing = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            switch (a.depth()) {
                case 8:
                    differing += std::memcmp(&a.pixel8(x, y), &b.pixel8(x, y), sizeof(PF_Pixel)) != 0;
                    break;
                case 16:
                    differing += std::memcmp(&a.pixel16(x, y), &b.pixel16(x, y), sizeof(PF_Pixel16)) != 0;
                    break;
                default:
                    differing += std::memcmp(&a.pixelFloat(x, y), &b.pixelFloat(x, y), sizeof(PF_PixelFloat)) != 0;
            }
        }
    }
    return differing;
}

bool allZero(const PixelWorld& world) {
    for (int y = 0; y < world.height(); ++y) {
        for (int x = 0; x < world.width(); ++x) {
            const Rgba p = world.get(x, y);
            if (p.r != 0 || p.g != 0 || p.b != 0 || p.a != 0) return false;
        }
    }
    return true;
}

int darkenedRows(const PixelWorld& input, const PixelWorld& output) {
    int rows = 0;
    for (int y = 0; y < input.height(); ++y) {
        bool darkened = true;
        for (int x = 0; x < input.width() && darkened; ++x) {
            const PF_Pixel& in = input.pixel8(x, y);
            const PF_Pixel& out = output.pixel8(x, y);
            darkened = out.alpha == 255 && out.red == int(in.red * 0.4) && out.green == int(in.green * 0.4) &&
                       out.blue == int(in.blue * 0.4);
        }
        rows += darkened;
    }
    return rows;
}

std::string writePng(const PixelWorld& world, const std::string& name) {
    fs::create_directories(kPictureDir);
    const std::string path = std::string(kPictureDir) + "/" + name + ".png";
    std::vector<unsigned char> rgba;
    rgba.reserve(std::size_t(world.width()) * world.height() * 4);
    auto byte = [](float v) { return static_cast<unsigned char>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)); };
    for (int y = 0; y < world.height(); ++y) {
        for (int x = 0; x < world.width(); ++x) {
            const Rgba p = world.get(x, y);
            rgba.insert(rgba.end(), {byte(p.r), byte(p.g), byte(p.b), byte(p.a)});
        }
    }
    if (!stbi_write_png(path.c_str(), world.width(), world.height(), 4, rgba.data(), world.width() * 4))
        ADD_FAILURE() << "could not write " << path;
    return path;
}

// ---- fixture ------------------------------------------------------------------

void PluginTest::SetUp() {
    if (!makerFolderIsScratch()) GTEST_SKIP() << "maker folder " << kMakerFolder << " is outside the build tree";
    removeServerInstall();
    fs::remove(logPath());
}

void PluginTest::TearDown() {
    if (host && host->loaded()) {
        const CommandResult setdown = host->globalSetdown();
        EXPECT_TRUE(setdown.ok()) << setdown.describe();
        std::ostringstream lines;
        for (const std::string& line : host->unbalanced()) lines << "\n  " << line;
        EXPECT_TRUE(lines.str().empty()) << "the host's books do not balance:" << lines.str();
    }
    host.reset();
    server.reset();
}

HeadlessHost& PluginTest::load(HostOptions options, const std::string& module) {
    host = std::make_unique<HeadlessHost>(std::move(options));
    host->load(module);
    return *host;
}

HeadlessHost& PluginTest::start(HostOptions options, const std::string& module) {
    load(std::move(options), module);
    host->globalSetup().expectOk();
    host->paramsSetup().expectOk();
    return *host;
}

HeadlessHost& PluginTest::startShim(const FaultShimConfig& config, HostOptions options) {
    load(std::move(options), FAULT_SHIM_PATH);
    void* shim = dlopen(FAULT_SHIM_PATH, RTLD_NOW | RTLD_NOLOAD);
    if (!shim) throw HostError(std::string("fault shim not loaded: ") + dlerror());
    auto configure = reinterpret_cast<FaultShimConfigureFn>(dlsym(shim, "FaultShimConfigure"));
    if (configure) configure(&config);
    dlclose(shim);
    if (!configure) throw HostError("the fault shim lacks FaultShimConfigure");
    host->globalSetup().expectOk();
    host->paramsSetup().expectOk();
    return *host;
}

FakeServer& PluginTest::startServer() {
    server = std::make_unique<FakeServer>(kServerPort);
    return *server;
}

std::vector<ReceivedRequest> PluginTest::renderCalls() const {
    std::vector<ReceivedRequest> calls;
    for (ReceivedRequest& r : server->requests("call_plugin"))
        if (r.message.getString("function_name", "") == "render") calls.push_back(std::move(r));
    return calls;
}

HostOptions ProfileTest::inProfile(HostOptions options) const {
    const HostOptions profile = HostOptions::forProfile(GetParam());
    options.app = profile.app;
    options.withheld_suites.insert(options.withheld_suites.end(), profile.withheld_suites.begin(),
                                   profile.withheld_suites.end());
    options.render_commands = profile.render_commands;
    return options;
}

std::string ProfileTest::hostTag() const { return smart() ? "ae13" : "premiere13"; }

std::vector<int> ProfileTest::processedDepths() const {
    return smart() ? std::vector<int>{8, 16, 32} : std::vector<int>{8, 16};
}

std::string profileParamName(const ::testing::TestParamInfo<HostProfile>& info) {
    return profileName(info.param);
}

}  // namespace TEV::PluginTest
