// tev_front_end_bench: `tev-host render` on grainy 1080p 8-bit plates against
// the echo server, beside the libpng floor measured in the same run.
//
//   tev_front_end_bench [--frames N] [--front-end PATH] [--levels a,b,...] [--old]
//
// The plates are RGB PNGs of a soft gradient under per-sample Gaussian grain
// (sigma 4 levels), which zlib compresses about as poorly as scanned or
// camera plates. The floor is what libpng alone needs per frame: decode the
// plate to RGBA and encode it again at zlib level 1, on one thread (CPU
// time). Each row runs tev-host as a child process on every plate, its CPU
// (user + system, from wait4, start-up and plug-in load included) divided by
// the frames; the server answers with the frame it got, its first sample
// inverted so that every frame counts as processed. --old leaves out
// --png-level, for a front end that does not have it. Last, the plates as
// 10-bit DPX files (made by oiiotool) through the same render.
#include <png.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ServerProcess.h"
#include "TEVLocations.h"

namespace fs = std::filesystem;
using namespace TEV::Bench;

namespace {

constexpr int kWidth = 1920, kHeight = 1080;

double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

void writePng(const std::string& path, const std::vector<unsigned char>& bytes, int channels, int level) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) throw std::runtime_error("cannot write " + path);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        std::fclose(f);
        throw std::runtime_error("libpng failed writing " + path);
    }
    png_init_io(png, f);
    png_set_compression_level(png, level);
    png_set_IHDR(png, info, kWidth, kHeight, 8, channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < kHeight; ++y) {
        png_write_row(png, bytes.data() + std::size_t(y) * kWidth * channels);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}

std::vector<unsigned char> readPngRgba(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) throw std::runtime_error("cannot read " + path);
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        std::fclose(f);
        throw std::runtime_error("libpng failed reading " + path);
    }
    png_init_io(png, f);
    png_read_info(png, info);
    png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);
    png_read_update_info(png, info);
    std::vector<unsigned char> bytes(std::size_t(kWidth) * kHeight * 4);
    std::vector<png_bytep> rows(kHeight);
    for (int y = 0; y < kHeight; ++y) rows[y] = bytes.data() + std::size_t(y) * kWidth * 4;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return bytes;
}

// A soft gradient, different for every plate, under Gaussian grain.
void makePlates(const std::string& dir, int frames) {
    fs::create_directories(dir);
    std::mt19937 random(20261208);
    std::normal_distribution<float> grain(0.0f, 4.0f);
    std::vector<unsigned char> rgb(std::size_t(kWidth) * kHeight * 3);
    for (int n = 1; n <= frames; ++n) {
        char name[64];
        std::snprintf(name, sizeof name, "/plate_%04d.png", n);
        if (fs::exists(dir + name)) continue;
        std::size_t i = 0;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const float base[3] = {40.0f + 150.0f * x / kWidth, 60.0f + 120.0f * y / kHeight,
                                       90.0f + 40.0f * float((x + y + 37 * n) % 700) / 700.0f};
                for (int c = 0; c < 3; ++c, ++i) {
                    const float v = base[c] + grain(random);
                    rgb[i] = static_cast<unsigned char>(v < 0 ? 0 : v > 255 ? 255 : v + 0.5f);
                }
            }
        }
        writePng(dir + name, rgb, 3, 6);
    }
}

struct Run {
    double cpu_per_frame = 0;  // s
    double fps = 0;
    double mb_per_frame = 0;
};

// tev-host rendering plates/plate_%04d.EXT into out/o_%04d.EXT.
Run runFrontEnd(const std::string& front_end, const std::string& plates, const std::string& out, int frames,
                int threads, int level, bool old, const std::string& ext = "png") {
    fs::remove_all(out);
    fs::create_directories(out);
    std::vector<std::string> args = {front_end, "render", EXAMPLE_PLUGIN_PATH, "--in", plates + "/plate_%04d." + ext,
                                     "--out", out + "/o_%04d." + ext, "--threads", std::to_string(threads),
                                     "--no-progress"};
    if (!old && ext == "png") {
        args.push_back("--png-level");
        args.push_back(std::to_string(level));
    }
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (!std::freopen("/dev/null", "w", stdout)) _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error("tev-host failed (status " + std::to_string(status) + ")");
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    double bytes = 0;
    for (const auto& e : fs::directory_iterator(out)) bytes += double(e.file_size());
    return Run{cpu / frames, frames / wall, bytes / frames / 1e6};
}

}  // namespace

