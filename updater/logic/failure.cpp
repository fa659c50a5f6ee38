#include "failure.h"

#include <cstdio>

namespace tovane {

namespace {

std::string Code(const Failure& failure) {
    char text[48];
    switch (failure.kind) {
    case Failure::Kind::kSystem:
        std::snprintf(text, sizeof text, "system error %lu", failure.code);
        break;
    case Failure::Kind::kHttpStatus:
        std::snprintf(text, sizeof text, "HTTP %lu", failure.code);
        break;
    case Failure::Kind::kNtStatus:
        std::snprintf(text, sizeof text, "0x%08lX", failure.code);
        break;
    default:
        return std::string();
    }
    return text;
}

}  // namespace

std::string Describe(const Failure& failure) {
    std::string text = failure.operation;
    if (!failure.subject.empty()) {
        text += " \"" + failure.subject + "\"";
    }
    const std::string code = Code(failure);
    if (!code.empty()) {
        text += " failed (" + code + ")";
    }
    return text + ".";
}

std::string LogLine(const Failure& failure) {
    std::string text = failure.operation;
    char code[48];
    switch (failure.kind) {
    case Failure::Kind::kSystem:
        std::snprintf(code, sizeof code, " failed, error %lu", failure.code);
        text += code;
        break;
    case Failure::Kind::kHttpStatus:
        std::snprintf(code, sizeof code, " answered HTTP %lu", failure.code);
        text += code;
        break;
    case Failure::Kind::kNtStatus:
        std::snprintf(code, sizeof code, " failed, status 0x%08lX", failure.code);
        text += code;
        break;
    default:
        break;
    }
    if (!failure.subject.empty()) {
        text += ": " + failure.subject;
    }
    return text;
}

}  // namespace tovane
