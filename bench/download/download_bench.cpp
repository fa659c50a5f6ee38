// Downloads one URL with the updater's DownloadFile and prints the time, the
// throughput and the process's peak working set during the transfer.
//   download_bench URL LOCAL_PATH
#include <windows.h>
#include <psapi.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "download.h"

namespace {

class NoProgress : public tovane::DownloadProgress {
public:
    void Show() override {}
    void SetRange(std::int16_t, std::int16_t) override {}
    void SetPos(int) override {}
};

SIZE_T WorkingSet() {
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &pmc, sizeof pmc);
    return pmc.WorkingSetSize;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s URL LOCAL_PATH\n", argv[0]);
        return 2;
    }
    const SIZE_T before = WorkingSet();
    std::atomic<bool> done{false};
    std::atomic<SIZE_T> peak{before};
    std::thread sampler([&] {
        while (!done) {
            SIZE_T now = WorkingSet();
            if (now > peak) {
                peak = now;
            }
            ::Sleep(5);
        }
    });
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    NoProgress progress;
    int result = tovane::DownloadFile(argv[1], argv[2], progress, true, nullptr);
    ::QueryPerformanceCounter(&end);
    done = true;
    sampler.join();

    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ::GetFileAttributesExA(argv[2], GetFileExInfoStandard, &data);
    unsigned long long bytes =
        (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
    std::printf("result=%d bytes=%llu seconds=%.3f peak_working_set=%lu start_working_set=%lu\n",
                result, bytes, seconds, static_cast<unsigned long>(peak.load()),
                static_cast<unsigned long>(before));
    return result == 1 ? 0 : 1;
}
