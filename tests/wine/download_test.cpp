// DownloadFile against the fault-injecting test server: result, local file,
// an older file at the path, and the progress calls, as a table of cases.
#include <gtest/gtest.h>
#include <windows.h>
#include <psapi.h>
#include <wininet.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "net/download.h"
#include "net/internet.h"
#include "diag/log.h"
#include "support/driver.h"
#include "support/null_progress.h"
#include "support/working_set.h"

namespace kelvo::test {
namespace {

struct Call {
    char op;  // 'S' show, 'R' range, 'P' position
    int value;
    bool operator==(const Call& o) const { return op == o.op && value == o.value; }
};

std::ostream& operator<<(std::ostream& os, const Call& c) { return os << c.op << c.value; }

class RecordingProgress : public tovane::DownloadProgress {
public:
    void Show() override { calls.push_back({'S', 0}); }
    void SetRange(std::int16_t lower, std::int16_t upper) override {
        EXPECT_EQ(lower, 0);
        calls.push_back({'R', upper});
    }
    void SetPos(int pos) override { calls.push_back({'P', pos}); }

    std::vector<Call> calls;
    std::vector<int> Ranges() const { return Of('R'); }
    std::vector<int> Positions() const { return Of('P'); }

private:
    std::vector<int> Of(char op) const {
        std::vector<int> values;
        for (const Call& c : calls) {
            if (c.op == op) {
                values.push_back(c.value);
            }
        }
        return values;
    }
};

// Byte i of a synthetic body, as the server generates it.
unsigned char PatternByte(std::uint64_t i) {
    return static_cast<unsigned char>((i * 7 + i / 251) & 0xFF);
}

std::string Pattern(std::size_t size) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        s[i] = static_cast<char>(PatternByte(i));
    }
    return s;
}

class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = WinPath(Env("KELVO_HTTP_ROOT"));
        port_ = Env("KELVO_HTTP_PORT");
        ASSERT_FALSE(root_.empty() || port_.empty()) << "run under with-http-server.sh";
        ::CreateDirectoryA((root_ + "\\dl").c_str(), nullptr);
        local_ = FreshDir(CurrentTestFileName());
    }

    std::string Url(const std::string& name) const {
        return "http://127.0.0.1:" + port_ + "/dl/" + name;
    }
    void Serve(const std::string& name, const std::string& body, const char* fault = nullptr) {
        ASSERT_TRUE(WriteFile(root_ + "\\dl\\" + name, body));
        std::string sidecar = root_ + "\\dl\\" + name + ".fault";
        if (fault != nullptr) {
            ASSERT_TRUE(WriteFile(sidecar, fault));
        } else {
            ::DeleteFileA(sidecar.c_str());
        }
    }

    std::string root_;
    std::string port_;
    std::string local_;
};

struct DownloadCase {
    const char* name;
    std::size_t bodySize;
    const char* fault;  // sidecar JSON or nullptr
    int result;
    // What stands at the local path afterwards: the whole body, the older
    // file untouched, nothing, or a prefix of the body (cut-off transfers).
    enum Local { Body, Older, Prefix } local;
    std::vector<int> ranges;  // SetRange upper bounds, in order
    bool positionsCoverBody;  // positions run 1..N with N >= chunks of the body
};

class DownloadTableTest : public DownloadTest,
                          public ::testing::WithParamInterface<DownloadCase> {};

