#include "SafeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <vector>

namespace TEV::Host::Cli {

namespace {

// Temporary files in progress, for removeTemporaryFilesNow(): fixed slots of
// fixed buffers, so that a signal handler reads them without locks or
// allocation. A slot's name is written before it is marked in use.
constexpr int kSlots = 64;
constexpr std::size_t kPathBytes = 4096;
struct TempSlot {
    std::atomic<int> state{0};  // 0 free, 1 claimed, 2 holds a name
    char path[kPathBytes] = {};
};
TempSlot g_slots[kSlots];

class RegisteredTemp {
public:
    explicit RegisteredTemp(const std::string& path) {
        if (path.size() >= kPathBytes) return;
        for (int i = 0; i < kSlots; ++i) {
            int expected = 0;
            if (g_slots[i].state.compare_exchange_strong(expected, 1)) {
                std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
                g_slots[i].state.store(2);
                slot_ = i;
                return;
            }
        }
    }
    ~RegisteredTemp() {
        if (slot_ >= 0) g_slots[slot_].state.store(0);
    }
    RegisteredTemp(const RegisteredTemp&) = delete;
    RegisteredTemp& operator=(const RegisteredTemp&) = delete;

private:
    int slot_ = -1;
};

mode_t fileModeFromUmask() {
    static const mode_t mode = [] {
        const mode_t mask = umask(0);
        umask(mask);
        return static_cast<mode_t>(0666 & ~mask);
    }();
    return mode;
}

std::string folderOf(const std::string& path) {
    const std::string folder = std::filesystem::path(path).parent_path().string();
    return folder.empty() ? "." : folder;
}

[[noreturn]] void fail(const std::string& what, int error_number) {
    throw WriteError(what + ": " + std::strerror(error_number), error_number);
}

// A new empty file "<folder>/.<name>.tev-XXXXXX"; its path.
std::string createTemporary(const std::string& folder, const std::string& name, int& fd) {
    std::string pattern = folder + "/." + name + ".tev-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    fd = mkostemp(buffer.data(), O_CLOEXEC);
    if (fd < 0) return "";
    return std::string(buffer.data());
}

}  // namespace

bool repeatsForEveryFile(int error_number) {
    return error_number == ENOSPC || error_number == EDQUOT || error_number == EROFS || error_number == EACCES ||
           error_number == EPERM;
}

void replaceFile(const std::string& path, const std::function<void(const std::string& temp_path)>& write) {
    const std::string folder = folderOf(path);
    int fd = -1;
    const std::string temp = createTemporary(folder, std::filesystem::path(path).filename().string(), fd);
    if (temp.empty()) {
        fail("cannot write image '" + path + "': cannot create a file in '" + folder + "'", errno);
    }
    RegisteredTemp registered(temp);
    try {
        if (fchmod(fd, fileModeFromUmask()) != 0) fail("cannot write image '" + path + "'", errno);
        write(temp);
        // The data reaches the disk before the name does: a crash after the
        // rename cannot leave a file that is shorter than it looks.
        if (fsync(fd) != 0) fail("cannot write image '" + path + "'", errno);
        if (close(fd) != 0) {
            fd = -1;
            fail("cannot write image '" + path + "'", errno);
        }
        fd = -1;
        if (std::rename(temp.c_str(), path.c_str()) != 0) {
            fail("cannot write image '" + path + "': cannot rename '" + temp + "' into place", errno);
        }
    } catch (...) {
        if (fd >= 0) close(fd);
        unlink(temp.c_str());
        throw;
    }
}

void checkFolderWritable(const std::string& folder) {
    int fd = -1;
    const std::string temp = createTemporary(folder.empty() ? "." : folder, "write-check", fd);
    if (temp.empty()) {
        fail("cannot write into output folder '" + folder + "'", errno);
    }
    close(fd);
    unlink(temp.c_str());
}

void removeTemporaryFilesNow() noexcept {
    for (TempSlot& slot : g_slots) {
        if (slot.state.load() == 2) unlink(slot.path);
    }
}

std::vector<std::string> removeLeftTemporaries(const std::vector<std::string>& paths) {
    namespace fs = std::filesystem;
    std::map<std::string, std::set<std::string>> names_by_folder;
    for (const std::string& p : paths) names_by_folder[folderOf(p)].insert(fs::path(p).filename().string());
    std::vector<std::string> removed;
    for (const auto& [folder, names] : names_by_folder) {
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string entry = it->path().filename().string();
            // "." + name + ".tev-" + six characters of mkostemp's.
            constexpr std::size_t kSuffix = sizeof ".tev-XXXXXX" - 1;
            if (entry.size() <= kSuffix + 1 || entry[0] != '.') continue;
            const std::size_t name_end = entry.size() - kSuffix;
            if (entry.compare(name_end, 5, ".tev-") != 0 || !names.count(entry.substr(1, name_end - 1))) continue;
            std::error_code remove_ec;
            if (it->is_regular_file(remove_ec) && fs::remove(it->path(), remove_ec)) removed.push_back(it->path().string());
        }
    }
    return removed;
}

}  // namespace TEV::Host::Cli
