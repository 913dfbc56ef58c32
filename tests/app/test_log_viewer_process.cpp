// Runs the log viewer tool as its own process against lines written here.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>

#include "app/LogChannel.h"
#include "support/TempDir.h"

namespace hx {
namespace {

namespace fs = std::filesystem;

// Generous limits: they only stop a broken viewer from hanging the run.
constexpr auto kPatience = std::chrono::seconds(20);

std::string viewerPath() {
    const char* bin = std::getenv("HX40K_TEST_BIN");
    return bin ? std::string(bin) + "/hx40k-logview" : std::string();
}

class LogViewerProcess : public ::testing::Test {
  protected:
    void SetUp() override {
        if (viewerPath().empty() || !fs::exists(viewerPath())) GTEST_SKIP() << "hx40k-logview not built";
        m_block = "/hx40k-viewtest-" + std::to_string(::getpid());
        m_socket = m_dir.folder() + "Debug_logMessage";
        setLogChannelNames(m_block, m_socket);
    }
    void TearDown() override {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0) ::close(m_out);
        closeLogChannel();
        setLogChannelNames("", "");
        ::shm_unlink(m_block.c_str());
    }

    void start(const std::vector<std::string>& extra) {
        std::vector<std::string> args{viewerPath(), "--socket", m_socket, "--shm", m_block};
        args.insert(args.end(), extra.begin(), extra.end());
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        m_pid = ::fork();
        ASSERT_GE(m_pid, 0);
        if (m_pid == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        m_out = fds[0];
    }

    // True once a viewer receives on the socket (a stale file refuses).
    bool socketIsBound() {
        const int probe = ::socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, m_socket.c_str(), sizeof address.sun_path - 1);
        const bool alive = ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(probe);
        return alive;
    }

    bool waitForSocket() {
        const auto until = std::chrono::steady_clock::now() + kPatience;
        while (std::chrono::steady_clock::now() < until) {
            if (socketIsBound()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    // What the viewer prints until it closes its output, or until the first
    // complete line when firstLineOnly is set.
    std::string read(bool firstLineOnly = false) {
        std::string out;
        const auto until = std::chrono::steady_clock::now() + kPatience;
        char c;
        while (std::chrono::steady_clock::now() < until) {
            pollfd p{m_out, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            if (::read(m_out, &c, 1) != 1) break;
            out += c;
            if (firstLineOnly && c == '\n') break;
        }
        return out;
    }

    int waitExit() {
        int status = 0;
        const auto until = std::chrono::steady_clock::now() + kPatience;
        while (std::chrono::steady_clock::now() < until) {
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -2;
    }

    test::TempDir m_dir;
    std::string m_block;
    std::string m_socket;
    pid_t m_pid = -1;
    int m_out = -1;
};

TEST_F(LogViewerProcess, PrintsAnnouncedLinesWithLocalTimeAndKindLettersThenEnds) {
    start({"--count", "2"});
    ASSERT_TRUE(waitForSocket());
    writeLogLine("Pc->getMenu", 'N', 'P');
    // The block holds one record: the next line waits until the viewer has shown this one.
    std::string out = read(true);
    writeLogLine(std::string("bad\x1b[2Jtext"), 'E', 'P');
    out += read();
    EXPECT_EQ(waitExit(), 0);
    const std::regex expected(
        "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d N P Pc->getMenu\n"
        "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d E P bad\\\\x1B\\[2Jtext\n");
    EXPECT_TRUE(std::regex_match(out, expected)) << out;
    EXPECT_FALSE(fs::exists(m_socket));
}

TEST_F(LogViewerProcess, ABurstOfLinesIsPrintedWholeAndInOrder) {
    // Before: the block kept only the newest record, so a burst showed its
    // last line several times and lost the others.
    start({"--count", "20"});
    ASSERT_TRUE(waitForSocket());
    for (int i = 0; i < 20; ++i) writeLogLine("line " + std::to_string(i), 'N', 'P');
    const std::string out = read();
    EXPECT_EQ(waitExit(), 0);
    std::string expected;
    for (int i = 0; i < 20; ++i) expected += " N P line " + std::to_string(i) + "\n";
    std::string seen;
    for (std::size_t at = 0; (at = out.find(" N P ", at)) != std::string::npos; at = out.find('\n', at))
        seen += out.substr(at, out.find('\n', at) + 1 - at);
    EXPECT_EQ(seen, expected) << out;
}

TEST_F(LogViewerProcess, ReplacesAStaleSocketAndRemovesItsOwnOnSigterm) {
    {
        // A socket file left behind by a viewer that is gone.
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, m_socket.c_str(), sizeof address.sun_path - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    start({});
    // The stale file is replaced by a live one: a line announced now arrives.
    ASSERT_TRUE(waitForSocket());
    writeLogLine("Timer:Open dev. Result:1, ID:0", 'N', 'P');
    const std::string out = read(true);
    ::kill(m_pid, SIGTERM);
    EXPECT_EQ(read(), "");
    EXPECT_EQ(waitExit(), 0);
    EXPECT_NE(out.find(" N P Timer:Open dev. Result:1, ID:0\n"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(m_socket));
}

TEST_F(LogViewerProcess, ABlockEmptiedUnderItOrSomeoneElsesIsNoEnd) {
    // Before: the viewer read through a mapping and died of SIGBUS once the
    // block was cut to nothing; and lines sent to the user's own block (the
    // shared one being someone else's) were never found.
    const int fd = ::shm_open(m_block.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::fchmod(fd, 0644), 0);  // open to others: not ours to write to
    ASSERT_EQ(::ftruncate(fd, kLogBlockSize), 0);
    start({});
    ASSERT_TRUE(waitForSocket());
    writeLogLine("Pc->getDeviceVer", 'N', 'P');
    EXPECT_NE(read(true).find(" N P Pc->getDeviceVer\n"), std::string::npos);

    const std::string own = userLogBlockName(m_block);
    const int mine = ::shm_open(own.c_str(), O_RDWR, 0);
    ASSERT_GE(mine, 0);
    ASSERT_EQ(::ftruncate(mine, 0), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));  // a few of the viewer's looks
    ::kill(m_pid, SIGTERM);
    EXPECT_EQ(waitExit(), 0) << "ended by SIGTERM, not by SIGBUS";
    ::close(mine);
    ::close(fd);
    closeLogChannel();
    ::shm_unlink(own.c_str());
}

TEST_F(LogViewerProcess, RefusesToRemoveAFileThatIsNotASocket) {
    std::ofstream(m_socket) << "somebody's file";
    start({"--count", "1"});
    EXPECT_EQ(waitExit(), 1);
    EXPECT_TRUE(fs::exists(m_socket));
}

}  // namespace
}  // namespace hx