// Compatibility pin: the original's bar (whole-chunk range, a step per 10240 bytes); users know it.
TEST_P(DownloadTableTest, ResultFileAndProgress) {
    const DownloadCase& c = GetParam();
    std::string body = Pattern(c.bodySize);
    Serve(c.name, body, c.fault);
    const std::string older = "older file content";
    std::string localPath = local_ + "\\" + c.name;
    ASSERT_TRUE(WriteFile(localPath, older));

    RecordingProgress progress;
    int result =
        tovane::DownloadFile(Url(c.name).c_str(), localPath.c_str(), progress, true, nullptr);
    EXPECT_EQ(result, c.result);

    std::string content;
    bool exists = ReadFile(localPath, content);
    switch (c.local) {
    case DownloadCase::Body:
        EXPECT_TRUE(exists);
        EXPECT_EQ(content.size(), body.size());
        EXPECT_TRUE(content == body) << "content differs";
        break;
    case DownloadCase::Older:
        EXPECT_TRUE(exists);
        EXPECT_EQ(content, older) << "a failed request must not touch an existing file";
        EXPECT_TRUE(progress.calls.empty()) << "no progress before the status is known";
        break;
    case DownloadCase::Prefix:
        EXPECT_TRUE(exists);
        EXPECT_LT(content.size(), body.size());
        EXPECT_EQ(content, body.substr(0, content.size()));
        break;
    }
    EXPECT_EQ(progress.Ranges(), c.ranges);
    if (c.local != DownloadCase::Older) {
        ASSERT_GE(progress.calls.size(), 2u);
        EXPECT_EQ(progress.calls[0], (Call{'S', 0})) << "the update job shows the bar first";
        EXPECT_EQ(progress.calls[1], (Call{'P', 0})) << "and resets it to 0";
    }
    if (c.positionsCoverBody) {
        std::vector<int> positions = progress.Positions();
        ASSERT_FALSE(positions.empty());
        for (std::size_t i = 1; i < positions.size(); ++i) {
            EXPECT_EQ(positions[i], static_cast<int>(i)) << "positions count the non-empty reads";
        }
        EXPECT_GE(static_cast<std::size_t>(positions.back()), (c.bodySize + 10239) / 10240);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Server, DownloadTableTest,
    ::testing::Values(
        // 2.5 chunks announced: 2 steps, range 0..2.
        DownloadCase{"two_and_a_half", 25600, nullptr, 1, DownloadCase::Body, {2}, true},
        DownloadCase{"exactly_one_chunk", 10240, nullptr, 1, DownloadCase::Body, {1}, true},
        DownloadCase{"short_body", 100, nullptr, 1, DownloadCase::Body, {}, true},
        DownloadCase{"no_length", 30000, R"({"no_length": true})", 1, DownloadCase::Body, {}, true},
        DownloadCase{"chunked", 30000, R"({"chunked": true})", 1, DownloadCase::Body, {}, true},
        DownloadCase{"empty_body", 0, nullptr, 1, DownloadCase::Body, {}, false},
        DownloadCase{"not_found", 5000, R"({"status": 404})", 0, DownloadCase::Older, {}, false},
        DownloadCase{"server_error", 5000, R"({"status": 500})", 0, DownloadCase::Older, {}, false},
        DownloadCase{"moved", 5000, R"({"status": 302})", 0, DownloadCase::Older, {}, false},
        DownloadCase{
            "slow_first_byte", 20480, R"({"delay_first": 3})", 1, DownloadCase::Body, {2}, true},
        // Every answer cut off after 15000 bytes: each attempt brings at
        // least one whole step, and the resumed parts make up the body.
        DownloadCase{"reset_mid_body",
                     40000,
                     R"({"reset_after": 15000, "reset_delay": 0.1})",
                     1,
                     DownloadCase::Body,
                     {3},
                     true},
        DownloadCase{"reset_mid_chunked",
                     40000,
                     R"({"chunked": true, "reset_after": 15000, "reset_delay": 0.1})",
                     1,
                     DownloadCase::Body,
                     {},
                     true},
        // Nothing ever arrives: the retries run out and the result says failure.
        DownloadCase{"reset_before_body",
                     40000,
                     R"({"reset_after": 0, "reset_delay": 0.1})",
                     0,
                     DownloadCase::Prefix,
                     {3},
                     false},
        // More announced than sent, then the connection closes: every byte
        // sent is written, but the body is incomplete, so the result is 0.
        DownloadCase{
            "short_of_length", 20000, R"({"length": 30720})", 0, DownloadCase::Body, {3}, false},
        // Step count 70000 passes its low 16 bits to the control: 4464.
        DownloadCase{"range_low_half",
                     20000,
                     R"({"length": 716800000})",
                     0,
                     DownloadCase::Body,
                     {4464},
                     false},
        // Too large for 32 bits: read as INT32_MAX, 209715 steps, low half 13107.
        // Just past it: a file without a size limit must still fit the free
        // space of the temporary folder's volume, or it is refused at once.
        DownloadCase{"length_overflows",
                     20000,
                     R"({"length": "2147483648"})",
                     0,
                     DownloadCase::Body,
                     {13107},
                     false},
        // Not a number: no range, and nothing to hold the body against.
        DownloadCase{"length_not_a_number",
                     20000,
                     R"({"length": "lots"})",
                     1,
                     DownloadCase::Body,
                     {},
                     false}),
    [](const ::testing::TestParamInfo<DownloadCase>& info) {
        return std::string(info.param.name);
    });

// Every failed transfer says why, with the code where there is one: the
// manifest's reason reaches the user as "The update server could not be
// reached: <reason>", and a failure left without one read as a cancel.
struct ReasonCase {
    const char* name;
    std::size_t bodySize;
    const char* fault;
    const char* reason;  // in the failure as Describe words it
};

class FailureReasonTest : public DownloadTest, public ::testing::WithParamInterface<ReasonCase> {};

TEST_P(FailureReasonTest, AFailedTransferSaysWhy) {
    const ReasonCase& c = GetParam();
    Serve(c.name, Pattern(c.bodySize), c.fault);
    tovane::RetryPolicy quick;
    quick.firstDelayMs = 10;
    quick.maxDelayMs = 20;
    NullProgress progress;
    tovane::Failure why;
    EXPECT_FALSE(tovane::DownloadFile(Url(c.name).c_str(), (local_ + "\\" + c.name).c_str(),
                                      progress, false, nullptr, quick, &why));
    const std::string text = tovane::Describe(why);
    EXPECT_NE(text.find(c.reason), std::string::npos) << text;
    EXPECT_EQ(text.find("cancelled"), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Server, FailureReasonTest,
    ::testing::Values(
        ReasonCase{"reason_not_found", 100, R"({"status": 404})", "failed (HTTP 404)"},
        ReasonCase{"reason_server_error", 100, R"({"status": 500})", "failed (HTTP 500)"},
        // Cut short on every attempt: the retries run out on the cut.
        ReasonCase{"reason_short_of_length", 20000, R"({"length": 30720})", "of 30720 bytes"},
        // The connection reset before a byte: the call that saw it, and its code.
        ReasonCase{"reason_reset_before_body", 40000, R"({"reset_after": 0, "reset_delay": 0.1})",
                   "failed (system error "}),
    [](const ::testing::TestParamInfo<ReasonCase>& info) { return std::string(info.param.name); });

// Breaks and what the server answers to the resumed request. Every row ends
// byte-identical to one version of the file, or failed: never two spliced.
struct ResumeCase {
    const char* name;
    const char* fault;
    int version;      // the body it must end with: 1, 2 (changed meanwhile), 0 failed
    bool resumes;     // a request asks for the rest, with If-Range
    bool startsOver;  // a later answer begins the file again (bar back to 0)
};

class ResumeTableTest : public DownloadTest, public ::testing::WithParamInterface<ResumeCase> {
protected:
    // The request-log lines of one path.
    std::vector<std::string> RequestLines(const std::string& name) {
        std::string log;
        EXPECT_TRUE(ReadFile(root_ + "\\requests.log", log));
        std::vector<std::string> lines;
        const std::string key = "\"path\": \"/dl/" + name + "\"";
        std::size_t start = 0;
        for (std::size_t end; (end = log.find('\n', start)) != std::string::npos; start = end + 1) {
            std::string line = log.substr(start, end - start);
            if (line.find(key) != std::string::npos) {
                lines.push_back(line);
            }
        }
        return lines;
    }
    // Body bytes the server sent for one path, over every answer.
    std::uint64_t BytesServed(const std::string& name) {
        std::string log;
        EXPECT_TRUE(ReadFile(root_ + "\\served.log", log));
        const std::string key = "\"path\": \"/dl/" + name + "\"";
        std::uint64_t total = 0;
        for (std::size_t at = log.find(key); at != std::string::npos; at = log.find(key, at + 1)) {
            std::size_t sent = log.find("\"sent\": ", at);
            total += std::strtoull(log.c_str() + sent + 8, nullptr, 10);
        }
        return total;
    }
};

// Bytes that differ from the pattern, as a second version of the file.
std::string Inverted(std::string body) {
    for (char& c : body) {
        c = static_cast<char>(~c);
    }
    return body;
}

TEST_P(ResumeTableTest, EndsIdenticalOrFailedNeverSpliced) {
    const ResumeCase& c = GetParam();
    const std::size_t size = 300000;
    const std::string v1 = Pattern(size);
    const std::string v2 = Inverted(v1);
    Serve(c.name, v1, c.fault);
    ASSERT_TRUE(WriteFile(root_ + "\\dl\\" + c.name + ".v2", v2));
    const std::string localPath = local_ + "\\" + c.name;

    RecordingProgress progress;
    tovane::RetryPolicy quick;
    quick.maxRetries = 3;
    quick.firstDelayMs = 20;
    quick.maxDelayMs = 100;
    const int result = tovane::DownloadFile(Url(c.name).c_str(), localPath.c_str(), progress, true,
                                            nullptr, quick);
    std::string content;
    ASSERT_TRUE(ReadFile(localPath, content));
    const std::vector<std::string> requests = RequestLines(c.name);
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.front().find("\"range\""), std::string::npos) << "first asks for all";
    bool askedForRest = false;
    for (const std::string& r : requests) {
        if (r.find("\"range\": \"bytes=") != std::string::npos) {
            askedForRest = true;
            EXPECT_NE(r.find("\"if-range\": \""), std::string::npos) << "Range without If-Range";
        }
    }
    EXPECT_EQ(askedForRest, c.resumes);

    if (c.version == 0) {
        EXPECT_EQ(result, 0);
        EXPECT_LT(content.size(), size);
        EXPECT_TRUE(content == v1.substr(0, content.size()) ||
                    content == v2.substr(0, content.size()))
            << "what is left is a prefix of one version";
        return;
    }
    EXPECT_EQ(result, 1);
    ASSERT_EQ(content.size(), size);
    EXPECT_TRUE(content == (c.version == 1 ? v1 : v2))
        << "content differs from version " << c.version;

    // The bar: range from the whole length, positions never skip a step,
    // and end where an unbroken transfer ends.
    EXPECT_EQ(progress.Ranges(), std::vector<int>{static_cast<int>(size / 10240)});
    const std::vector<int> positions = progress.Positions();
    ASSERT_FALSE(positions.empty());
    EXPECT_EQ(positions.back(), tovane::StepPosition(size));
    bool wentBack = false;
    for (std::size_t i = 1; i < positions.size(); ++i) {
        if (positions[i] == 0) {
            wentBack = true;
        } else {
            EXPECT_EQ(positions[i], positions[i - 1] + 1) << "at call " << i;
        }
    }
    EXPECT_EQ(wentBack, c.startsOver);
    if (!c.startsOver) {
        // Resumed where it broke: at most one lost read per break is sent again.
        EXPECT_LE(BytesServed(c.name), size + (requests.size() - 1) * tovane::kReadBufferSize);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Server, ResumeTableTest,
    ::testing::Values(
        // A read takes what has come, never waiting for its whole size: a
        // break early in the file keeps what arrived and asks for the rest.
        ResumeCase{"cut_in_first_read", R"({"reset_after": [20000], "reset_delay": 0.1})", 1, true,
                   false},
        ResumeCase{"cut_once_early", R"({"reset_after": [70000], "reset_delay": 0.1})", 1, true,
                   false},
        ResumeCase{"cut_once_on_a_step", R"({"reset_after": [102400], "reset_delay": 0.1})", 1,
                   true, false},
        ResumeCase{"cut_once_late", R"({"reset_after": [290000], "reset_delay": 0.1})", 1, true,
                   false},
        ResumeCase{"cut_twice", R"({"reset_after": [70000, 90000], "reset_delay": 0.1})", 1, true,
                   false},
        ResumeCase{"cut_twice_then_short",
                   R"({"reset_after": [150000, 10, 100000], "reset_delay": 0.1})", 1, true, false},
        // The server answers the rest with the whole body: the file starts over.
        ResumeCase{"range_ignored",
                   R"({"reset_after": [100000], "reset_delay": 0.1, "ignore_range": true})", 1,
                   true, true},
        // Changed between the break and the resume: If-Range brings the new
        // version whole.
        ResumeCase{"changed_meanwhile",
                   R"({"reset_after": [100000], "reset_delay": 0.1, "change_after": 1})", 2, true,
                   true},
        // Changed, and a part of the new version comes anyway: refused, and
        // the new version fetched whole.
        ResumeCase{"changed_part_anyway",
                   R"({"reset_after": [100000], "reset_delay": 0.1, "change_after": 1,
                       "ignore_if_range": true})",
                   2, true, true},
        ResumeCase{"part_starts_elsewhere",
                   R"({"reset_after": [100000], "reset_delay": 0.1, "range_shift": 1000})", 1, true,
                   true},
        ResumeCase{"range_not_satisfiable",
                   R"({"reset_after": [100000], "reset_delay": 0.1, "range_status": 416})", 1, true,
                   true},
        // Nothing to hold a part to: never asks for one.
        ResumeCase{"no_validator",
                   R"({"reset_after": [100000], "reset_delay": 0.1, "no_etag": true,
                       "no_last_modified": true})",
                   1, false, true},
        // A weak ETag cannot vouch for a part; Last-Modified does.
        ResumeCase{"weak_etag_uses_date",
                   R"({"reset_after": [100000], "reset_delay": 0.1, "weak_etag": true})", 1, true,
                   false},
        ResumeCase{"retries_exhausted",
                   R"({"reset_after": [100000, 0, 0, 0, 0, 0], "reset_delay": 0.1})", 0, true,
                   false}),
    [](const ::testing::TestParamInfo<ResumeCase>& info) { return std::string(info.param.name); });

