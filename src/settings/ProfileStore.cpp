#include "settings/ProfileStore.h"

#include <cerrno>
#include <cstdlib>
#include <limits>

namespace hx {

namespace {

std::string joinKey(const std::string& section, const std::string& key) { return section + "/" + key; }

// Integers are kept as decimal text, as a profile file would hold them. Text
// that is not a whole 32-bit number reads as the default, like a missing key.
bool parseInt32(const std::string& text, std::int32_t& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str() || *end != '\0') return false;
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
        return false;
    out = static_cast<std::int32_t>(value);
    return true;
}

}  // namespace

std::int32_t CMemoryProfileStore::readInt(const std::string& section, const std::string& key,
                                          std::int32_t defaultValue) {
    std::lock_guard lock(m_mutex);
    const std::string name = joinKey(section, key);
    m_reads.push_back(name);
    const auto it = m_values.find(name);
    std::int32_t value = defaultValue;
    if (it != m_values.end() && parseInt32(it->second, value)) return value;
    return defaultValue;
}

void CMemoryProfileStore::writeInt(const std::string& section, const std::string& key, std::int32_t value) {
    std::lock_guard lock(m_mutex);
    const std::string name = joinKey(section, key);
    m_values[name] = std::to_string(value);
    m_writes.push_back(name);
}

std::string CMemoryProfileStore::readText(const std::string& section, const std::string& key,
                                          const std::string& defaultValue) {
    std::lock_guard lock(m_mutex);
    const std::string name = joinKey(section, key);
    m_reads.push_back(name);
    const auto it = m_values.find(name);
    return it != m_values.end() ? it->second : defaultValue;
}

void CMemoryProfileStore::writeText(const std::string& section, const std::string& key,
                                    const std::string& value) {
    std::lock_guard lock(m_mutex);
    const std::string name = joinKey(section, key);
    m_values[name] = value;
    m_writes.push_back(name);
}

bool CMemoryProfileStore::has(const std::string& section, const std::string& key) const {
    std::lock_guard lock(m_mutex);
    return m_values.count(joinKey(section, key)) != 0;
}

std::string CMemoryProfileStore::raw(const std::string& section, const std::string& key) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_values.find(joinKey(section, key));
    return it != m_values.end() ? it->second : std::string();
}

std::vector<std::string> CMemoryProfileStore::readLog() const {
    std::lock_guard lock(m_mutex);
    return m_reads;
}

void CMemoryProfileStore::clearLogs() {
    std::lock_guard lock(m_mutex);
    m_reads.clear();
    m_writes.clear();
}

}  // namespace hx
