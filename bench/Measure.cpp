#include "Measure.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

namespace TEV::Bench {

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::uint64_t statusField(const char* name) {
    std::ifstream in("/proc/self/status");
    const std::size_t n = std::strlen(name);
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, n, name) == 0) return std::stoull(line.substr(n + 1)) * 1024;  // "kB"
    return 0;
}

}  // namespace

double memcpyBytesPerSecond() {
    const std::size_t size = std::size_t(256) << 20;
    std::unique_ptr<char[]> a(new char[size]);
    std::unique_ptr<char[]> b(new char[size]);
    std::memset(a.get(), 1, size);
    std::memset(b.get(), 2, size);
    double best = 0;
    for (int i = 0; i < 5; ++i) {
        const auto start = Clock::now();
        std::memcpy(b.get(), a.get(), size);
        best = std::max(best, size / seconds(Clock::now() - start));
        std::swap(a, b);
    }
    return best;
}

double loopbackBytesPerSecond() {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("loopback probe: cannot listen");
    const std::size_t chunk = std::size_t(2) << 20;
    const std::size_t total = std::size_t(1) << 30;
    double best = 0;
    for (int round = 0; round < 3; ++round) {
        std::thread receiver([&] {
            const int fd = ::accept(listener, nullptr, nullptr);
            std::unique_ptr<char[]> buffer(new char[chunk]);
            for (std::size_t got = 0; got < total;) {
                const ssize_t n = ::recv(fd, buffer.get(), chunk, 0);
                if (n <= 0) break;
                got += static_cast<std::size_t>(n);
            }
            ::close(fd);
        });
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("loopback probe: cannot connect");
        std::unique_ptr<char[]> buffer(new char[chunk]);
        std::memset(buffer.get(), 3, chunk);
        const auto start = Clock::now();
        for (std::size_t sent = 0; sent < total;) {
            const ssize_t n = ::send(fd, buffer.get(), std::min(chunk, total - sent), 0);
            if (n <= 0) break;
            sent += static_cast<std::size_t>(n);
        }
        ::shutdown(fd, SHUT_WR);
        receiver.join();
        best = std::max(best, total / seconds(Clock::now() - start));
        ::close(fd);
    }
    ::close(listener);
    return best;
}

double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

std::uint64_t residentBytes() { return statusField("VmRSS:"); }
std::uint64_t peakResidentBytes() { return statusField("VmHWM:"); }

bool resetPeakResident() {
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
    out.flush();
    return static_cast<bool>(out);
}

}  // namespace TEV::Bench
