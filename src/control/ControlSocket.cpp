#include "control/ControlSocket.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "app/LogChannel.h"

namespace hx {

namespace {

constexpr const char* kPrefix = "halnor40ku-";
constexpr const char* kSuffix = ".sock";

bool fillAddress(sockaddr_un& address, const std::string& path) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

std::string folderOrRuntime(const std::string& folder) {
    std::string f = folder.empty() ? runtimeFolder() : folder;
    if (!f.empty() && f.back() != '/') f += '/';
    return f;
}

}  // namespace

std::string CControlSocket::socketPath(const std::string& folder, long pid) {
    const std::string dir = folderOrRuntime(folder);
    return dir.empty() ? std::string() : dir + kPrefix + std::to_string(pid) + kSuffix;
}

bool CControlSocket::isOutsideCommand(int command) {
    return command == 32771 || command == 32773 || command == 32774 || command == 32775;
}

CControlSocket::CControlSocket(std::function<void(int)> onCommand, std::string folder)
    : m_onCommand(std::move(onCommand)) {
    std::string dir = folderOrRuntime(folder);
    if (dir.empty()) return;  // no private runtime folder: no socket (already told)
    ::mkdir(dir.c_str(), 0700);
    m_path = socketPath(folder, static_cast<long>(::getpid()));
    sockaddr_un address;
    if (!fillAddress(address, m_path)) return;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return;
    ::unlink(m_path.c_str());
    mode_t old = ::umask(0177);  // owner-only socket file
    int bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::umask(old);
    if (bound != 0 || ::listen(fd, static_cast<int>(kMaxClients)) != 0 ||
        ::pipe2(m_wakePipe, O_CLOEXEC) != 0) {
        ::close(fd);
        return;
    }
    m_fd = fd;
    m_thread = std::thread([this] { serve(); });
}

CControlSocket::~CControlSocket() {
    if (m_fd >= 0) {
        char byte = 0;
        [[maybe_unused]] ssize_t n = ::write(m_wakePipe[1], &byte, 1);
        if (m_thread.joinable()) m_thread.join();
        ::close(m_fd);
        ::unlink(m_path.c_str());
    }
    for (int fd : m_wakePipe)
        if (fd >= 0) ::close(fd);
}

void CControlSocket::setChannels(std::function<std::vector<ChannelEntry>()> list,
                                 std::function<bool(int, int)> onChannelCommand) {
    m_listChannels = std::move(list);
    m_onChannelCommand = std::move(onChannelCommand);
}

std::string CControlSocket::answerTo(const char* line) {
    int command = 0;
    int deviceId = 0;
    if (std::strncmp(line, "property", 8) == 0) return std::to_string(m_property.load()) + "\n";
    if (std::strncmp(line, "channels", 8) == 0) {
        if (!m_listChannels) return "error\n";
        std::string answer;
        for (const ChannelEntry& channel : m_listChannels())
            answer += std::to_string(channel.deviceId) + " " + std::to_string(channel.property) + "\n";
        return answer.empty() ? "none\n" : answer;
    }
    const int fields = std::sscanf(line, "command %d device %d", &command, &deviceId);
    if (fields < 1) return "error\n";
    if (!isOutsideCommand(command)) return "refused\n";
    if (m_onChannelCommand) {
        if (fields < 2) return "refused: this copy serves several units, give the device ID\n";
        return m_onChannelCommand(deviceId, command) ? "ok\n" : "no such channel\n";
    }
    // One unit: a device ID given must be the connected unit's (property 272 + ID - 1).
    if (fields == 2 && m_property.load() != 0x110 + deviceId - 1) return "no such channel\n";
    m_onCommand(command);
    return "ok\n";
}

// Every connection is served at once and given kClientTimeLimitMs for its one
// short request, so idle or slow clients cannot keep the others out; beyond
// kMaxClients open connections the oldest is dropped.
void CControlSocket::serve() {
    using Clock = std::chrono::steady_clock;
    struct Client {
        int fd;
        Clock::time_point deadline;
    };
    std::vector<Client> clients;
    auto answerAndClose = [&](std::size_t i, const char* line) {
        const std::string answer = answerTo(line);
        [[maybe_unused]] ssize_t w = ::send(clients[i].fd, answer.data(), answer.size(), MSG_NOSIGNAL);
        ::close(clients[i].fd);
        clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
    };
    for (;;) {
        std::vector<pollfd> fds{{m_fd, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
        int timeoutMs = -1;
        const Clock::time_point now = Clock::now();
        for (const Client& client : clients) {
            fds.push_back({client.fd, POLLIN, 0});
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(client.deadline - now).count();
            timeoutMs =
                std::max<int>(0, timeoutMs < 0 ? static_cast<int>(left) : std::min<int>(timeoutMs, left));
        }
        if (::poll(fds.data(), fds.size(), timeoutMs) < 0) continue;
        if (fds[1].revents) break;

        // Requests that came in, then those whose time is up (answered as empty).
        for (std::size_t i = clients.size(); i-- > 0;) {
            if (fds[2 + i].revents) {
                char line[64] = {};
                ssize_t n = ::read(clients[i].fd, line, sizeof line - 1);
                if (n < 0 && errno == EAGAIN) continue;
                answerAndClose(i, line);
            } else if (Clock::now() >= clients[i].deadline) {
                answerAndClose(i, "");
            }
        }
        if (!(fds[0].revents & POLLIN)) continue;
        for (;;) {
            int client = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (client < 0) break;
            if (clients.size() >= kMaxClients) {
                ::close(clients.front().fd);
                clients.erase(clients.begin());
            }
            clients.push_back({client, Clock::now() + std::chrono::milliseconds(kClientTimeLimitMs)});
        }
    }
    for (const Client& client : clients) ::close(client.fd);
}

std::string CControlSocket::request(const std::string& path, const std::string& line) {
    sockaddr_un address;
    if (path.empty() || !fillAddress(address, path)) return {};
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return {};
    // A copy whose queue is full must not hold the client in connect for ever.
    timeval limit{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    std::string answer;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size())) {
        pollfd in{fd, POLLIN, 0};
        char buffer[64];
        while (::poll(&in, 1, 2000) > 0) {
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0) break;
            answer.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r')) answer.pop_back();
    return answer;
}

std::vector<CControlSocket::Instance> CControlSocket::listInstances(const std::string& folder) {
    std::vector<Instance> found;
    std::string dir = folderOrRuntime(folder);
    DIR* d = ::opendir(dir.c_str());
    if (!d) return found;
    const std::size_t prefixLength = std::strlen(kPrefix), suffixLength = std::strlen(kSuffix);
    while (dirent* entry = ::readdir(d)) {
        std::string name = entry->d_name;
        if (name.size() <= prefixLength + suffixLength || name.compare(0, prefixLength, kPrefix) != 0 ||
            name.compare(name.size() - suffixLength, suffixLength, kSuffix) != 0)
            continue;
        std::string pidText = name.substr(prefixLength, name.size() - prefixLength - suffixLength);
        char* end = nullptr;
        long pid = std::strtol(pidText.c_str(), &end, 10);
        if (!end || *end) continue;
        std::string answer = request(dir + name, "property\n");
        if (answer.empty()) continue;  // a socket left by a program that has ended
        // A copy with several units answers with one line per channel.
        const std::string channels = request(dir + name, "channels\n");
        int deviceId = 0, property = 0;
        bool listed = false;
        std::stringstream lines(channels);
        for (std::string entry; std::getline(lines, entry);) {
            if (std::sscanf(entry.c_str(), "%d %d", &deviceId, &property) != 2) continue;
            found.push_back({pid, property, deviceId});
            listed = true;
        }
        if (!listed) found.push_back({pid, std::atoi(answer.c_str())});
    }
    ::closedir(d);
    return found;
}

std::string CControlSocket::sendCommand(long pid, int command, const std::string& folder, int deviceId) {
    std::string line = "command " + std::to_string(command);
    if (deviceId > 0) line += " device " + std::to_string(deviceId);
    std::string answer = request(socketPath(folder, pid), line + "\n");
    return answer.empty() ? "no such instance" : answer;
}

}  // namespace hx
