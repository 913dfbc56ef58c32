#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/LogChannel.h"
#include "support/TempDir.h"

namespace hx {
namespace {

std::string uniqueBlockName() {
    static std::atomic<int> counter{0};
    return "/hx40k-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

std::uint32_t le32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Gives each test its own block and socket path, and removes both afterwards.
class LogChannelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_block = uniqueBlockName();
        m_socketPath = m_dir.folder() + "viewer.sock";
        setLogChannelNames(m_block, m_socketPath);
    }
    void TearDown() override {
        closeLogChannel();
        setLogChannelNames("", "");
        if (m_reader) ::munmap(m_reader, kLogBlockSize);
        if (m_viewer >= 0) ::close(m_viewer);
        ::shm_unlink(m_block.c_str());
    }

    // This test's own view of the block, as a second process would have it.
    const unsigned char* block() {
        if (!m_reader) {
            const int fd = ::shm_open(m_block.c_str(), O_RDONLY, 0);
            if (fd < 0) return nullptr;
            void* view = ::mmap(nullptr, kLogBlockSize, PROT_READ, MAP_SHARED, fd, 0);
            ::close(fd);
            m_reader = view == MAP_FAILED ? nullptr : static_cast<unsigned char*>(view);
        }
        return m_reader;
    }

    void bindViewer() {
        m_viewer = ::socket(AF_UNIX, SOCK_DGRAM, 0);
        ASSERT_GE(m_viewer, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, m_socketPath.c_str(), sizeof address.sun_path - 1);
        ASSERT_EQ(::bind(m_viewer, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }

    // One datagram, or an empty vector when none is waiting.
    std::vector<unsigned char> receiveNotice() {
        std::vector<unsigned char> buffer(64);
        const ssize_t got = ::recv(m_viewer, buffer.data(), buffer.size(), MSG_DONTWAIT);
        buffer.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        return buffer;
    }

    std::string textAt8(std::size_t length) {
        return std::string(reinterpret_cast<const char*>(block() + 8), length);
    }

    test::TempDir m_dir;
    std::string m_block;
    std::string m_socketPath;
    unsigned char* m_reader = nullptr;
    int m_viewer = -1;
};

TEST_F(LogChannelTest, RecordHoldsTimeKindLettersLengthAndText) {
    const auto before = static_cast<std::uint32_t>(std::time(nullptr));
    writeLogLine("Pc->getMenu", 'N', 'P');
    const auto after = static_cast<std::uint32_t>(std::time(nullptr));

    const unsigned char* r = block();
    ASSERT_NE(r, nullptr);
    EXPECT_GE(le32(r), before);
    EXPECT_LE(le32(r), after);
    EXPECT_EQ(r[4], 'N');
    EXPECT_EQ(r[5], 'P');
    EXPECT_EQ(r[6], 11);
    EXPECT_EQ(r[7], 0);
    EXPECT_EQ(textAt8(11), "Pc->getMenu");
}

TEST_F(LogChannelTest, LongTextsAreCutAndShortOnesLeaveEarlierBytesBehind) {
    const std::string longText(200, 'x');
    writeLogLine(longText, 'E', 'P');
    ASSERT_NE(block(), nullptr);
    EXPECT_EQ(block()[6] | (block()[7] << 8), 128);
    EXPECT_EQ(textAt8(128), std::string(128, 'x'));

    writeLogLinef('N', 'S', "DBT_DEVICEARRIVAL devId:%d", 3);
    EXPECT_EQ(block()[5], 'S');
    EXPECT_EQ(block()[6], 25);
    EXPECT_EQ(textAt8(25), "DBT_DEVICEARRIVAL devId:3");
    EXPECT_EQ(textAt8(128).substr(25), std::string(103, 'x'));

    writeLogLinef('N', 'P', "Read animalNo:%s", std::string(300, 'a').c_str());
    EXPECT_EQ(block()[6] | (block()[7] << 8), 128);
    EXPECT_EQ(textAt8(128), "Read animalNo:" + std::string(114, 'a'));

    writeLogLine("", 'N', 'D');
    EXPECT_EQ(block()[6] | (block()[7] << 8), 0);
}

TEST_F(LogChannelTest, BlockIsSharedBetweenChannelsAndMadeAgainAfterClose) {
    writeLogLine("first", 'N', 'P');
    ASSERT_TRUE(logChannel().isMapped());

    // Another copy of the program: its own channel over the same name.
    CLogChannel other(m_block, m_socketPath);
    ASSERT_TRUE(other.isMapped());
    EXPECT_EQ(std::string(static_cast<const char*>(other.view()) + 8, 5), "first");
    other.write("from the other copy", 'N', 'S', 1234);
    EXPECT_EQ(le32(block()), 1234u);
    EXPECT_EQ(textAt8(19), "from the other copy");

    closeLogChannel();
    writeLogLine("after close", 'N', 'P');
    EXPECT_TRUE(logChannel().isMapped());
    EXPECT_EQ(textAt8(11), "after close");

    struct stat info {};
    const int fd = ::shm_open(m_block.c_str(), O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::fstat(fd, &info), 0);
    ::close(fd);
    EXPECT_EQ(info.st_size, static_cast<off_t>(kLogBlockSize));
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(LogChannelTest, AnnouncementCarriesTheViewAddressAndRecordLength) {
    bindViewer();
    writeLogLine("Pc->getDeviceVer", 'N', 'P');
    const std::vector<unsigned char> notice = receiveNotice();
    ASSERT_EQ(notice.size(), 16u);
    const auto decoded = decodeLogNotice(notice.data(), notice.size());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->lParam, 136u);
    EXPECT_EQ(decoded->wParam, reinterpret_cast<std::uintptr_t>(logChannel().view()));
    EXPECT_EQ(notice[8], 136);
    for (int i = 9; i < 16; ++i) EXPECT_EQ(notice[i], 0);
    EXPECT_TRUE(receiveNotice().empty());  // one line, one announcement
}

TEST_F(LogChannelTest, WithoutAViewerLinesStillReachTheBlock) {
    writeLogLine("Dev state changed!", 'N', 'D');
    ASSERT_NE(block(), nullptr);
    EXPECT_EQ(textAt8(18), "Dev state changed!");
}

TEST_F(LogChannelTest, AViewerThatDoesNotReadNeverBlocksTheWriter) {
    bindViewer();
    // Far more lines than a datagram queue holds: excess lines are dropped.
    for (int i = 0; i < 5000; ++i) writeLogLinef('N', 'P', "Pc->sendCMD: %d", i);
    EXPECT_EQ(textAt8(17), "Pc->sendCMD: 4999");
}

TEST_F(LogChannelTest, ABlockOpenToOthersIsNotWrittenTo) {
    const int fd = ::shm_open(m_block.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::fchmod(fd, 0666), 0);
    ASSERT_EQ(::ftruncate(fd, kLogBlockSize), 0);
    ::close(fd);

    writeLogLine("Read animalNo:secret", 'N', 'P');
    ASSERT_NE(block(), nullptr);
    EXPECT_EQ(block()[6], 0);  // still as created: all zero
    // Before: every line was dropped without a word. Now they go to the user's own block.
    EXPECT_TRUE(logChannel().isMapped());
    const std::string own = userLogBlockName(m_block);
    const int mine = ::shm_open(own.c_str(), O_RDONLY, 0);
    ASSERT_GE(mine, 0);
    EXPECT_TRUE(isPrivateLogBlock(mine));
    char text[21] = {};
    EXPECT_EQ(::pread(mine, text, 20, 8), 20);
    EXPECT_STREQ(text, "Read animalNo:secret");
    ::close(mine);
    closeLogChannel();
    ::shm_unlink(own.c_str());
}

TEST_F(LogChannelTest, ASmallerExistingBlockIsGrownToFullSize) {
    const int fd = ::shm_open(m_block.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ::close(fd);
    writeLogLine("stop thread! ", 'N', 'P');
    ASSERT_TRUE(logChannel().isMapped());
    EXPECT_EQ(textAt8(13), "stop thread! ");
}

TEST_F(LogChannelTest, ABlockShrunkUnderItOrOfAnotherSizeIsNotWrittenTo) {
    auto sizeOfBlock = [&] {
        struct stat info {};
        const int fd = ::shm_open(m_block.c_str(), O_RDONLY, 0);
        ::fstat(fd, &info);
        ::close(fd);
        return info.st_size;
    };
    writeLogLine("before", 'N', 'P');
    ASSERT_TRUE(logChannel().isMapped());
    // Shrunk while mapped: the next line is dropped, and the program lives on.
    const int fd = ::shm_open(m_block.c_str(), O_RDWR, 0);
    ASSERT_EQ(::ftruncate(fd, 0), 0);
    writeLogLine("after the shrink", 'N', 'P');
    EXPECT_EQ(sizeOfBlock(), 0);

    // Found at another size: left as it is.
    closeLogChannel();
    ASSERT_EQ(::ftruncate(fd, 100), 0);
    ::close(fd);
    writeLogLine("into a foreign block", 'N', 'P');
    EXPECT_EQ(sizeOfBlock(), 100);
}

TEST_F(LogChannelTest, WritersOnSeveralThreadsNeverMixARecord) {
    bindViewer();
    // Each writer has its own length and letter; the last record must be one
    // writer's line whole. Closing in between must not pull the block away
    // from a writer (the sanitizer runs watch for that).
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([t] {
            const std::string text(20 + 10 * t, static_cast<char>('a' + t));
            for (int i = 0; i < 500; ++i) {
                writeLogLine(text, 'N', 'P');
                if (i % 100 == 0 && t == 0) closeLogChannel();
            }
        });
    }
    for (auto& w : writers) w.join();
    const unsigned char* r = block();
    ASSERT_NE(r, nullptr);
    const std::size_t length = r[6];
    ASSERT_GE(length, 20u);
    ASSERT_LE(length, 50u);
    const char letter = static_cast<char>('a' + (length - 20) / 10);
    EXPECT_EQ(textAt8(length), std::string(length, letter));
}

TEST_F(LogChannelTest, TheRingKeepsTheLatestRecordsAndTellsWhatWasOverwritten) {
    const int total = static_cast<int>(kLogRingSlots) + 14;
    for (int i = 1; i <= total; ++i) writeLogLine("line " + std::to_string(i), 'N', 'P');
    ASSERT_NE(block(), nullptr);
    EXPECT_EQ(logRingSequence(block()), static_cast<std::uint64_t>(total));
    EXPECT_EQ(le32(block() + 6) & 0xFFFF,
              ("line " + std::to_string(total)).size());  // the first record as before

    LogRingRead all = readLogRing(block(), 0);
    EXPECT_EQ(all.missed, 14u);
    EXPECT_EQ(all.last, static_cast<std::uint64_t>(total));
    ASSERT_EQ(all.records.size(), kLogRingSlots);
    for (std::size_t i = 0; i < kLogRingSlots; ++i)
        EXPECT_EQ(all.records[i].text, "line " + std::to_string(15 + i));

    LogRingRead rest = readLogRing(block(), total - 3);
    EXPECT_EQ(rest.missed, 0u);
    ASSERT_EQ(rest.records.size(), 3u);
    EXPECT_EQ(rest.records[0].text, "line " + std::to_string(total - 2));
    EXPECT_TRUE(readLogRing(block(), total).records.empty());
}

TEST(LogRecordDecoding, LengthBeyondTheTextFieldIsCutAndShortInputRejected) {
    unsigned char bytes[kLogRecordSize] = {};
    bytes[0] = 0x78;
    bytes[1] = 0x56;
    bytes[2] = 0x34;
    bytes[3] = 0x12;
    bytes[4] = 'E';
    bytes[5] = 'P';
    bytes[6] = 0xFF;
    bytes[7] = 0xFF;
    std::memset(bytes + 8, 'z', kLogTextMax);
    const auto record = decodeLogRecord(bytes, sizeof bytes);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->timeSeconds, 0x12345678u);
    EXPECT_EQ(record->kind1, 'E');
    EXPECT_EQ(record->text, std::string(128, 'z'));
    EXPECT_FALSE(decodeLogRecord(bytes, kLogRecordSize - 1));
    EXPECT_FALSE(decodeLogNotice(bytes, 15));
    EXPECT_FALSE(decodeLogNotice(bytes, 17));
}

TEST(LogChannelNames, DefaultsLiveInTheRuntimeFolder) {
    setLogChannelNames("", "");
    EXPECT_EQ(logSharedMemoryName(), "/HX40K");
    EXPECT_EQ(logViewerSocketPath(), runtimeFolder() + "Debug_logMessage");

    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedValue = saved ? saved : "";
    ::setenv("XDG_RUNTIME_DIR", "/run/user/4242", 1);
    EXPECT_EQ(runtimeFolder(), "/run/user/4242/");
    // A folder of the user's own that others could write is made private.
    test::TempDir open;
    std::filesystem::permissions(open.path(), std::filesystem::perms::all);
    ::setenv("XDG_RUNTIME_DIR", open.path().c_str(), 1);
    EXPECT_EQ(runtimeFolder(), open.folder());
    EXPECT_EQ(std::filesystem::status(open.path()).permissions(), std::filesystem::perms::owner_all);
    ::unsetenv("XDG_RUNTIME_DIR");
    const std::string fallback = runtimeFolder();
    EXPECT_NE(fallback.find("/runtime-"), std::string::npos);
    EXPECT_EQ(fallback.back(), '/');
    if (saved) ::setenv("XDG_RUNTIME_DIR", savedValue.c_str(), 1);
}

}  // namespace
}  // namespace hx
