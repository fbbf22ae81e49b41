#include "E2eSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cfenv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "FakeServer.h"
#include "TestInstall.h"

namespace fs = std::filesystem;

namespace TEV::E2e {

std::string pluginPath() { return TEV_E2E_PLUGIN; }
std::string frontEndPath() { return TEV_E2E_FRONT_END; }
std::string pluginLogFile() { return Test::logFolder() + "/ExamplePlugin_Adobe.log"; }
std::string pidFile() { return Test::logFolder() + "/server.pid"; }

void installServer() {
    const std::string command =
        std::string("\"") + TEV_E2E_CMAKE + "\" -P \"" + TEV_E2E_INSTALL_SCRIPT + "\" > /dev/null";
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("installing the reference server failed: " + command);
    }
}

namespace {

// Alive and not a zombie.
bool running(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return false;
    const std::size_t paren = line.rfind(')');
    return paren != std::string::npos && paren + 2 < line.size() && line[paren + 2] != 'Z';
}

bool isServer(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return cmdline.find("from launcher import launcher") != std::string::npos;
}

}  // namespace

pid_t serverPid() {
    std::ifstream in(pidFile());
    long pid = 0;
    if (!(in >> pid) || pid <= 1) return 0;
    return running(pid) && isServer(pid) ? static_cast<pid_t>(pid) : 0;
}

bool portAnswers() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(Test::kServerPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool answers = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return answers;
}

bool stopServer(int signal) {
    const pid_t pid = serverPid();
    if (pid == 0) return !portAnswers();
    kill(pid, signal);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
        waitpid(pid, nullptr, WNOHANG);  // reaps the server when this process launched it
        if (!running(pid) && !portAnswers()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

PixelWorld expectedOutput(const PixelWorld& input, const Adjustment& a) {
    const int depth = input.depth();
    const double scale = depth == 8 ? 255.0 : depth == 16 ? 32768.0 : 1.0;
    const double b = a.brightness, c = a.contrast, s = a.saturation;
    const double k1 = b * c * s, k2 = b * c * (1 - s), t = scale * 0.5 * (1 - c);
    PixelWorld out(input.width(), input.height(), depth);
    const int saved_rounding = std::fegetround();
    std::fesetround(FE_TONEAREST);  // nearbyint: half to even
    for (int y = 0; y < input.height(); ++y) {
        for (int x = 0; x < input.width(); ++x) {
            double n[3];
            if (depth == 8) {
                const PF_Pixel& p = input.pixel8(x, y);
                n[0] = p.red, n[1] = p.green, n[2] = p.blue;
            } else if (depth == 16) {
                const PF_Pixel16& p = input.pixel16(x, y);
                n[0] = p.red, n[1] = p.green, n[2] = p.blue;
            } else {
                const PF_PixelFloat& p = input.pixelFloat(x, y);
                n[0] = p.red, n[1] = p.green, n[2] = p.blue;
            }
            const double luma = 0.2126 * n[0] + 0.7152 * n[1] + 0.0722 * n[2];
            const double shift = k2 * luma + t;
            for (double& v : n) {
                v *= k1;
                v += shift;
            }
            if (depth == 32) {
                out.pixelFloat(x, y) = PF_PixelFloat{1.0f, float(n[0]), float(n[1]), float(n[2])};
                continue;
            }
            A_u_short q[3];
            for (int k = 0; k < 3; ++k) {
                q[k] = static_cast<A_u_short>(std::nearbyint(std::min(scale, std::max(0.0, n[k]))));
            }
            if (depth == 8) {
                out.pixel8(x, y) = PF_Pixel{255, A_u_char(q[0]), A_u_char(q[1]), A_u_char(q[2])};
            } else {
                out.pixel16(x, y) = PF_Pixel16{32768, q[0], q[1], q[2]};
            }
        }
    }
    std::fesetround(saved_rounding);
    return out;
}

std::string firstDifference(const PixelWorld& actual, const PixelWorld& expected) {
    std::ostringstream why;
    if (actual.width() != expected.width() || actual.height() != expected.height() ||
        actual.depth() != expected.depth()) {
        why << "size/depth " << actual.width() << "x" << actual.height() << "@" << actual.depth() << " vs "
            << expected.width() << "x" << expected.height() << "@" << expected.depth();
        return why.str();
    }
    for (int y = 0; y < actual.height(); ++y) {
        for (int x = 0; x < actual.width(); ++x) {
            const Host::Rgba p = actual.get(x, y), q = expected.get(x, y);
            bool same;
            if (actual.depth() == 8) {
                const PF_Pixel &u = actual.pixel8(x, y), &v = expected.pixel8(x, y);
                same = u.alpha == v.alpha && u.red == v.red && u.green == v.green && u.blue == v.blue;
            } else if (actual.depth() == 16) {
                const PF_Pixel16 &u = actual.pixel16(x, y), &v = expected.pixel16(x, y);
                same = u.alpha == v.alpha && u.red == v.red && u.green == v.green && u.blue == v.blue;
            } else {
                same = p.r == q.r && p.g == q.g && p.b == q.b && p.a == q.a;
            }
            if (!same) {
                why.precision(9);
                why << "pixel (" << x << ", " << y << "): rgba " << p.r << " " << p.g << " " << p.b << " " << p.a
                    << ", expected " << q.r << " " << q.g << " " << q.b << " " << q.a;
                return why.str();
            }
        }
    }
    return "";
}

PluginSession::PluginSession(const Host::HostOptions& options, const Adjustment& adjustment) : host(options) {
    host.load(pluginPath());
    host.globalSetup().expectOk();
    host.paramsSetup().expectOk();
    inst = host.createInstance();
    host.setParam(inst, "Brightness", adjustment.brightness);
    host.setParam(inst, "Contrast", adjustment.contrast);
    host.setParam(inst, "Saturation", adjustment.saturation);
}

PluginSession::~PluginSession() {
    host.destroyInstance(inst);
    host.globalSetdown();
}

std::uintmax_t logSize() {
    std::error_code ec;
    const std::uintmax_t n = fs::file_size(pluginLogFile(), ec);
    return ec ? 0 : n;
}

std::vector<std::string> logLinesSince(std::uintmax_t offset) {
    std::ifstream in(pluginLogFile(), std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

HiddenRuntime::HiddenRuntime() {
    fs::rename(Test::serverExecutable(), Test::serverExecutable() + ".hidden");
    hidden_ = true;
}

HiddenRuntime::~HiddenRuntime() { restore(); }

void HiddenRuntime::restore() {
    if (!hidden_) return;
    std::error_code ec;
    fs::rename(Test::serverExecutable() + ".hidden", Test::serverExecutable(), ec);
    hidden_ = false;
}

}  // namespace TEV::E2e