// Cancel during the wait before a retry ends the transfer at once.
TEST_F(DownloadTest, CancelDuringTheBackOffEndsAtOnce) {
    Serve("backoff.bin", Pattern(50000), R"({"reset_after": 0, "reset_delay": 0.05})");
    std::string path = local_ + "\\backoff.bin";
    tovane::net::TransferCancel cancel;
    tovane::RetryPolicy patient;
    patient.firstDelayMs = 60000;
    patient.maxDelayMs = 60000;
    std::atomic<int> result{-1};
    RecordingProgress progress;
    std::thread worker([&] {
        result = tovane::DownloadFile(Url("backoff.bin").c_str(), path.c_str(), progress, true,
                                      &cancel, patient);
    });
    // The first attempt breaks at once; the transfer then waits a minute.
    ::Sleep(1500);
    DWORD start = ::GetTickCount();
    cancel.Cancel();
    bool ended = WaitUntil([&] { return result.load() != -1; }, 10000);
    DWORD elapsed = ::GetTickCount() - start;
    if (!ended) {
        worker.detach();
        FAIL() << "still waiting 10 s after the cancel";
    }
    worker.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_LT(elapsed, 1000u);
}

// Every failure leaves a line naming the call, its error and the URL.
TEST_F(DownloadTest, FailuresAreLoggedWithTheirErrorAndUrl) {
    std::string url = "http://127.0.0.1:" + Env("KELVO_CLOSED_PORT") + "/dl/logged.bin";
    std::string path = local_ + "\\logged.bin";
    RecordingProgress progress;
    tovane::RetryPolicy once;
    once.maxRetries = 0;
    EXPECT_EQ(tovane::DownloadFile(url.c_str(), path.c_str(), progress, true, nullptr, once), 0);
    char logPath[MAX_PATH + 1];
    ASSERT_TRUE(tovane::diag::LogPath(logPath));
    std::string log;
    ASSERT_TRUE(ReadFile(logPath, log));
    std::size_t line = log.rfind("HttpSendRequest failed, error 12029: " + url);
    EXPECT_NE(line, std::string::npos) << log.substr(log.size() > 2000 ? log.size() - 2000 : 0);
}

