// SPDX-License-Identifier: GPL-3.0-or-later
#include "imaging/huffmanscan.h"

#include <algorithm>
#include <cstring>
#include <bit>

namespace imaging {

bool HuffmanCode::define(const std::uint8_t* counts, const std::uint8_t* symbols) {
    *this = HuffmanCode();
    std::uint32_t code = 0;
    int index = 0;
    for (int length = 1; length <= 16; ++length) {
        const int count = counts[length - 1];
        m_offset[std::size_t(length)] = index - std::int32_t(code);
        m_maxCode[std::size_t(length)] = count ? std::int32_t(code + std::uint32_t(count) - 1) : -1;
        for (int i = 0; i < count; ++i, ++code, ++index) {
            if (index >= 256 || code >= (1u << length)) return false;  // more codes than this length holds
            m_symbols[std::size_t(index)] = symbols[index];
            if (length <= fastBits) {
                const std::uint32_t first = code << (fastBits - length), n = 1u << (fastBits - length);
                for (std::uint32_t j = 0; j < n; ++j)
                    m_fast[first + j] = std::uint16_t((length << 8) | symbols[index]);
            }
        }
        code <<= 1;
    }
    m_maxCode[17] = 0x7FFFFFFF;  // ends the search
    m_defined = true;
    return true;
}

HuffmanCode::Match HuffmanCode::matchLong(std::uint32_t bits) const {
    for (int length = fastBits + 1; length <= 16; ++length) {
        const std::int32_t code = std::int32_t(bits >> (32 - length));
        if (code <= m_maxCode[std::size_t(length)])
            return {unsigned(length), m_symbols[std::size_t(m_offset[std::size_t(length)] + code) & 0xFF]};
    }
    return {0, 0};
}

namespace {

// The data's bits with its stuffed zero bytes taken out, and room to look 32 bits past the end.
class Bits {
public:
    Bits(const std::uint8_t* data, std::size_t size) {
        m_bytes.reserve(size + 8);
        for (std::size_t i = 0; i < size; ++i) {
            if (data[i] != 0xFF) {
                m_bytes.push_back(data[i]);
            } else if (i + 1 < size && data[i + 1] == 0x00) {
                m_bytes.push_back(0xFF);
                ++i;
            } else if (i + 1 < size && data[i + 1] != 0xFF) {
                break;  // a marker: the data ends before it
            }  // else a fill byte
        }
        m_size = m_bytes.size() * 8;
        m_bytes.resize(m_bytes.size() + 8, 0);
    }
    std::size_t size() const { return m_size; }
    // The 32 bits from bit `at`, the first one highest.
    std::uint32_t peek(std::size_t at) const {
        std::uint64_t v;
        std::memcpy(&v, m_bytes.data() + at / 8, sizeof v);
        if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
        return std::uint32_t((v << (at % 8)) >> 32);
    }

private:
    std::vector<std::uint8_t> m_bytes;
    std::size_t m_size = 0;
};

// The largest magnitude categories of 8-bit data: DC differences and AC coefficients.
constexpr unsigned maxDcSize = 11, maxAcSize = 10;

enum class Step { Done, OutOfData, BadCode };

// Steps over one block from bit *at, as a sequential decoder reads it.
Step skipBlock(const Bits& bits, const ScanBlock& block, std::size_t* at) {
    std::size_t pos = *at;
    HuffmanCode::Match m = block.dc->match(bits.peek(pos));
    if (m.length == 0 || m.symbol > maxDcSize) return Step::BadCode;
    pos += m.length + m.symbol;
    for (unsigned k = 1; k < 64;) {
        if (pos > bits.size()) return Step::OutOfData;
        m = block.ac->match(bits.peek(pos));
        if (m.length == 0) return Step::BadCode;
        const unsigned run = m.symbol >> 4, size = m.symbol & 15;
        pos += m.length + size;
        if (size == 0 && run != 15) break;  // end of block
        k += size == 0 ? 16 : run + 1;
    }
    if (pos > bits.size()) return Step::OutOfData;
    *at = pos;
    return Step::Done;
}

// Bytes the quick look decodes: enough for every wrong start to fail or meet the right one, many
// times over. The most states it steps through before it leaves the question to the walk.
constexpr std::size_t tailBytes = 1024;
constexpr std::size_t maxTailSteps = 200'000;
constexpr std::uint64_t fewBitsPerMcu = 32;

// Whether only the padding of a whole scan's last byte follows bit `at`: fewer than eight bits, all
// ones. (A cut leaves any bits there.)
bool endsInPadding(const Bits& bits, std::size_t at) {
    const std::size_t left = bits.size() - at;
    return left < 8 && (left == 0 || bits.peek(at) >> (32 - left) == (1u << left) - 1);
}

// Where decoding may stand: at a bit, in a block of the MCU, before its DC difference or among
// its AC coefficients. For the latter, `ks` holds each coefficient it may be at (bit k for
// coefficient k): they all read the same codes until the block ends, so they go as one.
struct State {
    std::size_t at;
    std::uint32_t block;
    bool ac;
    std::uint64_t ks;
};

// Reads one code from where `s` stands: the places it may lead to in after[], and how many (none
// when the code is not in the table or runs past the data).
int step(const Bits& bits, const std::vector<ScanBlock>& mcu, const State& s, State after[2]) {
    const ScanBlock& block = mcu[s.block];
    const std::uint32_t next = s.block + 1 == mcu.size() ? 0 : s.block + 1;
    if (!s.ac) {
        const HuffmanCode::Match m = block.dc->match(bits.peek(s.at));
        if (m.length == 0 || m.symbol > maxDcSize || s.at + m.length + m.symbol > bits.size()) return 0;
        after[0] = {s.at + m.length + m.symbol, s.block, true, 2};
        return 1;
    }
    const HuffmanCode::Match m = block.ac->match(bits.peek(s.at));
    const unsigned run = m.symbol >> 4, size = m.symbol & 15;
    if (m.length == 0 || size > maxAcSize || s.at + m.length + size > bits.size()) return 0;
    const std::size_t at = s.at + m.length + size;
    if (size == 0 && run != 15) {  // end of block
        after[0] = {at, next, false, 1};
        return 1;
    }
    // A coefficient at k + run, or sixteen zeros: from k = 63 - run the block is full.
    int n = 0;
    if (const std::uint64_t ks = s.ks << (size == 0 ? 16 : run + 1)) after[n++] = {at, s.block, true, ks};
    if (size != 0 && ((s.ks >> (63 - run)) & 1)) after[n++] = {at, next, false, 1};
    return n;
}

}  // namespace

bool holdsEveryMcu(const ScanData& scan) {
    const Bits bits(scan.data, scan.size);
    std::size_t at = 0;
    for (std::uint64_t mcu = 0; mcu < scan.mcus; ++mcu)
        for (const ScanBlock& block : scan.mcu) switch (skipBlock(bits, block, &at)) {
                case Step::Done:
                    break;
                case Step::OutOfData:
                    return false;
                case Step::BadCode:
                    return true;  // damaged rather than cut: not ours to judge here
            }
    return true;
}

bool mayEndWhole(const ScanData& scan) {
    if (scan.mcu.empty() || scan.mcu.size() > maxMcuBlocks) return true;
    if (scan.size <= tailBytes) return holdsEveryMcu(scan);
    // Start on a byte of its own, not the zero after a stuffed 0xFF.
    std::size_t start = scan.size - tailBytes;
    while (start < scan.size && scan.data[start - 1] == 0xFF) ++start;
    const Bits bits(scan.data + start, scan.size - start);

    // The places decoding may stand at, by bit: a code and its extra bits take at most 27 bits,
    // so every place still to be read lies within 64 bits of the one being read.
    struct Bucket {
        std::array<State, 2 * maxMcuBlocks> states;
        std::size_t count = 0;
    };
    std::array<Bucket, 64> ring;
    std::uint64_t occupied = 0;
    const auto put = [&](const State& s) {
        Bucket& bucket = ring[s.at % 64];
        for (std::size_t i = 0; i < bucket.count; ++i)
            if (bucket.states[i].block == s.block && bucket.states[i].ac == s.ac) {
                bucket.states[i].ks |= s.ks;  // two ways that meet go on as one
                return;
            }
        bucket.states[bucket.count++] = s;
        occupied |= std::uint64_t(1) << (s.at % 64);
    };
    // One of the first 32 bits starts a code.
    for (std::size_t at = 0; at < std::min<std::size_t>(32, bits.size()); ++at)
        for (std::uint32_t b = 0; b < scan.mcu.size(); ++b) {
            put({at, b, false, 1});
            put({at, b, true, ~std::uint64_t(1)});
        }
    std::size_t steps = 0;
    for (std::size_t at = 0; occupied && steps < maxTailSteps;) {
        at += std::size_t(__builtin_ctzll(std::rotr(occupied, int(at % 64))));
        Bucket& bucket = ring[at % 64];
        std::array<State, 2 * maxMcuBlocks> here;
        const std::size_t count = bucket.count;
        std::copy_n(bucket.states.begin(), count, here.begin());
        bucket.count = 0;
        occupied &= ~(std::uint64_t(1) << (at % 64));
        for (std::size_t i = 0; i < count; ++i, ++steps) {
            State s = here[i];
            State after[2];
            int n = 0;
            // Alone, once the other ways have failed or met it: no buckets needed.
            for (bool alone = count == 1 && !occupied;; s = after[0], ++steps) {
                if (!s.ac && s.block == 0 && endsInPadding(bits, s.at)) return true;
                n = step(bits, scan.mcu, s, after);
                if (!alone || n != 1) break;
            }
            for (int j = 0; j < n; ++j) put(after[j]);
        }
    }
    return false;
}

bool scanIsWhole(const ScanData& scan) {
    // Where an MCU takes few bits, as in a plain picture, a cut falls within a byte after the end
    // of one too often for the quick look; such data is small for its size, and walked.
    if (scan.size * 8 < scan.mcus * fewBitsPerMcu) return holdsEveryMcu(scan);
    return mayEndWhole(scan) || holdsEveryMcu(scan);
}

}  // namespace imaging
