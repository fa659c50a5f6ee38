// The update job as a user meets it, timed from outside: Tovane.exe started
// in a program folder with version 1.0 installed, "Update" clicked, the time
// until the "Update success" box, and Tovane's working set meanwhile. Also
// the peer's second half: one CopyFileA, timed. The time from the start to
// the offered update (release notes shown) is printed too.
// With "product", the product stand-in (PROGRAM_DIR\Kelvo.exe) runs first,
// and the downtime it recorded (times.log: from its close to its start again)
// is printed as well, with its own part of it (from the close to its exit
// from the message loop) and the time from the click to the close. "durable"
// is the peer's second half made as durable as the updater: the copy, then
// FlushFileBuffers on it.
//   update_job_bench job TOVANE_EXE PROGRAM_DIR [product]
//   update_job_bench copy FROM TO
//   update_job_bench durable FROM TO
#include <windows.h>
#include <psapi.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "res/resource.h"
#include "support/driver.h"

using namespace kelvo::test;

namespace {

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / frequency.QuadPart;
}

SIZE_T WorkingSetOf(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    return ::GetProcessMemoryInfo(process, &counters, sizeof counters) ? counters.WorkingSetSize
                                                                       : 0;
}

int Copy(const char* from, const char* to) {
    LARGE_INTEGER start, end;
    ::QueryPerformanceCounter(&start);
    BOOL ok = ::CopyFileA(from, to, FALSE);
    ::QueryPerformanceCounter(&end);
    std::printf("result=%d seconds=%.3f\n", ok ? 1 : 0, Seconds(start, end));
    return ok ? 0 : 1;
}