// The log stays under its cap however much is written, and keeps the newest
// lines whole.
TEST(TransferLog, KeepsTheNewestLinesUnderItsCap) {
    char logPath[MAX_PATH + 1];
    ASSERT_TRUE(tovane::diag::LogPath(logPath));
    const std::string filler(200, 'x');
    for (int i = 0; i < 3000; ++i) {
        tovane::diag::LogNote(("line " + std::to_string(i)).c_str(), filler.c_str());
    }
    tovane::diag::Log(tovane::Failure::System("LastCall", "the newest", 87));
    std::string log;
    ASSERT_TRUE(ReadFile(logPath, log));
    EXPECT_LE(log.size(), 256u * 1024 + 1024);
    EXPECT_GE(log.size(), 64u * 1024) << "trimmed to far less than the cap";
    const std::string last = "LastCall failed, error 87: the newest\r\n";
    ASSERT_GE(log.size(), last.size());
    EXPECT_EQ(log.substr(log.size() - last.size()), last);
    EXPECT_NE(log.find("line 2999: "), std::string::npos);
    EXPECT_EQ(log.find("line 0: "), std::string::npos) << "the oldest lines go first";
    // Every line is whole: each starts with the date.
    EXPECT_EQ(log.compare(0, 2, "20"), 0) << log.substr(0, 80);
    for (std::size_t at = log.find('\n'); at != std::string::npos && at + 1 < log.size();
         at = log.find('\n', at + 1)) {
        ASSERT_EQ(log.compare(at + 1, 2, "20"), 0) << "broken line at " << at;
    }
}

