// Measuring helpers of the frame benchmark: the machine's physical rates,
// medians, and the process's resident memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace TEV::Bench {

// Bytes per second of one thread's memcpy between two resident 256 MiB
// buffers (bytes copied, not bytes read plus written); best of five.
double memcpyBytesPerSecond();

// Bytes per second of one TCP connection over loopback, one way: a thread
// receives what this thread sends, 2 MiB per call, 1 GiB in all; best of three.
double loopbackBytesPerSecond();

// CPU time of this process so far (user + system of all its threads), in seconds.
double processCpuSeconds();

// The median of `values` (the upper middle one for an even count).
double median(std::vector<double> values);

// Resident memory now and the peak so far (VmRSS, VmHWM of /proc/self/status), in bytes.
std::uint64_t residentBytes();
std::uint64_t peakResidentBytes();
// Lowers the peak to the current resident size (writes 5 to
// /proc/self/clear_refs); false when the kernel refuses.
bool resetPeakResident();

}  // namespace TEV::Bench
