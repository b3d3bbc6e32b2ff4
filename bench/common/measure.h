// The figures the benchmarks report: quantiles of timings, CPU time of this process and of a thread, and peak
// memory.
#pragma once

#include <QtGlobal>

#include <algorithm>
#include <cstddef>

/// The value at quantile `q` of `values` (0.5 the median, 0.99 the 99th percentile): after sorting, the element
/// at index n*q, or the last one; `whenEmpty` when there are none.
template <typename Container>
double percentile(Container values, double q, double whenEmpty = 0)
{
    if (values.empty())
        return whenEmpty;
    std::sort(values.begin(), values.end());
    const std::size_t n = std::size_t(values.size());
    return double(*(values.begin() + std::min(n - 1, std::size_t(double(n) * q))));
}

/// CPU time (user and system) this process has used, in seconds.
double processCpuSeconds();

/// The peak resident size of this process image in MiB, -1 when unknown. Read from /proc rather than
/// getrusage(), whose maximum carries over from a parent that forked this process.
double peakRssMiB();

/// CPU time the calling thread has used, in nanoseconds: what that thread itself spent, whatever else runs
/// meanwhile on a busy machine.
qint64 threadCpuNs();
