#include "command_line.h"

#include "numbers.h"
#include "text_compare.h"

namespace tovane {

namespace {

bool IsSwitch(const std::string& argument, const char* name) {
    return EqualsIgnoreCase(argument, std::string("/") + name) ||
           EqualsIgnoreCase(argument, std::string("-") + name);
}

CommandLine Refuse(CommandLine line, const std::string& argument) {
    line.valid = false;
    line.refused = argument;
    return line;
}

// A folder argument: a full path, ending with its separator.
std::string Folder(std::string folder) {
    if (!folder.empty() && folder.back() != '\\') {
        folder += '\\';
    }
    return folder;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine line;
    if (!arguments.empty() && IsSwitch(arguments[0], "install")) {
        line.elevated = ElevatedStep::kInstall;
        if (arguments.size() != 4) {
            return Refuse(line, arguments.size() < 4 ? arguments[0] : arguments[4]);
        }
        for (std::size_t i = 1; i < 3; ++i) {
            if (arguments[i].size() < 3 || arguments[i][1] != ':' || arguments[i][2] != '\\') {
                return Refuse(line, arguments[i]);  // only a full path names one folder
            }
        }
        line.downloads = Folder(arguments[1]);
        line.target = Folder(arguments[2]);
        const DecimalScan pid = ScanDecimal(arguments[3]);
        if (pid.digits == 0 || pid.digits != arguments[3].size() || pid.value == 0 ||
            pid.value > 0xFFFFFFFFu) {
            return Refuse(line, arguments[3]);
        }
        line.waiting = static_cast<unsigned long>(pid.value);
        return line;
    }
    if (!arguments.empty() && IsSwitch(arguments[0], "recover")) {
        line.elevated = ElevatedStep::kRecover;
        return arguments.size() == 1 ? line : Refuse(line, arguments[1]);
    }
    for (const std::string& argument : arguments) {
        if (!IsSwitch(argument, "quiet") || line.quiet) {
            return Refuse(line, argument);
        }
        line.quiet = true;
    }
    return line;
}

std::string InstallArguments(const std::string& downloads, const std::string& target,
                             unsigned long waiting) {
    // Backslashes before a quote escape it: those at the end are doubled,
    // so that a folder reads back whole and not as C:\x" followed by more.
    auto quoted = [](const std::string& folder) {
        std::size_t trailing = 0;
        while (trailing < folder.size() && folder[folder.size() - 1 - trailing] == '\\') {
            ++trailing;
        }
        return "\"" + folder + std::string(trailing, '\\') + "\"";
    };
    return "/install " + quoted(downloads) + " " + quoted(target) + " " + std::to_string(waiting);
}

}  // namespace tovane
