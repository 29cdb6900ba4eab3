// The floor for the mixdown benchmark: the least a program must do for the gain + pan mix of
// the workload. It reads every track's 16-bit stereo WAV with read(2) in blocks, adds each
// with its left and right gains, and writes the sum as a 16-bit stereo WAV. Nothing else:
// no project, no engine, no per-track state.
//
//   halvora_read_mix_floor PEERS.txt OUT.wav
//
// PEERS.txt holds one line per track: the media file, its left gain and its right gain.

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int64_t blockFrames = 16384;

struct Track {
    int descriptor = -1;
    float gainLeft = 0.0f;
    float gainRight = 0.0f;
    int64_t framesLeft = 0;
};

uint32_t le32(const unsigned char *bytes) {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
           uint32_t{bytes[3]} << 24;
}

/// Up to `size` bytes, fewer only at the end of the file; -1 on an error.
ssize_t readFully(int descriptor, void *bytes, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::read(descriptor, static_cast<char *>(bytes) + done, size - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<ssize_t>(done);
}

/// Leaves the descriptor at the first sample of the "data" chunk; its frames, or -1.
int64_t seekToSamples(int descriptor) {
    unsigned char header[12];
    if (readFully(descriptor, header, 12) != 12 || std::memcmp(header, "RIFF", 4) != 0) return -1;
    for (;;) {
        unsigned char chunk[8];
        if (readFully(descriptor, chunk, 8) != 8) return -1;
        const uint32_t size = le32(chunk + 4);
        if (std::memcmp(chunk, "data", 4) == 0) return size / 4;
        if (::lseek(descriptor, size + (size & 1), SEEK_CUR) < 0) return -1;
    }
}

void putLe32(unsigned char *bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

std::vector<unsigned char> wavHeader(int64_t frames) {
    std::vector<unsigned char> header(44, 0);
    const auto dataBytes = static_cast<uint32_t>(frames * 4);
    std::memcpy(header.data(), "RIFF", 4);
    putLe32(header.data() + 4, 36 + dataBytes);
    std::memcpy(header.data() + 8, "WAVEfmt ", 8);
    putLe32(header.data() + 16, 16);
    header[20] = 1; // PCM
    header[22] = 2; // channels
    putLe32(header.data() + 24, 48000);
    putLe32(header.data() + 28, 48000 * 4);
    header[32] = 4;
    header[34] = 16;
    std::memcpy(header.data() + 36, "data", 4);
    putLe32(header.data() + 40, dataBytes);
    return header;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PEERS.txt OUT.wav\n", argv[0]);
        return 2;
    }
    std::ifstream peers(argv[1]);
    std::vector<Track> tracks;
    std::string path;
    Track track;
    int64_t frames = 0;
    while (peers >> path >> track.gainLeft >> track.gainRight) {
        track.descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        track.framesLeft = track.descriptor < 0 ? -1 : seekToSamples(track.descriptor);
        if (track.framesLeft < 0) {
            std::fprintf(stderr, "cannot read %s\n", path.c_str());
            return 1;
        }
        frames = std::max(frames, track.framesLeft);
        tracks.push_back(track);
    }
    const int output = ::open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const std::vector<unsigned char> header = wavHeader(frames);
    if (output < 0 || ::write(output, header.data(), header.size()) != 44) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    std::vector<int16_t> input(2 * blockFrames);
    std::vector<float> sum(2 * blockFrames);
    std::vector<int16_t> mixed(2 * blockFrames);
    for (int64_t done = 0; done < frames; done += blockFrames) {
        const int64_t count = std::min(blockFrames, frames - done);
        std::fill_n(sum.begin(), 2 * count, 0.0f);
        for (Track &each : tracks) {
            const int64_t wanted = std::min(count, each.framesLeft);
            if (wanted < 1) continue;
            const ssize_t got = readFully(each.descriptor, input.data(), wanted * 4);
            const int64_t read = got < 0 ? 0 : got / 4;
            each.framesLeft -= read;
            for (int64_t i = 0; i < read; ++i) {
                sum[2 * i] += each.gainLeft * (input[2 * i] / 32767.0f);
                sum[2 * i + 1] += each.gainRight * (input[2 * i + 1] / 32767.0f);
            }
        }
        for (int64_t i = 0; i < 2 * count; ++i)
            mixed[i] = static_cast<int16_t>(std::lrint(std::clamp(sum[i], -1.0f, 1.0f) * 32767.0f));
        if (::write(output, mixed.data(), count * 4) != count * 4) {
            std::fprintf(stderr, "cannot write %s\n", argv[2]);
            return 1;
        }
    }
    ::close(output);
    return 0;
}
