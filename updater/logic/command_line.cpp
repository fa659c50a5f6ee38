#include "command_line.h"

#include "text_compare.h"

namespace tovane {

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine line;
    for (const std::string& argument : arguments) {
        const bool quiet =
            EqualsIgnoreCase(argument, "/quiet") || EqualsIgnoreCase(argument, "-quiet");
        if (!quiet || line.quiet) {
            line.valid = false;
            line.refused = argument;
            return line;
        }
        line.quiet = true;
    }
    return line;
}

}  // namespace tovane