int main(int argc, char** argv) {
    try {
        int frames = 12;
        std::string front_end = TEV_FRONT_END_PATH;
        std::vector<int> levels = {1, 0, 3, 6, 9};
        bool old = false;
        for (int i = 1; i < argc; ++i) {
            const std::string a = argv[i];
            if (a == "--old") old = true;
            else if (i + 1 < argc && a == "--frames") frames = std::atoi(argv[++i]);
            else if (i + 1 < argc && a == "--front-end") front_end = argv[++i];
            else if (i + 1 < argc && a == "--levels") {
                levels.clear();
                std::stringstream list(argv[++i]);
                for (std::string l; std::getline(list, l, ',');) levels.push_back(std::stoi(l));
            } else {
                std::fprintf(stderr, "usage: tev_front_end_bench [--frames N] [--front-end PATH] [--levels a,b] [--old]\n");
                return 2;
            }
        }
        const std::string dir = fs::absolute("front_end_bench").string();
        const std::string plates = dir + "/plates";
        makePlates(plates, frames);
        double plate_bytes = 0;
        for (const auto& e : fs::directory_iterator(plates)) plate_bytes += double(e.file_size());

        // The floor: decode + encode at level 1, one thread, per frame.
        double floor = 0, floor_bytes = 0;
        for (int n = 1; n <= frames; ++n) {
            char name[64];
            std::snprintf(name, sizeof name, "/plate_%04d.png", n);
            const double t0 = threadCpuSeconds();
            const std::vector<unsigned char> rgba = readPngRgba(plates + name);
            writePng(dir + "/floor.png", rgba, 4, 1);
            floor += threadCpuSeconds() - t0;
            floor_bytes += double(fs::file_size(dir + "/floor.png"));
        }
        floor /= frames;
        double load[3] = {};
        getloadavg(load, 3);
        std::printf("\nFront end: tev-host render on %d grainy 1920x1080 8-bit RGB plates (%.2f MB each), echo\n"
                    "server, load average %.2f at the start; CPU = user + system of the process per frame;\n"
                    "floor = libpng decode to RGBA + encode at zlib level 1, one thread: %.1f ms CPU, %.2f MB\n",
                    frames, plate_bytes / frames / 1e6, load[0], floor * 1e3, floor_bytes / frames / 1e6);
        std::printf("%-10s %8s %12s %10s %8s %10s\n", "png level", "threads", "CPU ms/frame", "x floor", "fps",
                    "MB/frame");
        std::fflush(stdout);  // before the children are forked, or they write it again
        ServerProcess server(BENCH_SERVER_PATH, {"--port", std::to_string(TEV_SERVER_PORT), "--touch"},
                             TEV_SERVER_PORT);
        for (std::size_t k = 0; k < levels.size(); ++k) {
            for (int threads : k == 0 ? std::vector<int>{1, 2} : std::vector<int>{2}) {
                const Run r = runFrontEnd(front_end, plates, dir + "/out", frames, threads, levels[k], old);
                std::printf("%-10s %8d %12.1f %10.2f %8.2f %10.2f\n",
                            old ? "default" : std::to_string(levels[k]).c_str(), threads, r.cpu_per_frame * 1e3,
                            r.cpu_per_frame / floor, r.fps, r.mb_per_frame);
                std::fflush(stdout);
            }
            if (old) break;
        }
        // A scanner's plate: the same pictures as 10-bit DPX files (oiiotool
        // converts them), rendered at 16 bits and written back as 10-bit DPX.
        if (!old) {
            const std::string dpx = dir + "/dpx";
            fs::create_directories(dpx);
            for (int n = 1; n <= frames; ++n) {
                char name[64];
                std::snprintf(name, sizeof name, "/plate_%04d", n);
                const std::string command = "oiiotool '" + plates + name + ".png' -d uint10 -o '" + dpx + name + ".dpx'";
                if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
            }
            double dpx_bytes = 0;
            for (const auto& e : fs::directory_iterator(dpx)) dpx_bytes += double(e.file_size());
            std::printf("10-bit DPX plates (%.2f MB each), DPX out:\n", dpx_bytes / frames / 1e6);
            std::fflush(stdout);  // before the fork, or the child writes it again
            for (int threads : {1, 2}) {
                const Run r = runFrontEnd(front_end, dpx, dir + "/out", frames, threads, 0, false, "dpx");
                std::printf("%-10s %8d %12.1f %10.2f %8.2f %10.2f\n", "dpx 10", threads, r.cpu_per_frame * 1e3,
                            r.cpu_per_frame / floor, r.fps, r.mb_per_frame);
                std::fflush(stdout);
            }
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tev_front_end_bench: %s\n", e.what());
        return 1;
    }
}
