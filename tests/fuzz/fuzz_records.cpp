// Feeds arbitrary inbound records, in any order, through the record areas of a
// fresh document exactly as the receiver thread copies them, and decodes them
// as the main window does. Checks the invariants the panes rely on: the write
// position stays inside the rings, every stored sample is a sign-extended
// 12-bit value, a refused packet changes nothing, and an animal block survives
// being rebuilt.
//
// Input: a sequence of [control byte][record]. The low 6 bits of the control
// byte + 1 give the record length (1 to 64); bit 6 sets the wait-for-start flag
// before the record is handled (the main window does that after a menu or a
// cancelled measurement); bit 7 builds the animal block afterwards.

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "app/Application.h"
#include "app/LogChannel.h"
#include "data/Halnor55KUDoc.h"
#include "protocol/RecordDecoding.h"
#include "settings/ProfileStore.h"
#include "support/SilentMessagePort.h"

namespace {

using namespace hx;

using SilentPort = hx::test::SilentMessagePort;

std::string g_logName;

void removeLogBlock() { ::shm_unlink(g_logName.c_str()); }

void useOwnLogBlock() {
    g_logName = "/hx40k-fuzz-records-" + std::to_string(::getpid());
    setLogChannelNames(g_logName, "");
    std::atexit(removeLogBlock);
}

void check(bool condition) {
    if (!condition) std::abort();
}

bool isSample(std::int16_t v) { return v >= -2048 && v <= 2047; }

void handleWavePacket(CHalnor55KUDoc& doc) {
    const int positionBefore = doc.writePosition();
    const std::int16_t heartRateBefore = doc.liveHeartRate();
    const int result = decodeWavePacket(doc);
    check(result >= kWaveRefused && result <= kWaveStoredAtZero);
    check(doc.writePosition() >= 0 && doc.writePosition() < static_cast<int>(kRingSize));
    if (result == kWaveRefused) {
        check(doc.writePosition() == positionBefore);
        check(doc.liveHeartRate() == heartRateBefore);
        return;
    }
    check(doc.batchStartIndex() >= 0 && doc.batchStartIndex() < static_cast<int>(kRingSize));
    for (int k = 0; k < doc.batchCount(); ++k) {
        const auto at = static_cast<std::size_t>((doc.batchStartIndex() + k) % static_cast<int>(kRingSize));
        check(isSample(doc.pressureRing()[at]) && isSample(doc.waveRing()[at]));
    }
    check(doc.sensorLevel() >= 0 && doc.sensorLevel() <= 15);
}

void handleResult(CHalnor55KUDoc& doc) {
    decodeResultRecord(doc);
    check(doc.result().dateTime.size() <= 12);
    const std::string shown = doc.formattedDateTime();
    check(shown.empty() || shown.size() == 17);
    doc.setDrawMode(1);
    doc.setMeasurementPhase(CHalnor55KUDoc::kPhaseResult);
    if (doc.saveDecision()) doc.sendHistoryRow(doc.result().errorCode);
    check(doc.lastSampleIndex() >= 0 && doc.lastSampleIndex() < static_cast<int>(kRingSize));
}

void checkAnimalRoundTrip(CHalnor55KUDoc& doc) {
    const AnimalTexts received = doc.animalTexts();
    std::array<std::uint8_t, kAnimalBlockSize> saved{};
    std::copy_n(doc.animalArea(), kAnimalBlockSize, saved.begin());
    buildAnimalBlock(doc);
    decodeAnimalBlock(doc);
    const AnimalTexts again = doc.animalTexts();
    check(again.animalNo == received.animalNo && again.studyNo == received.studyNo &&
          again.weight == received.weight && again.sexAge == received.sexAge &&
          again.comment == received.comment);
    std::copy(saved.begin(), saved.end(), doc.animalArea());
}

// One record, handled as the receiver thread and then the main window would.
void handleRecord(CHalnor55KUDoc& doc, const std::uint8_t* record, std::size_t length) {
    std::array<std::uint8_t, kMaxRecordSize> buffer{};
    std::copy_n(record, length, buffer.begin());
    switch (recordType(record[0])) {
        case kRecordResultFirst:
        case kRecordResultSecond:
        case kRecordResultThird: {
            const int piece = recordType(record[0]) == kRecordResultThird ? 2 : recordType(record[0]) - 2;
            std::copy_n(buffer.begin() + 2, kResultPieceSize,
                        doc.resultArea() + kResultPieceOffset[static_cast<std::size_t>(piece)]);
            if (piece == 2) handleResult(doc);
            break;
        }
        case kRecordWavePacket:
            std::fill_n(doc.waveArea(), kMaxRecordSize, std::uint8_t{0});
            std::copy_n(record, length, doc.waveArea());
            handleWavePacket(doc);
            break;
        case kRecordAnimalInfo:
            std::fill_n(doc.animalArea(), kMaxRecordSize, std::uint8_t{0});
            std::copy_n(record, length, doc.animalArea());
            decodeAnimalBlock(doc);
            checkAnimalRoundTrip(doc);
            break;
        case kRecordVersion: {
            const std::string text = versionRecordText(buffer.data(), length);
            check(text.size() < kMaxRecordSize);
            applyDeviceVersion(doc, text);
            break;
        }
        default:
            break;  // menu notices and unknown types store nothing
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool logReady = (useOwnLogBlock(), true);
    (void)logReady;

    static const std::string folder = "/tmp/";
    CHalnor40KUApp app;
    CMemoryProfileStore store;
    SilentPort port;
    CHalnor55KUDoc doc(app, store, port, folder);

    std::size_t at = 0;
    while (at < size) {
        const std::uint8_t control = data[at++];
        const std::size_t length = std::min<std::size_t>((control & 0x3F) + 1u, size - at);
        if (length == 0) break;
        if (control & 0x40) doc.setWaitForStart(true);
        handleRecord(doc, data + at, length);
        if (control & 0x80) {
            const auto block = buildAnimalBlock(doc);
            check(block.size() == kAnimalBlockSize && block[0] != 0);
        }
        at += length;
    }
    return 0;
}
