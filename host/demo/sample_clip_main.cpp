// tev-sample-clip: writes the generated sample clip at 8 and 16-bit PNG and EXR.
#include <cstdio>
#include <iostream>
#include <string>

#include "SampleClip.h"

int main(int argc, char** argv) {
    const char* kUsage =
        "usage: tev-sample-clip FOLDER [--frames N] [--size WIDTHxHEIGHT]\n"
        "Writes FOLDER/png8/clip_%04d.png, FOLDER/png16/clip_%04d.png and FOLDER/exr/clip_%04d.exr,\n"
        "frames numbered from 1 (default 12 frames of 640x360).\n";
    std::string folder;
    int frames = 12, width = 640, height = 360;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (a == "--frames" && i + 1 < argc) {
            frames = std::atoi(argv[++i]);
        } else if (a == "--size" && i + 1 < argc) {
            if (std::sscanf(argv[++i], "%dx%d", &width, &height) != 2) width = 0;
        } else if (folder.empty() && a.rfind("--", 0) != 0) {
            folder = a;
        } else {
            std::cerr << "tev-sample-clip: unexpected '" << a << "'\n" << kUsage;
            return 1;
        }
    }
    if (folder.empty() || frames < 1 || frames > 9999 || width < 16 || height < 16 || width > 8192 || height > 8192) {
        std::cerr << "tev-sample-clip: needs a folder, 1 to 9999 frames and a size of 16 to 8192 pixels\n" << kUsage;
        return 1;
    }
    try {
        TEV::Host::Cli::writeSampleClip(folder, width, height, frames);
    } catch (const std::exception& e) {
        std::cerr << "tev-sample-clip: " << e.what() << "\n";
        return 2;
    }
    std::cout << "wrote " << frames << " frames of " << width << "x" << height << " into " << folder
              << "/{png8,png16,exr}\n";
    return 0;
}