TEST_F(DownloadTest, CheckJobSetsButNeverShowsTheBar) {
    Serve("check.ini", Pattern(25600));
    RecordingProgress progress;
    std::string path = local_ + "\\check.ini";
    ASSERT_EQ(
        tovane::DownloadFile(Url("check.ini").c_str(), path.c_str(), progress, false, nullptr), 1);
    for (const Call& c : progress.calls) {
        EXPECT_NE(c.op, 'S');
    }
    EXPECT_EQ(progress.Ranges(), std::vector<int>{2});
    EXPECT_FALSE(progress.Positions().empty());
    EXPECT_NE(progress.Positions().front(), 0) << "no reset to 0 in the check job";
}

TEST_F(DownloadTest, RefusedConnectionFailsFastWithoutAFile) {
    std::string url = "http://127.0.0.1:" + Env("KELVO_CLOSED_PORT") + "/dl/x";
    std::string path = local_ + "\\refused.bin";
    RecordingProgress progress;
    DWORD start = ::GetTickCount();
    EXPECT_EQ(tovane::DownloadFile(url.c_str(), path.c_str(), progress, true, nullptr), 0);
    EXPECT_LT(::GetTickCount() - start, 10000u);
    EXPECT_FALSE(FileExists(path));
    EXPECT_TRUE(progress.calls.empty());
}

