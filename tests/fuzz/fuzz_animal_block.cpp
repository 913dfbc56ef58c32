// The animal-information block in both forms. Any 64 bytes are decoded as a
// short and as a long-ID block; the texts must fit their fields and come back
// unchanged when built into a block and decoded again. The rest of the input
// is cut into five 7-bit texts that must survive building and decoding, cut
// to their fields the way the unit keeps them.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "protocol/RecordDecoding.h"

namespace {

using namespace hx;

void check(bool condition) {
    if (!condition) std::abort();
}

bool same(const AnimalTexts& a, const AnimalTexts& b) {
    return a.animalNo == b.animalNo && a.studyNo == b.studyNo && a.weight == b.weight &&
           a.sexAge == b.sexAge && a.comment == b.comment;
}

AnimalTexts roundTrip(const AnimalTexts& texts, bool longId) {
    std::array<std::uint8_t, kAnimalBlockSize> block{};
    block[0] = kRecordAnimalInfo;
    fillAnimalBlock(texts, longId, block);
    check(block[0] == kRecordAnimalInfo);  // the builder leaves the type byte alone
    return parseAnimalBlock(block, longId);
}

void receivedBlock(const std::uint8_t* data, std::size_t size) {
    std::array<std::uint8_t, kAnimalBlockSize> block{};
    std::copy_n(data, std::min(size, block.size()), block.begin());
    for (bool longId : {false, true}) {
        const AnimalTexts texts = parseAnimalBlock(block, longId);
        const std::size_t width = animalNumberWidth(longId);
        check(texts.animalNo.size() <= width && texts.studyNo.size() <= width);
        check(texts.weight.size() <= 8 && texts.sexAge.size() <= 8 && texts.comment.size() <= 32);
        check(same(roundTrip(texts, longId), texts));
    }
}

std::string rightmost(const std::string& s, std::size_t n) {
    return s.size() > n ? s.substr(s.size() - n) : s;
}

void typedTexts(const std::uint8_t* data, std::size_t size) {
    // Five texts separated by bytes with bit 7 set; every other byte becomes a
    // printable 7-bit character.
    std::array<std::string, 5> parts;
    std::size_t part = 0;
    for (std::size_t i = 0; i < size && part < parts.size(); ++i) {
        if (data[i] & 0x80) {
            ++part;
            continue;
        }
        parts[part] += static_cast<char>(0x20 + data[i] % 0x5F);
    }
    const AnimalTexts typed{parts[0], parts[1], parts[2], parts[3], parts[4]};
    for (bool longId : {false, true}) {
        const std::size_t width = animalNumberWidth(longId);
        const AnimalTexts expected{rightmost(typed.animalNo, width), rightmost(typed.studyNo, width),
                                   typed.weight.substr(0, 8), typed.sexAge.substr(0, 8),
                                   typed.comment.substr(0, 32)};
        check(same(roundTrip(typed, longId), expected));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    receivedBlock(data, size);
    if (size > kAnimalBlockSize) typedTexts(data + kAnimalBlockSize, size - kAnimalBlockSize);
    return 0;
}
