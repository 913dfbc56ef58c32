#pragma once
// The per-user profile as an INI file kept by QSettings. Each section of the
// preferences is an INI group; integers are stored as ints, texts as strings.
// QSettings locks the file while it writes, so several copies of the program
// can share it; the copy that writes a key last wins. Writes reach the file
// when the event loop next runs, at sync() or when the store is destroyed
// (saving the file is costly, so a group of writes is saved in one go).
// Used on the user-interface thread only.

#include <QSettings>
#include <QVariant>
#include <map>
#include <memory>
#include <string>

#include "settings/ProfileStore.h"

namespace hx {

class CQSettingsProfileStore final : public IProfileStore {
  public:
    // The user's profile: organisation "Quarvel40K", application "Halnor40KU".
    CQSettingsProfileStore();
    // An explicit INI file (tests, or a profile kept somewhere else).
    explicit CQSettingsProfileStore(const std::string& iniFilePath);
    ~CQSettingsProfileStore() override;

    std::int32_t readInt(const std::string& section, const std::string& key,
                         std::int32_t defaultValue) override;
    void writeInt(const std::string& section, const std::string& key, std::int32_t value) override;
    std::string readText(const std::string& section, const std::string& key,
                         const std::string& defaultValue) override;
    void writeText(const std::string& section, const std::string& key, const std::string& value) override;

    // Writes pending changes to the file now and reads what other copies wrote.
    void sync();

    // Where the profile lives.
    std::string filePath() const;

    // False when the file holds lines this store could not read (a broken
    // quote that swallows the keys after it, a value that does not decode).
    // Writing it back would drop them, so the file is then left as it is:
    // writes of this run are kept in memory only, and one line on stderr
    // says so.
    bool readCleanly() const { return m_readCleanly; }

  private:
    void checkReadable();
    QVariant valueOf(const QString& path) const;
    void store(const QString& path, const QVariant& value);

    std::unique_ptr<QSettings> m_settings;
    bool m_readCleanly = true;
    std::map<QString, QVariant> m_unsaved;  // writes held back from a damaged file
};

}  // namespace hx
