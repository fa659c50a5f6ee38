// A failure as one value: what was being done, to which file or URL, and the
// code that refused it. Every layer hands failures up in this form, and they
// are put into words here only: once for the user, once for the log.
#pragma once

#include <string>

namespace tovane {

struct Failure {
    enum class Kind {
        kNone,        // no failure
        kSystem,      // a Win32 error from GetLastError or an API's result
        kHttpStatus,  // the server's answer
        kNtStatus,    // a CNG (bcrypt.dll) status
        kNote,        // no code: the operation says it all
    };
    Kind kind = Kind::kNone;
    std::string operation;  // "Creating the folder", "InternetReadFile"
    std::string subject;    // a path or URL; may be empty
    unsigned long code = 0;

    static Failure System(std::string operation, std::string subject, unsigned long error) {
        return {Kind::kSystem, std::move(operation), std::move(subject), error};
    }
    static Failure Http(std::string operation, std::string subject, unsigned long status) {
        return {Kind::kHttpStatus, std::move(operation), std::move(subject), status};
    }
    static Failure NtStatus(std::string operation, std::string subject, unsigned long status) {
        return {Kind::kNtStatus, std::move(operation), std::move(subject), status};
    }
    static Failure Note(std::string text, std::string subject) {
        return {Kind::kNote, std::move(text), std::move(subject), 0};
    }

    explicit operator bool() const { return kind != Kind::kNone; }
};

// For the user: `Creating the folder "C:\Kelvo\Tovane.rollback\" failed
// (system error 5).`
std::string Describe(const Failure& failure);

// For the log: `CreateFile failed, error 5: C:\x`, `GET answered HTTP 404:
// http://...`, `CNG failure 0xC000A000`, or a note and its subject.
std::string LogLine(const Failure& failure);

}  // namespace tovane
