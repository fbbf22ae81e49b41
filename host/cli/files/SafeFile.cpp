#include "files/SafeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace TEV::Host::Cli {

namespace {

// Temporary files in progress, for removeTemporaryFilesNow(): a lock-free
// list of slots that only grows, with as many slots as writes were ever in
// progress at once, so that a signal handler walks it without locks or
// allocation. A slot's name is written before it is marked in use, and a
// slot's `next` is set before the slot is published.
constexpr std::size_t kPathBytes = 4096;
struct TempSlot {
    std::atomic<int> state{0};  // 0 free, 1 claimed, 2 holds a name
    TempSlot* next = nullptr;
    char path[kPathBytes] = {};
};
std::atomic<TempSlot*> g_slots{nullptr};
static_assert(std::atomic<TempSlot*>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "a signal handler walks the slots");

class RegisteredTemp {
public:
    explicit RegisteredTemp(const std::string& path) {
        if (path.size() >= kPathBytes) return;
        for (TempSlot* slot = g_slots.load(); slot && !slot_; slot = slot->next) {
            int expected = 0;
            if (slot->state.compare_exchange_strong(expected, 1)) slot_ = slot;
        }
        if (!slot_) {
            slot_ = new TempSlot;  // kept for the process's lifetime, reused
            slot_->state.store(1);
            slot_->next = g_slots.load();
            while (!g_slots.compare_exchange_weak(slot_->next, slot_)) {
            }
        }
        std::memcpy(slot_->path, path.c_str(), path.size() + 1);
        slot_->state.store(2);
    }
    ~RegisteredTemp() {
        if (slot_) slot_->state.store(0);
    }
    RegisteredTemp(const RegisteredTemp&) = delete;
    RegisteredTemp& operator=(const RegisteredTemp&) = delete;

private:
    TempSlot* slot_ = nullptr;
};

// The mode of new files under the process's umask, taken once before main
// runs: umask can only be read by setting it, and setting it while other
// threads create files would give their files the wrong mode.
const mode_t g_file_mode = [] {
    const mode_t mask = umask(0);
    umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}();

std::string folderOf(const std::string& path) {
    const std::string folder = std::filesystem::path(path).parent_path().string();
    return folder.empty() ? "." : folder;
}

[[noreturn]] void fail(const std::string& what, int error_number) {
    throw WriteError(what + ": " + std::strerror(error_number), error_number);
}

// The part of a temporary's name taken from the output's name: the name,
// shortened when it is near the file system's limit.
std::string temporaryStem(const std::string& name) {
    constexpr std::size_t kAdded = std::char_traits<char>::length("..tev-XXXXXX");
    return name.size() + kAdded > NAME_MAX ? name.substr(0, NAME_MAX - kAdded) : name;
}

// A new empty file "<folder>/.<stem>.tev-XXXXXX"; its path.
std::string createTemporary(const std::string& folder, const std::string& name, int& fd) {
    std::string pattern = folder + "/." + temporaryStem(name) + ".tev-XXXXXX";
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
        if (fchmod(fd, g_file_mode) != 0) fail("cannot write image '" + path + "'", errno);
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
        // The new name reaches the disk too: a frame reported written (and
        // then skipped by a resumed run) does not vanish on power loss.
        const int folder_fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder_fd >= 0) {
            const int synced = fsync(folder_fd) == 0 || errno == EINVAL ? 0 : errno;  // EINVAL: cannot be synced
            close(folder_fd);
            if (synced != 0) fail("cannot write image '" + path + "': cannot sync folder '" + folder + "'", synced);
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
    for (TempSlot* slot = g_slots.load(); slot; slot = slot->next) {
        if (slot->state.load() == 2) unlink(slot->path);
    }
}

std::vector<std::string> removeLeftTemporaries(const std::vector<std::string>& paths) {
    namespace fs = std::filesystem;
    std::map<std::string, std::set<std::string>> names_by_folder;
    for (const std::string& p : paths) names_by_folder[folderOf(p)].insert(temporaryStem(fs::path(p).filename().string()));
    std::vector<std::string> removed;
    for (const auto& [folder, names] : names_by_folder) {
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string entry = it->path().filename().string();
            // "." + stem + ".tev-" + six characters of mkostemp's.
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
