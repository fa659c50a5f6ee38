#include "der.h"

namespace tovane::trust {

bool DerReader::PeekTag(std::uint8_t& tag) const {
    if (rest_.size == 0) {
        return false;
    }
    tag = rest_.data[0];
    return true;
}

bool DerReader::Read(std::uint8_t tag, Bytes& contents) {
    if (rest_.size < 2 || rest_.data[0] != tag) {
        return false;
    }
    std::size_t pos = 1;
    std::size_t length = rest_.data[pos++];
    if (length & 0x80) {
        std::size_t count = length & 0x7F;
        // 0x80 is the indefinite form, which DER forbids; more than four
        // length bytes never fits anything this reader is used for.
        if (count == 0 || count > 4 || rest_.size - pos < count) {
            return false;
        }
        if (rest_.data[pos] == 0) {
            return false;  // a leading zero length byte is not minimal
        }
        length = 0;
        for (std::size_t i = 0; i < count; ++i) {
            length = (length << 8) | rest_.data[pos++];
        }
        if (length < 0x80) {
            return false;  // the short form was required
        }
    }
    if (rest_.size - pos < length) {
        return false;
    }
    contents = {rest_.data + pos, length};
    rest_.data += pos + length;
    rest_.size -= pos + length;
    return true;
}

bool ReadUnsignedInteger(DerReader& reader, Bytes& magnitude) {
    Bytes v;
    if (!reader.Read(kDerInteger, v) || v.size == 0) {
        return false;
    }
    if (v.data[0] & 0x80) {
        return false;  // negative
    }
    if (v.data[0] == 0) {
        if (v.size == 1) {
            magnitude = {v.data + 1, 0};
            return true;
        }
        if ((v.data[1] & 0x80) == 0) {
            return false;  // the zero byte was not needed
        }
        ++v.data;
        --v.size;
    }
    magnitude = v;
    return true;
}

}  // namespace tovane::trust
