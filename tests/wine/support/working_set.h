// The process's peak working set while something runs, sampled from a thread
// of its own. Wine reports no private bytes; the working set is what it
// measures.
#pragma once

#include <windows.h>
#include <psapi.h>

#include <atomic>
#include <thread>

namespace kelvo::test {

inline SIZE_T CurrentWorkingSet() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
    return counters.WorkingSetSize;
}

class WorkingSetSampler {
public:
    explicit WorkingSetSampler(DWORD periodMs = 5)
        : start_(CurrentWorkingSet()), peak_(start_), sampler_([this, periodMs] {
              while (!done_) {
                  SIZE_T now = CurrentWorkingSet();
                  if (now > peak_) {
                      peak_ = now;
                  }
                  ::Sleep(periodMs);
              }
          }) {}
    WorkingSetSampler(const WorkingSetSampler&) = delete;
    WorkingSetSampler& operator=(const WorkingSetSampler&) = delete;
    ~WorkingSetSampler() { Stop(); }

    // Ends the sampling; Peak() then holds still.
    void Stop() {
        done_ = true;
        if (sampler_.joinable()) {
            sampler_.join();
        }
    }
    SIZE_T Start() const { return start_; }
    SIZE_T Peak() const { return peak_; }

private:
    const SIZE_T start_;
    std::atomic<SIZE_T> peak_;
    std::atomic<bool> done_{false};
    std::thread sampler_;
};

}  // namespace kelvo::test