TEST_F(DownloadTest, LocalFileThatCannotBeCreatedFails) {
    Serve("nofolder.bin", Pattern(1000));
    std::string path = local_ + "\\missing-folder\\nofolder.bin";
    RecordingProgress progress;
    EXPECT_EQ(
        tovane::DownloadFile(Url("nofolder.bin").c_str(), path.c_str(), progress, true, nullptr),
        0);
    EXPECT_FALSE(FileExists(path));
    EXPECT_TRUE(progress.calls.empty());
}

TEST_F(DownloadTest, OtherSchemeIsStillSentAsHttp) {
    Serve("scheme.bin", Pattern(3000));
    std::string url = "ftp://127.0.0.1:" + port_ + "/dl/scheme.bin";
    std::string path = local_ + "\\scheme.bin";
    RecordingProgress progress;
    EXPECT_EQ(tovane::DownloadFile(url.c_str(), path.c_str(), progress, true, nullptr), 1);
    std::string content;
    EXPECT_TRUE(ReadFile(path, content));
    EXPECT_EQ(content, Pattern(3000));
}

TEST_F(DownloadTest, NeitherReadsNorFillsTheCache) {
    std::string path = local_ + "\\cached.ini";
    RecordingProgress progress;
    Serve("cached.ini", "first");
    ASSERT_EQ(
        tovane::DownloadFile(Url("cached.ini").c_str(), path.c_str(), progress, true, nullptr), 1);
    Serve("cached.ini", "second, longer");
    ASSERT_EQ(
        tovane::DownloadFile(Url("cached.ini").c_str(), path.c_str(), progress, true, nullptr), 1);
    std::string content;
    ASSERT_TRUE(ReadFile(path, content));
    EXPECT_EQ(content, "second, longer") << "a cached copy was used";

    DWORD size = 0;
    BOOL inCache = ::GetUrlCacheEntryInfoA(Url("cached.ini").c_str(), nullptr, &size);
    DWORD error = ::GetLastError();
    EXPECT_FALSE(inCache);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND))
        << "the body was written to the cache";
}

