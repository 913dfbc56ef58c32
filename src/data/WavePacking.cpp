#include "data/WavePacking.h"

#include <cstdio>

#include "data/DataFileWriter.h"

namespace hx {

namespace {

void putWord(std::span<std::uint8_t> out, std::size_t at, std::uint16_t value) {
    out[at] = static_cast<std::uint8_t>(value & 0xFF);
    out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

std::uint16_t getWord(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

// The open nibble run while packing: where its first byte is and how many
// differences it holds so far.
struct OpenRun {
    std::size_t head = 0;
    int count = 0;
};

std::string format(const char* text, std::size_t a, std::size_t b = 0) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, text, a, b);
    return buffer;
}

}  // namespace

std::size_t packWaveInto(std::span<const std::int16_t> samples, std::span<std::uint8_t> out) {
    std::size_t at = kWaveHeaderSize;
    OpenRun run;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        const auto d = static_cast<std::int16_t>(samples[i] - samples[i - 1]);
        if (d >= -7 && d <= 7) {
            if (run.count == 0) {
                run.head = at++;
            }
            const auto nibble = static_cast<std::uint8_t>(d & 0x0F);
            if (run.count % 2 == 0) {
                out[at++] = nibble;  // low half of a new byte; high half 0 until filled
            } else {
                out[at - 1] = static_cast<std::uint8_t>(out[at - 1] | (nibble << 4));
            }
            ++run.count;
            out[run.head] = static_cast<std::uint8_t>(2 * run.count + 1);
            if (run.count == kMaxRunLength) run.count = 0;
            continue;
        }
        run.count = 0;
        if (d >= -31 && d <= 31) {
            out[at++] = static_cast<std::uint8_t>(d * 4 + 2);
        } else {
            const auto word = static_cast<std::uint16_t>(d);
            out[at++] = static_cast<std::uint8_t>((word * 4) & 0xFF);
            out[at++] = static_cast<std::uint8_t>((word >> 6) & 0xFF);
        }
    }
    putWord(out, 0, static_cast<std::uint16_t>(at));
    putWord(out, 2, static_cast<std::uint16_t>(samples.empty() ? 0 : samples[0]));
    return at;
}

std::vector<std::uint8_t> packWaveSamples(std::span<const std::int16_t> samples) {
    std::vector<std::uint8_t> block(maxPackedSize(samples.size()));
    block.resize(packWaveInto(samples, block));
    return block;
}

std::vector<std::uint8_t> packWave(std::span<const std::int16_t, kRingSize> ring) {
    return packWaveSamples(ring);
}

namespace {

// The block's length from its header; 0 (with error set) when the header is
// cut short or the length cannot be right.
std::size_t checkedBlockLength(std::span<const std::uint8_t> bytes, std::string& error) {
    if (bytes.size() < kWaveHeaderSize) {
        error = format("wave block header cut short (%zu of 4 bytes)", bytes.size());
        return 0;
    }
    const std::size_t length = getWord(bytes, 0);
    if (length < kWaveHeaderSize) {
        error = format("wave block length %zu is less than its 4-byte header", length);
        return 0;
    }
    if (length > bytes.size()) {
        error = format("wave block length %zu runs past the end of the file (%zu bytes left)", length,
                       bytes.size());
        return 0;
    }
    return length;
}

// The codes after a block's header, turned into samples after the first. A
// sample outside the 12-bit range is refused rather than wrapped: no unit or
// writer makes one, so the file was made by hand or damaged.
class WaveCodes {
  public:
    WaveCodes(std::span<const std::uint8_t> block, std::span<std::int16_t> out, std::string& error)
        : m_block(block), m_out(out), m_error(error) {}

    bool decode() {
        while (m_at < m_block.size()) {
            const std::uint8_t first = m_block[m_at];
            const bool ok = (first & 1)   ? nibbleRun(first >> 1)
                            : (first & 2) ? !tooMany(1) && add(static_cast<std::int8_t>(first) >> 2, 1)
                                          : longDifference(first);
            if (!ok) return false;
        }
        if (m_filled != m_out.size()) {
            m_error = format("wave block ends after %zu of %zu samples", m_filled, m_out.size());
            return false;
        }
        return true;
    }

  private:
    // n differences of 4 bits each, two to a byte, after the code byte.
    bool nibbleRun(std::size_t n) {
        if (n == 0) {
            m_error = format("empty nibble run at byte %zu of the wave block", m_at);
            return false;
        }
        const std::size_t bytesNeeded = (n + 1) / 2;
        if (m_at + 1 + bytesNeeded > m_block.size()) {
            m_error = format("nibble run at byte %zu runs past the end of the wave block (length %zu)", m_at,
                             m_block.size());
            return false;
        }
        if (tooMany(n)) return false;
        for (std::size_t k = 0; k < n; ++k) {
            const std::uint8_t pair = m_block[m_at + 1 + k / 2];
            const int nibble = (k % 2 == 0) ? (pair & 0x0F) : (pair >> 4);
            if (!add(nibble >= 8 ? nibble - 16 : nibble, 0)) return false;
        }
        m_at += 1 + bytesNeeded;
        return true;
    }

    // One difference of 14 bits in two bytes.
    bool longDifference(std::uint8_t first) {
        if (m_at + 2 > m_block.size()) {
            m_error = format("long difference at byte %zu runs past the end of the wave block (length %zu)",
                             m_at, m_block.size());
            return false;
        }
        if (tooMany(1)) return false;
        const int raw = (first >> 2) + (m_block[m_at + 1] << 6);
        return add(raw >= 8192 ? raw - 16384 : raw, 2);
    }

    // Adds the next sample and moves on by `advance` bytes.
    bool add(int difference, std::size_t advance) {
        const int value = m_out[m_filled - 1] + difference;
        if (value < kMinSample || value > kMaxSample) {
            m_error = format("code at byte %zu of the wave block takes sample %zu outside the 12-bit range",
                             m_at, m_filled);
            return false;
        }
        m_out[m_filled++] = static_cast<std::int16_t>(value);
        m_at += advance;
        return true;
    }

    bool tooMany(std::size_t more) {
        if (m_filled + more <= m_out.size()) return false;
        m_error = format("wave codes at byte %zu give more than %zu samples", m_at, m_out.size());
        return true;
    }

    std::span<const std::uint8_t> m_block;
    std::span<std::int16_t> m_out;
    std::string& m_error;
    std::size_t m_at = kWaveHeaderSize;
    std::size_t m_filled = 1;  // the first sample comes from the header
};

}  // namespace

bool unpackWave(std::span<const std::uint8_t> bytes, std::span<std::int16_t> out, std::size_t& blockLength,
                std::string& error) {
    if (out.empty()) {
        error = "no samples asked for";
        return false;
    }
    const std::size_t length = checkedBlockLength(bytes, error);
    if (length == 0) return false;
    const auto block = bytes.first(length);
    out[0] = static_cast<std::int16_t>(getWord(block, 2));
    if (out[0] < kMinSample || out[0] > kMaxSample) {
        error = "first sample at byte 2 of the wave block is outside the 12-bit range";
        return false;
    }
    if (!WaveCodes(block, out, error).decode()) return false;
    blockLength = length;
    return true;
}

}  // namespace hx
