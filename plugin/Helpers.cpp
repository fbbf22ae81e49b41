// Preferences and small helpers.
#include "Helpers.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "AEGP_SuiteHandler.h"
#include "AE_Macros.h"
#include "TEVLocations.h"

namespace {

constexpr const char* kReadSection = "VRAL_Pelmora";
constexpr A_u_long kPrefBufferSize = 256;

std::string writeSection() { return std::string("VRAL_") + kPluginName; }

std::string lowered(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

std::string Pref(PF_InData* in_data, std::string key, std::string def) {
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    AEGP_PersistentBlobH blob = nullptr;
    if (suites.PersistentDataSuite3()->AEGP_GetApplicationBlob(&blob)) return std::string();
    char buffer[kPrefBufferSize] = {};
    A_u_long size = 0;
    suites.PersistentDataSuite3()->AEGP_GetString(blob, kReadSection, key.c_str(), def.c_str(),
                                                  kPrefBufferSize, buffer, &size);
    buffer[kPrefBufferSize - 1] = '\0';
    return std::string(buffer);
}

bool SetPref(PF_InData* in_data, std::string key, std::string value) {
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    AEGP_PersistentBlobH blob = nullptr;
    if (!suites.PersistentDataSuite3()->AEGP_GetApplicationBlob(&blob))
        suites.PersistentDataSuite3()->AEGP_SetString(blob, writeSection().c_str(), key.c_str(), value.c_str());
    return true;
}

bool PrefBool(PF_InData* in_data, std::string key, std::string def) {
    return Pref(in_data, std::move(key), std::move(def)) == "true";
}

bool file_exists(const std::string& path) { return std::ifstream(path).good(); }

bool folder_exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
}

std::string readFileIntoString(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::cerr << "Failed to open file: " << path << "\n";
        return std::string();
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string exec(std::string command) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) throw std::runtime_error("popen() failed!");
    std::string output;
    char line[128];
    while (std::fgets(line, sizeof line, pipe)) output += line;
    pclose(pipe);
    return output;
}

std::string GetEnv(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

double getRandomDouble() {
    std::random_device device("/dev/urandom");
    std::mt19937 engine(device());
    return std::generate_canonical<double, 64>(engine);
}

std::string GetInstallPath(globalData*) { return TEV_MAKER_FOLDER; }

std::string GetPluginInstallPath(globalData*) { return std::string(TEV_MAKER_FOLDER) + "/" + kPluginName; }

bool stringContains(std::string text, std::string part) {
    return lowered(std::move(text)).find(lowered(std::move(part))) != std::string::npos;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    if (from.empty()) return text;  // would never end
    std::size_t pos = 0;
    while ((pos = text.find(from, pos)) != std::string::npos) {
        text.replace(pos, from.size(), to);
        pos += to.size();
    }
    return text;
}

std::vector<std::string> split(const std::string& text, const std::string& delimiter) {
    if (delimiter.empty()) return {text};
    std::vector<std::string> pieces;
    std::size_t start = 0, pos;
    while ((pos = text.find(delimiter, start)) != std::string::npos) {
        pieces.push_back(text.substr(start, pos - start));
        start = pos + delimiter.size();
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

std::string join(const std::vector<std::string>& parts, const std::string& separator) {
    std::string out;
    for (const std::string& part : parts) {
        if (part.empty()) continue;
        if (!out.empty()) out += separator;
        out += part;
    }
    return out;
}

std::string GetStringFromPopupValue(PF_InData* in_data, A_long index) {
    PF_ParamDef def;
    AEFX_CLR_STRUCT(def);
    if (in_data->inter.checkout_param(in_data->effect_ref, index, in_data->current_time, in_data->time_step,
                                      in_data->time_scale, &def))
        return std::string();
    const std::vector<std::string> labels = split(def.u.pd.u.namesptr ? def.u.pd.u.namesptr : "", "|");
    const A_long value = def.u.pd.value;
    in_data->inter.checkin_param(in_data->effect_ref, &def);
    if (value < 1 || value > static_cast<A_long>(labels.size())) return std::string();
    return labels[value - 1];
}
