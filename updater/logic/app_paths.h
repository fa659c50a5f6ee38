// Paths the updater derives from its program folder.
#pragma once

#include <string>
#include <string_view>

namespace tovane {

// The program folder is the current directory plus one backslash; a drive
// root such as "C:\" therefore ends in two, and so does the version file's
// folder part. Kept as it is: the two forms name the same file.
inline std::string ProgramFolderFromCurrentDir(std::string_view currentDir) {
    std::string folder(currentDir);
    folder += '\\';
    return folder;
}

inline std::string LocalVersionFilePath(std::string_view currentDir, std::string_view baseName) {
    std::string path(currentDir);
    path += '\\';
    path += baseName;
    path += ".ini";
    return path;
}

}  // namespace tovane
