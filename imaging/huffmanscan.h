// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Walking the Huffman-coded data of a sequential JPEG scan without decoding its pictures: to
// tell whether the data holds every block its size asks for. A file cut and given its
// end-of-image marker again looks whole to its markers; its data stops part-way through a block.

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace imaging {

// One Huffman table of a DHT segment.
class HuffmanCode {
public:
    // From the 16 counts of codes of each length and the symbols after them. False when the
    // counts ask for more codes than the lengths can hold.
    bool define(const std::uint8_t* counts, const std::uint8_t* symbols);
    bool defined() const { return m_defined; }

    // The code at the front of `bits` (the next 32 bits of data, first bit highest): its length
    // in bits, 0 when no code of the table starts them, and its symbol.
    struct Match {
        unsigned length;
        unsigned symbol;
    };
    Match match(std::uint32_t bits) const {
        if (const unsigned fast = m_fast[bits >> (32 - fastBits)]) return {fast >> 8, fast & 0xFF};
        return matchLong(bits);
    }

private:
    Match matchLong(std::uint32_t bits) const;
    static constexpr int fastBits = 9;
    std::array<std::uint16_t, 1 << fastBits> m_fast{};  // length << 8 | symbol; 0: longer or none
    std::array<std::int32_t, 18> m_maxCode{};           // the largest code of each length, -1: none
    std::array<std::int32_t, 17> m_offset{};            // symbol index minus the first code of a length
    std::array<std::uint8_t, 256> m_symbols{};
    bool m_defined = false;
};

// The blocks of one MCU of a scan in the order they are coded, each with its tables: at most ten,
// as the standard has it.
inline constexpr std::size_t maxMcuBlocks = 10;
struct ScanBlock {
    const HuffmanCode* dc;
    const HuffmanCode* ac;
};

// The entropy-coded data of one scan, or of its last restart interval: from `data` to `size`,
// with its stuffed zero bytes, up to the marker after it.
struct ScanData {
    const std::uint8_t* data;
    std::size_t size;
    std::vector<ScanBlock> mcu;
    std::uint64_t mcus;  // how many MCUs the data should hold
};

// Walks the data from its start, MCU after MCU. False only when the data ends before its last
// MCU; true when it holds them all, or when a code no table has makes it undecidable.
bool holdsEveryMcu(const ScanData& scan);

// Looks only at the data's last few thousand bytes: whether it can end where an MCU ends, as
// data that was not cut does. Decoding starts there without knowing at which bit, block or
// coefficient; every possibility is followed at once until the wrong ones fail or meet the
// right one. Data that ends as a whole scan does always passes; data cut at a random byte
// passes only when the cut happens to fall within a few bits after the end of an MCU.
bool mayEndWhole(const ScanData& scan);

// Whether the scan holds every MCU, with the quick look first and the walk from the start only
// for data the quick look doubts.
bool scanIsWhole(const ScanData& scan);

}  // namespace imaging
