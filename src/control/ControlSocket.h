#pragma once
// The window property and the commands other programs may send, as a
// per-instance Unix socket "halnor40ku-<pid>.sock" in the user's runtime
// folder (owner-only). A client asks "property" and gets the value (15 before
// a unit was opened, then 272 + device ID), or sends "command N" for one of
// the outside commands 32771, 32773, 32774, 32775. Connections are served
// side by side, each within a time limit, so idle clients hold nobody up.
// A copy that serves several units also answers "channels" (one line "device
// ID, property" per channel) and takes "command N device D" for the channel of
// device ID D (1 to 16).

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace hx {

class CControlSocket {
  public:
    // onCommand is called on the socket's own thread with an accepted command;
    // the owner forwards it to the UI thread.
    explicit CControlSocket(std::function<void(int command)> onCommand, std::string folder = {});
    ~CControlSocket();  // removes the socket ("the property is removed")
    CControlSocket(const CControlSocket&) = delete;
    CControlSocket& operator=(const CControlSocket&) = delete;

    bool listening() const { return m_fd >= 0; }
    // Empty when there is no private runtime folder to put the socket in.
    const std::string& path() const { return m_path; }
    void setProperty(int value) { m_property = value; }
    int property() const { return m_property; }

    static bool isOutsideCommand(int command);

    // A copy with several channels: the list (device ID 1-16, property) and
    // the command to one of them (false: no such channel). Called on the
    // socket's thread; set before clients can come.
    struct ChannelEntry {
        int deviceId;
        int property;
    };
    void setChannels(std::function<std::vector<ChannelEntry>()> list,
                     std::function<bool(int deviceId, int command)> onChannelCommand);

    // Client side.
    struct Instance {
        long pid;
        int property;
        int deviceId = 0;  // a channel of a copy with several units; 0: the copy's one unit
    };
    // One entry per copy, or per channel of a copy with several units.
    static std::vector<Instance> listInstances(const std::string& folder = {});
    // "ok", or a reason; the instance's answer. deviceId (1-16) picks one
    // channel of a copy with several units, or must be the one unit's.
    static std::string sendCommand(long pid, int command, const std::string& folder = {}, int deviceId = 0);

    // Each connection has this long for its request; at most this many are open.
    static constexpr int kClientTimeLimitMs = 1000;
    static constexpr std::size_t kMaxClients = 64;

  private:
    void serve();
    std::string answerTo(const char* line);
    static std::string socketPath(const std::string& folder, long pid);
    static std::string request(const std::string& path, const std::string& line);

    std::function<void(int)> m_onCommand;
    std::function<std::vector<ChannelEntry>()> m_listChannels;
    std::function<bool(int, int)> m_onChannelCommand;
    std::string m_path;
    int m_fd = -1;
    int m_wakePipe[2] = {-1, -1};
    std::atomic<int> m_property{15};
    std::thread m_thread;
};

}  // namespace hx
