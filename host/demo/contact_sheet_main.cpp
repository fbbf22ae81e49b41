// tev-contact-sheet: images side by side in captioned rows, as one 8-bit PNG.
#include <iostream>
#include <string>
#include <vector>

#include "ContactSheet.h"
#include "files/ImageFiles.h"

int main(int argc, char** argv) {
    using namespace TEV::Host::Cli;
    const char* kUsage =
        "usage: tev-contact-sheet OUT.png [--cell-width W] --row CAPTION IMAGE... [--row CAPTION IMAGE...]...\n"
        "Each row shows its images (.png or .exr) scaled to W pixels wide (default 320) under its caption.\n";
    std::string output;
    int cell_width = 320;
    std::vector<SheetRow> rows;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (a == "--cell-width" && i + 1 < argc) {
            cell_width = std::atoi(argv[++i]);
        } else if (a == "--row" && i + 1 < argc) {
            rows.push_back(SheetRow{argv[++i], {}});
        } else if (!rows.empty() && a.rfind("--", 0) != 0) {
            rows.back().images.push_back(a);
        } else if (output.empty() && a.rfind("--", 0) != 0) {
            output = a;
        } else {
            std::cerr << "tev-contact-sheet: unexpected '" << a << "'\n" << kUsage;
            return 1;
        }
    }
    if (output.empty() || rows.empty() || cell_width < 16 || cell_width > 4096) {
        std::cerr << "tev-contact-sheet: needs OUT.png, a cell width of 16 to 4096 and at least one row\n" << kUsage;
        return 1;
    }
    try {
        writeImage(output, contactSheet(rows, cell_width), 8);
    } catch (const std::exception& e) {
        std::cerr << "tev-contact-sheet: " << e.what() << "\n";
        return 2;
    }
    std::cout << "wrote " << output << "\n";
    return 0;
}
