#include "failure.h"

#include <gtest/gtest.h>

namespace {

struct WordsCase {
    tovane::Failure failure;
    const char* forUser;
    const char* forLog;
};

TEST(Failure, OneValueTwoWordings) {
    using tovane::Failure;
    const WordsCase cases[] = {
        {Failure::System("Creating the folder", "C:\\Kelvo\\Tovane.rollback\\", 5),
         "Creating the folder \"C:\\Kelvo\\Tovane.rollback\\\" failed (system error 5).",
         "Creating the folder failed, error 5: C:\\Kelvo\\Tovane.rollback\\"},
        {Failure::Http("GET", "http://h/x", 404), "GET \"http://h/x\" failed (HTTP 404).",
         "GET answered HTTP 404: http://h/x"},
        {Failure::NtStatus("BCryptVerifySignature", "", 0xC000A000ul),
         "BCryptVerifySignature failed (0xC000A000).",
         "BCryptVerifySignature failed, status 0xC000A000"},
        {Failure::Note("transfer given up after its retries", "http://h/y"),
         "transfer given up after its retries \"http://h/y\".",
         "transfer given up after its retries: http://h/y"},
        // The largest code prints whole.
        {Failure::System("Writing", "a", 4294967295ul),
         "Writing \"a\" failed (system error 4294967295).", "Writing failed, error 4294967295: a"},
    };
    for (const WordsCase& c : cases) {
        EXPECT_EQ(tovane::Describe(c.failure), c.forUser);
        EXPECT_EQ(tovane::LogLine(c.failure), c.forLog);
        EXPECT_TRUE(c.failure);
    }
    EXPECT_FALSE(Failure());
}

}  // namespace
