#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace orvane::testing {

/// Appends `value` to `bytes` as `size` little-endian bytes, the way RIFF stores numbers.
inline void putLittleEndian(std::vector<uint8_t> &bytes, uint64_t value, int size) {
    for (int index = 0; index < size; ++index)
        bytes.push_back(static_cast<uint8_t>(value >> (8 * index)));
}

/// WAV files built by hand, chunk by chunk: the edge cases a reader must survive and the
/// encodings other programs write. The RIFF size stays 0 unless `sealed` sets it.
struct RiffBuilder {
    std::vector<uint8_t> bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};

    void put(uint64_t value, int size) { putLittleEndian(bytes, value, size); }

    RiffBuilder &chunk(const char *id, uint32_t declaredSize, const std::vector<uint8_t> &body) {
        bytes.insert(bytes.end(), id, id + 4);
        put(declaredSize, 4);
        bytes.insert(bytes.end(), body.begin(), body.end());
        return *this;
    }

    /// A plain format chunk; a `chunkSize` above 16 pads it with zeros.
    RiffBuilder &format(uint32_t tag, uint32_t channels, uint32_t rate, uint32_t bits,
                        uint32_t chunkSize = 16) {
        std::vector<uint8_t> body;
        putLittleEndian(body, tag, 2);
        putLittleEndian(body, channels, 2);
        putLittleEndian(body, rate, 4);
        putLittleEndian(body, rate * channels * bits / 8, 4);
        putLittleEndian(body, channels * bits / 8, 2);
        putLittleEndian(body, bits, 2);
        body.resize(chunkSize < 16 ? 16 : chunkSize, 0);
        return chunk("fmt ", chunkSize, body);
    }

    /// A data chunk of 16-bit samples.
    RiffBuilder &data(const std::vector<int16_t> &samples) {
        std::vector<uint8_t> body;
        for (const int16_t sample : samples)
            putLittleEndian(body, static_cast<uint16_t>(sample), 2);
        return chunk("data", static_cast<uint32_t>(body.size()), body);
    }

    /// Declares the RIFF size: everything after it, and `unwritten` bytes that a test adds to
    /// the file in another way.
    RiffBuilder &sealed(uint32_t unwritten = 0) {
        const auto size = static_cast<uint32_t>(bytes.size() - 8) + unwritten;
        for (int index = 0; index < 4; ++index)
            bytes[4 + static_cast<std::size_t>(index)] = static_cast<uint8_t>(size >> (8 * index));
        return *this;
    }

    void writeTo(const std::string &path) const {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char *>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
};

} // namespace orvane::testing