TEST_F(DownloadTest, LargeBodyStreamsWithFlatMemory) {
    const std::uint64_t size = 96ull * 1024 * 1024;
    ASSERT_TRUE(WriteFile(root_ + "\\dl\\large.bin.fault",
                          "{\"synthetic\": " + std::to_string(size) + "}"));
    ::DeleteFileA((root_ + "\\dl\\large.bin").c_str());
    std::string path = local_ + "\\large.bin";

    WorkingSetSampler sampler(10);
    const SIZE_T before = sampler.Start();
    ASSERT_GT(before, 0u) << "GetProcessMemoryInfo reports no working set";
    RecordingProgress progress;
    int result =
        tovane::DownloadFile(Url("large.bin").c_str(), path.c_str(), progress, true, nullptr);
    sampler.Stop();
    EXPECT_EQ(result, 1);
    // The body is never held whole: the working set grows by far less than it.
    EXPECT_LT(sampler.Peak(), before + 16 * 1024 * 1024)
        << "working set peaked at " << sampler.Peak() << " bytes, " << before << " before";

    WIN32_FILE_ATTRIBUTE_DATA attributes;
    ASSERT_TRUE(::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &attributes));
    std::uint64_t written =
        (static_cast<std::uint64_t>(attributes.nFileSizeHigh) << 32) | attributes.nFileSizeLow;
    EXPECT_EQ(written, size);
    // Spot checks of the content at a few offsets.
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    for (std::uint64_t offset : {0ull, 10240ull * 1000 + 17, size - 1}) {
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(offset);
        ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
        unsigned char byte = 0;
        DWORD read = 0;
        ASSERT_TRUE(::ReadFile(file, &byte, 1, &read, nullptr));
        EXPECT_EQ(byte, PatternByte(offset)) << "at offset " << offset;
    }
    ::CloseHandle(file);
    ::DeleteFileA(path.c_str());
}

// Closing the session handle aborts a blocked read on Windows; Wine's
// WinInet lets the read run on until data or an error comes. Either way the
// transfer must end as a failure, and no later transfer may start.
TEST_F(DownloadTest, CancelEndsTheTransferAsAFailure) {
    Serve("hang.bin", Pattern(50000), R"({"stall": 4})");
    std::string path = local_ + "\\hang.bin";
    tovane::net::TransferCancel cancel;
    std::atomic<int> result{-1};
    RecordingProgress progress;
    std::thread worker([&] {
        result =
            tovane::DownloadFile(Url("hang.bin").c_str(), path.c_str(), progress, true, &cancel);
    });
    ::Sleep(1000);
    DWORD start = ::GetTickCount();
    cancel.Cancel();
    bool ended = WaitUntil([&] { return result.load() != -1; }, 15000);
    DWORD elapsed = ::GetTickCount() - start;
    if (!ended) {
        worker.detach();
        FAIL() << "the transfer did not end within 15 s of the cancel";
    }
    worker.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_LT(elapsed, 10000u);
    std::string content;
    if (ReadFile(path, content)) {
        EXPECT_EQ(content, Pattern(content.size())) << "what was written is a prefix of the body";
    }

    // A cancelled canceller refuses the next transfer at once.
    RecordingProgress later;
    EXPECT_EQ(tovane::DownloadFile(Url("hang.bin").c_str(), path.c_str(), later, true, &cancel), 0);
    EXPECT_TRUE(later.calls.empty());
}

}  // namespace
}  // namespace kelvo::test
