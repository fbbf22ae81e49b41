// Log files in the maker folder's Logs/ are shared by every render user of a
// node: whoever creates one leaves it writable by the group, and nobody's
// lines follow a link another user planted there.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "RestClient.h"

namespace TEV {

namespace {

constexpr mode_t kGroupReadWrite = S_IRGRP | S_IWGRP;

// A regular file, or a FIFO that a log collector reads.
bool isLogKind(mode_t mode) { return S_ISREG(mode) || S_ISFIFO(mode); }

}  // namespace

int OpenSharedLogFile(const std::string& path) {
    // O_NONBLOCK: a FIFO that nobody reads fails at once (ENXIO) instead of
    // holding the caller until a reader comes; cleared again once open.
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                          S_IRUSR | S_IWUSR | kGroupReadWrite | S_IROTH);
    if (fd < 0) return -1;
    struct stat st {};
    const bool examined = ::fstat(fd, &st) == 0;
    if (!examined || !isLogKind(st.st_mode)) {
        const int error = examined ? EINVAL : errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    // Only the owner may change the mode; another user's file stays as it is.
    if (st.st_uid == ::geteuid() && (st.st_mode & kGroupReadWrite) != kGroupReadWrite) {
        (void)::fchmod(fd, (st.st_mode & 07777) | kGroupReadWrite);
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

bool IsSharedLogFile(int fd, const std::string& path) {
    struct stat open_file {}, named {};
    if (::fstat(fd, &open_file) != 0 || ::lstat(path.c_str(), &named) != 0) return false;
    return isLogKind(named.st_mode) && open_file.st_dev == named.st_dev && open_file.st_ino == named.st_ino;
}

}  // namespace TEV
