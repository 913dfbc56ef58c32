#pragma once
// The four operations the preferences need from the per-user profile.
// A read of a missing key yields the default; a failed write is not reported.

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace hx {

class IProfileStore {
  public:
    virtual ~IProfileStore() = default;
    virtual std::int32_t readInt(const std::string& section, const std::string& key,
                                 std::int32_t defaultValue) = 0;
    virtual void writeInt(const std::string& section, const std::string& key, std::int32_t value) = 0;
    virtual std::string readText(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) = 0;
    virtual void writeText(const std::string& section, const std::string& key, const std::string& value) = 0;
};

// Profile kept in memory (tests, and the fallback when no file store exists).
// Keeps the order of writes so tests can check it.
class CMemoryProfileStore final : public IProfileStore {
  public:
    std::int32_t readInt(const std::string& section, const std::string& key,
                         std::int32_t defaultValue) override;
    void writeInt(const std::string& section, const std::string& key, std::int32_t value) override;
    std::string readText(const std::string& section, const std::string& key,
                         const std::string& defaultValue) override;
    void writeText(const std::string& section, const std::string& key, const std::string& value) override;

    bool has(const std::string& section, const std::string& key) const;
    std::string raw(const std::string& section, const std::string& key) const;
    // "section/key" of every write and every read, in order. writeLog's
    // reference is for single-threaded tests; readLog copies under the lock.
    const std::vector<std::string>& writeLog() const { return m_writes; }
    std::vector<std::string> readLog() const;
    void clearLogs();

  private:
    mutable std::mutex m_mutex;
    std::map<std::string, std::string> m_values;  // "section/key" -> text form
    std::vector<std::string> m_writes;
    std::vector<std::string> m_reads;
};

}  // namespace hx
