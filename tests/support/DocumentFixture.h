#pragma once
// A measurement document over an in-memory profile, a recording message port
// and a private diagnostic log block, plus a listener that records what the
// document and the decoding report. For the document and decoding tests.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/Application.h"
#include "app/Clock.h"
#include "app/LogChannel.h"
#include "data/DocumentListener.h"
#include "data/Halnor55KUDoc.h"
#include "settings/ProfileStore.h"
#include "support/FakeMessagePort.h"
#include "support/TempDir.h"

namespace hx::test {

// Everything the document told its listener, in order of arrival.
struct RecordingDocumentListener : IDocumentListener {
    struct HistoryCall {
        int errorCode;
        HistoryRow row;
    };
    void onLiveHeartRate(std::int16_t hr) override { heartRates.push_back(hr); }
    void onSensorLevel(int level) override { sensorLevels.push_back(level); }
    void onSweepRestart() override { ++sweepRestarts; }
    void onErrorFlagChanged(int flag) override { errorFlags.push_back(flag); }
    void onHistoryRow(int errorCode, const HistoryRow& row) override {
        historyRows.push_back({errorCode, row});
    }

    std::vector<std::int16_t> heartRates;
    std::vector<int> sensorLevels;
    int sweepRestarts = 0;
    std::vector<int> errorFlags;
    std::vector<HistoryCall> historyRows;
};

// Wall time under the test's control.
class FixedWallClock : public IClock {
  public:
    std::int64_t nowMs() const override { return static_cast<std::int64_t>(now) * 1000; }
    std::time_t wallTime() const override { return now; }
    void sleepMs(int) override {}
    std::time_t now = 1'600'000'000;
};

class DocumentFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        m_logName = "/hx40k-doctest-" + std::to_string(::getpid());
        setLogChannelNames(m_logName, "");
        makeDocument();
    }

    void TearDown() override {
        doc.reset();
        closeLogChannel();
        ::shm_unlink(m_logName.c_str());
    }

    // Makes the document again, e.g. after values were put into the profile.
    void makeDocument() {
        doc.reset();
        doc = std::make_unique<CHalnor55KUDoc>(app, store, port, dir.folder());
        doc->setListener(&listener);
        doc->setClock(clock);
    }

    // The text of the line last written to the diagnostic log.
    std::string lastLogLine() const {
        const int fd = ::shm_open(m_logName.c_str(), O_RDONLY, 0);
        if (fd < 0) return {};
        void* view = ::mmap(nullptr, kLogRecordSize, PROT_READ, MAP_SHARED, fd, 0);
        ::close(fd);
        if (view == MAP_FAILED) return {};
        const auto* record = static_cast<const unsigned char*>(view);
        const std::size_t length = static_cast<std::size_t>(record[6] | (record[7] << 8));
        std::string text(reinterpret_cast<const char*>(record + 8), std::min(length, kLogTextMax));
        ::munmap(view, kLogRecordSize);
        return text;
    }

    TempDir dir;
    CHalnor40KUApp app;
    CMemoryProfileStore store;
    FakeMessagePort port;
    FixedWallClock clock;
    RecordingDocumentListener listener;
    std::unique_ptr<CHalnor55KUDoc> doc;

  private:
    std::string m_logName;
};

}  // namespace hx::test
