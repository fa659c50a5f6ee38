// Downloads one URL with the updater's DownloadFile and prints the time, the
// throughput and the process's peak working set during the transfer.
//   download_bench URL LOCAL_PATH
#include <windows.h>

#include <cstdio>

#include "net/download.h"
#include "support/null_progress.h"
#include "support/working_set.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s URL LOCAL_PATH\n", argv[0]);
        return 2;
    }
    kelvo::test::WorkingSetSampler sampler;
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    kelvo::test::NullProgress progress;
    int result = tovane::DownloadFile(argv[1], argv[2], progress, true, nullptr);
    ::QueryPerformanceCounter(&end);
    sampler.Stop();

    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ::GetFileAttributesExA(argv[2], GetFileExInfoStandard, &data);
    unsigned long long bytes =
        (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
    std::printf("result=%d bytes=%llu seconds=%.3f peak_working_set=%lu start_working_set=%lu\n",
                result, bytes, seconds, static_cast<unsigned long>(sampler.Peak()),
                static_cast<unsigned long>(sampler.Start()));
    return result == 1 ? 0 : 1;
}
