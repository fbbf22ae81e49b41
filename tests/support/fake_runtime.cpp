// Stand-in for the server's runtime in launcher tests. Prints, one item per
// line, what it was started with, then "end":
//   argc=N, arg[i]=..., env=..., cwd=..., pgid_is_pid=0|1, fd=N -> target
#include <dirent.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

extern char** environ;

int main(int argc, char** argv) {
    std::printf("argc=%d\n", argc);
    for (int i = 0; i < argc; ++i) std::printf("arg[%d]=%s\n", i, argv[i]);
    for (char** e = environ; *e != nullptr; ++e) std::printf("env=%s\n", *e);
    char cwd[PATH_MAX];
    std::printf("cwd=%s\n", getcwd(cwd, sizeof cwd) ? cwd : "?");
    std::printf("pgid_is_pid=%d\n", getpgrp() == getpid() ? 1 : 0);
    DIR* dir = opendir("/proc/self/fd");
    if (dir != nullptr) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.') continue;
            const int fd = std::atoi(entry->d_name);
            if (fd == dirfd(dir)) continue;
            char target[PATH_MAX] = {0};
            const std::string link = std::string("/proc/self/fd/") + entry->d_name;
            const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
            std::printf("fd=%d -> %s\n", fd, n > 0 ? target : "?");
        }
        closedir(dir);
    }
    std::printf("end\n");
    return 0;
}
