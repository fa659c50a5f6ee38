// The fixtures that with-trust-fixtures.sh makes with openssl before the run.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "p256_keys.h"

namespace kelvo::test {

// KELVO_TRUST_FIXTURES as a Windows path (Wine maps Z: to the host's root).
std::string FixturePath(const std::string& name);
// A host path as Wine's Z: drive shows it.
std::string WindowsPath(const std::string& hostPath);
std::vector<std::uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
tovane::trust::PublicKey ReadPublicKey(const std::string& path);

}  // namespace kelvo::test
