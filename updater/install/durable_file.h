// File operations whose result survives a crash or a power cut once they
// return: data flushed to the disk, renames written through. The recovery
// of an interrupted installation relies on every one of them.
#pragma once

#include <windows.h>

#include <string>

namespace tovane {

// Replaces `path` as a whole: written beside it, flushed, then renamed over it.
bool WriteFileDurably(const std::string& path, const std::string& content, DWORD* error);
// Copies in chunks and flushes; `halfStage` names the test hold point
// reached once half of the bytes are written (see install/hold_point.h).
bool CopyFileDurably(const std::string& from, const std::string& to, const std::string& halfStage,
                     DWORD* error);
// The same from an open file, from its start: the installer copies from the
// handle its caller checked the bytes through, so they cannot be swapped in
// between.
bool CopyFileDurably(HANDLE source, const std::string& to, const std::string& halfStage,
                     DWORD* error);
// A rename on one volume: atomic, and written through before it returns.
bool MoveFileDurably(const std::string& from, const std::string& to, DWORD* error);
// Flushes a file that another API wrote.
bool FlushFile(const std::string& path, DWORD* error);

// Whether two paths name the same file or folder, whatever their spelling
// (C:\Kelvo and a mapped or linked path to it): same volume, same file index.
bool SameFile(const std::string& a, const std::string& b);
// The same for two folders, also when one cannot be opened but both are
// spelled alike (the ASCII letters' case aside).
bool SameFolder(const std::string& a, const std::string& b);

// The whole file, or false: ERROR_FILE_TOO_LARGE past `limit` bytes (nothing
// is read then). The handle form reads from its current position and
// leaves the handle open; the path form opens the file sharing reading only.
bool ReadWholeFile(HANDLE file, std::size_t limit, std::string* content, DWORD* error);
bool ReadWholeFile(const std::string& path, std::size_t limit, std::string* content, DWORD* error);
bool IsRegularFile(const std::string& path);
bool Exists(const std::string& path);

}  // namespace tovane