int Durable(const char* from, const char* to) {
    LARGE_INTEGER start, end;
    ::QueryPerformanceCounter(&start);
    bool ok = ::CopyFileA(from, to, FALSE) != FALSE;
    if (ok) {
        HANDLE file = ::CreateFileA(to, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ok = file != INVALID_HANDLE_VALUE && ::FlushFileBuffers(file);
        if (file != INVALID_HANDLE_VALUE) {
            ::CloseHandle(file);
        }
    }
    ::QueryPerformanceCounter(&end);
    std::printf("result=%d seconds=%.3f\n", ok ? 1 : 0, Seconds(start, end));
    return ok ? 0 : 1;
}

// The product's last request to close, its exit from the message loop after
// that and the next start, from its times.log, in seconds of
// QueryPerformanceCounter; false when the close and the start are not there.
// A missing exit counts as the close.
bool CloseAndStart(const std::string& programDir, double* close, double* exit, double* start) {
    std::string log;
    if (!ReadFile(programDir + "\\times.log", log)) {
        return false;
    }
    double lastClose = -1;
    double lastExit = -1;
    bool found = false;
    std::size_t at = 0;
    while (at < log.size()) {
        std::size_t end = log.find('\n', at);
        const std::string line =
            log.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? log.size() : end + 1;
        char what[16] = {};
        double when = 0;
        if (std::sscanf(line.c_str(), "%15s %lf", what, &when) != 2) {
            continue;
        }
        if (std::string(what) == "close") {
            lastClose = when;
            lastExit = -1;
        } else if (std::string(what) == "exit") {
            lastExit = when;
        } else if (std::string(what) == "start" && lastClose >= 0) {
            *close = lastClose;
            *exit = lastExit >= 0 ? lastExit : lastClose;
            *start = when;
            found = true;
        }
    }
    return found;
}

int Job(const std::string& exe, const std::string& programDir, bool product) {
    if (!WriteFile(programDir + "\\Version.ini", "[Kelvo]\r\nMainVer=1\r\nSubVer=0\r\n")) {
        std::fprintf(stderr, "cannot write the installed version\n");
        return 1;
    }
    Child running;
    if (product) {
        std::string error;
        if (!WriteFile(programDir + "\\product.times", "") ||
            !running.Start(programDir + "\\Kelvo.exe", programDir, "", &error) ||
            WaitForWindowOf(running.Pid(), "Kelvo", 20000) == nullptr) {
            std::fprintf(stderr, "the product did not start: %s\n", error.c_str());
            return 1;
        }
    }
    Child tovane;
    std::string error;
    LARGE_INTEGER launched, offered;
    ::QueryPerformanceCounter(&launched);
    if (!tovane.Start(exe, programDir, "", &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    HWND dialog = WaitForWindowOf(tovane.Pid(), "Update", 30000, "#32770");
    if (dialog == nullptr ||
        !WaitUntil([&] { return ItemEnabled(dialog, IDC_UPDATE); }, 30000, 1)) {
        std::fprintf(stderr, "no update offered: \"%s\"\n",
                     dialog != nullptr ? ItemText(dialog, IDC_STATUS).c_str() : "no dialog");
        tovane.Kill();
        return 1;
    }
    ::QueryPerformanceCounter(&offered);
    HANDLE process =
        ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, tovane.Pid());
    const SIZE_T before = WorkingSetOf(process);
    std::atomic<SIZE_T> peak{before};
    std::atomic<bool> done{false};
    std::thread sampler([&] {
        while (!done) {
            SIZE_T now = WorkingSetOf(process);
            if (now > peak) {
                peak = now;
            }
            ::Sleep(5);
        }
    });
    LARGE_INTEGER start, end;
    ::QueryPerformanceCounter(&start);
    Click(dialog, IDC_UPDATE);
    // Polled finely: the whole job takes well under a second.
    WaitUntil([&] { return FindWindowOf(tovane.Pid(), "Update", "#32770", dialog) != nullptr; },
              900000, 1);
    ::QueryPerformanceCounter(&end);
    MessageBoxSeen box;
    bool seen = WaitForMessageBox(tovane.Pid(), "Update", 5000, &box, dialog);
    done = true;
    sampler.join();
    ::CloseHandle(process);
    // The product the updater started again, once it has recorded its start:
    // the box may come first. A person reads the box before answering it;
    // answered at once, the updater's removal of its downloads that follows
    // would fall into the new product's start and be counted as downtime.
    double close = 0;
    double exited = 0;
    double restart = 0;
    const bool recorded =
        product &&
        WaitUntil([&] { return CloseAndStart(programDir, &close, &exited, &restart); }, 15000, 5);
    if (seen) {
        AnswerMessageBox(box, IDOK);
    }
    tovane.WaitExit(30000);
    tovane.Kill();
    const bool ok = seen && box.text == "Update success";
    if (!ok) {
        std::fprintf(stderr, "the job ended with \"%s\"\n", box.text.c_str());
    }
    std::printf(
        "result=%d seconds=%.3f check_seconds=%.3f start_working_set=%lu peak_working_set=%lu",
        ok ? 1 : 0, Seconds(start, end), Seconds(launched, offered),
        static_cast<unsigned long>(before), static_cast<unsigned long>(peak.load()));
    if (product) {
        WaitUntil([&] { return RecordedStarts(programDir).size() >= 2; }, 15000, 5);
        EndRecordedStarts(programDir);
        if (!recorded) {
            std::fprintf(stderr, "no close and start again in times.log\n");
            std::printf("\n");
            return 1;
        }
        // The two products' stamps are subtracted from each other: they mean
        // something only if they share this process's clock, so the close
        // must fall after the click here and the start after the close.
        LARGE_INTEGER frequency;
        ::QueryPerformanceFrequency(&frequency);
        const double click = static_cast<double>(start.QuadPart) / frequency.QuadPart;
        if (close < click || exited < close || restart < exited) {
            std::fprintf(stderr,
                         "the product's clock is not this one: click %.6f, close %.6f, "
                         "exit %.6f, start %.6f\n",
                         click, close, exited, restart);
            std::printf("\n");
            return 1;
        }
        std::printf(" downtime=%.4f closing=%.4f close_after_click=%.3f", restart - close,
                    exited - close, close - click);
    }
    std::printf("\n");
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "copy") {
        return Copy(argv[2], argv[3]);
    }
    if (argc == 4 && std::string(argv[1]) == "durable") {
        return Durable(argv[2], argv[3]);
    }
    if ((argc == 4 || (argc == 5 && std::string(argv[4]) == "product")) &&
        std::string(argv[1]) == "job") {
        return Job(WinPath(argv[2]), WinPath(argv[3]), argc == 5);
    }
    std::fprintf(
        stderr, "usage: %s job TOVANE_EXE PROGRAM_DIR [product] | copy FROM TO | durable FROM TO\n",
        argv[0]);
    return 2;
}
