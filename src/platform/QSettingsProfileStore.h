#pragma once
// The per-user profile as an INI file kept by QSettings. Each section of the
// preferences is an INI group; integers are stored as ints, texts as strings.
// QSettings locks the file while it writes, so several copies of the program
// can share it; the copy that writes a key last wins. Writes reach the file
// when the event loop next runs, at sync() or when the store is destroyed
// (saving the file is costly, so a group of writes is saved in one go).
// Used on the user-interface thread only.

#include <QSettings>
#include <QString>
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
    // False when the file could not be written (its folder cannot be made or
    // written, a read-only or full disk): the settings of this run are lost.
    bool sync();

    // Where the profile lives.
    std::string filePath() const;

    // False when the file holds lines this store could not read (a broken
    // quote that would swallow the keys after it, a value that does not
    // decode), or is not a regular file (a FIFO, a device: never opened).
    // Every other key is read; writing the file back would drop the damaged
    // lines, so it is left as it is and writes of this run are kept in memory
    // only, until repair().
    bool readCleanly() const { return m_readCleanly; }
    // What is wrong with the file, for the user: its name, the first line
    // that cannot be read and what follows from it ("" when it reads cleanly).
    std::string problem() const { return m_problem; }
    // Keeps a copy of the damaged file beside it (".damaged") and rewrites the
    // file with every key that could be read and this run's writes. False
    // (nothing changed) when the copy or the new file cannot be written, or
    // the profile is not a regular file.
    bool repair();
    bool repairable() const { return !m_readCleanly && m_regularFile; }
    // False when the profile's folder or file cannot be written by this user;
    // what to tell then, or when sync() failed.
    bool writable() const;
    std::string unwritableText() const;

  private:
    void checkReadable();
    // Reads the file line by line, leaving out the lines that cannot be read.
    void recover();
    QVariant valueOf(const QString& path) const;
    void store(const QString& path, const QVariant& value);

    QString m_path;
    std::unique_ptr<QSettings> m_settings;  // none when the path is not a regular file
    bool m_readCleanly = true;
    std::map<QString, QVariant> m_unsaved;    // writes held back from a damaged file
    std::map<QString, QVariant> m_recovered;  // what could be read of a damaged file
    std::string m_problem;
    bool m_regularFile = true;
};

}  // namespace hx
