#include "fixtures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace kelvo::test {

std::string FixturePath(const std::string& name) {
    const char* dir = std::getenv("KELVO_TRUST_FIXTURES");
    if (dir == nullptr) {
        ADD_FAILURE() << "KELVO_TRUST_FIXTURES is not set (run through with-trust-fixtures.sh)";
        return name;
    }
    return WindowsPath(std::string(dir) + "/" + name);
}

std::string WindowsPath(const std::string& hostPath) {
    std::string path = hostPath[0] == '/' ? "Z:" + hostPath : hostPath;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << path;
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    EXPECT_TRUE(out) << path;
}

tovane::trust::PublicKey ReadPublicKey(const std::string& path) {
    std::vector<std::uint8_t> text = ReadBytes(path);
    std::string label, why;
    std::vector<std::uint8_t> der;
    tovane::trust::PublicKey key{};
    EXPECT_TRUE(tovane::trust::DecodePem(std::string(text.begin(), text.end()), label, der))
        << path;
    EXPECT_TRUE(tovane::trust::ParsePublicKeyInfo(der, key, why)) << path << ": " << why;
    return key;
}

}  // namespace kelvo::test
