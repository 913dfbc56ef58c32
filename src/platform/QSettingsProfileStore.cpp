#include "platform/QSettingsProfileStore.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <atomic>
#include <cstdio>
#include <limits>

namespace hx {

namespace {

QString keyPath(const std::string& section, const std::string& key) {
    return QString::fromStdString(section) + QLatin1Char('/') + QString::fromStdString(key);
}

}  // namespace

CQSettingsProfileStore::CQSettingsProfileStore()
    : m_settings(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                             QStringLiteral("Quarvel40K"), QStringLiteral("Halnor40KU"))) {
    checkReadable();
}

CQSettingsProfileStore::CQSettingsProfileStore(const std::string& iniFilePath)
    : m_settings(std::make_unique<QSettings>(QString::fromStdString(iniFilePath), QSettings::IniFormat)) {
    checkReadable();
}

// Every key line of the file must have come through as a key with a value.
// Keys with characters that the file escapes are not compared.
void CQSettingsProfileStore::checkReadable() {
    bool clean = m_settings->status() == QSettings::NoError;
    const QStringList parsed = m_settings->allKeys();
    for (const QString& key : parsed)
        if (!m_settings->value(key).isValid()) clean = false;
    QFile file(m_settings->fileName());
    if (clean && file.open(QIODevice::ReadOnly)) {
        static const QRegularExpression plainKey(QStringLiteral("^[A-Za-z0-9_ .-]+$"));
        QString section;
        while (!file.atEnd()) {
            const QString line = QString::fromUtf8(file.readLine()).trimmed();
            if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
                continue;
            if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
                section = line.mid(1, line.size() - 2);
                continue;
            }
            const qsizetype equals = line.indexOf(QLatin1Char('='));
            if (equals <= 0) continue;
            const QString key = line.left(equals).trimmed();
            if (!plainKey.match(key).hasMatch() ||
                !plainKey.match(section.isEmpty() ? key : section).hasMatch())
                continue;
            const QString path = section.isEmpty() || section == QLatin1String("General")
                                     ? key
                                     : section + QLatin1Char('/') + key;
            if (!parsed.contains(path)) clean = false;
        }
    }
    m_readCleanly = clean;
    static std::atomic<bool> told{false};
    if (!clean && !told.exchange(true))
        std::fprintf(stderr,
                     "halnor40ku: the profile %s has lines that cannot be read; it is left as it is and the "
                     "settings of this run are not saved\n",
                     m_settings->fileName().toLocal8Bit().constData());
}

CQSettingsProfileStore::~CQSettingsProfileStore() = default;

QVariant CQSettingsProfileStore::valueOf(const QString& path) const {
    if (auto held = m_unsaved.find(path); held != m_unsaved.end()) return held->second;
    return m_settings->value(path);
}

void CQSettingsProfileStore::store(const QString& path, const QVariant& value) {
    if (m_readCleanly)
        m_settings->setValue(path, value);
    else
        m_unsaved[path] = value;
}

std::int32_t CQSettingsProfileStore::readInt(const std::string& section, const std::string& key,
                                             std::int32_t defaultValue) {
    const QVariant value = valueOf(keyPath(section, key));
    if (!value.isValid()) return defaultValue;
    // A value edited by hand may be anything: what is not a 32-bit whole
    // number counts as missing.
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok);
    if (!ok || number < std::numeric_limits<std::int32_t>::min() ||
        number > std::numeric_limits<std::int32_t>::max())
        return defaultValue;
    return static_cast<std::int32_t>(number);
}

void CQSettingsProfileStore::writeInt(const std::string& section, const std::string& key,
                                      std::int32_t value) {
    store(keyPath(section, key), static_cast<int>(value));
}

std::string CQSettingsProfileStore::readText(const std::string& section, const std::string& key,
                                             const std::string& defaultValue) {
    const QVariant value = valueOf(keyPath(section, key));
    if (!value.isValid()) return defaultValue;
    return value.toString().toStdString();
}

void CQSettingsProfileStore::writeText(const std::string& section, const std::string& key,
                                       const std::string& value) {
    store(keyPath(section, key), QString::fromStdString(value));
}

void CQSettingsProfileStore::sync() {
    if (m_readCleanly) m_settings->sync();
}

std::string CQSettingsProfileStore::filePath() const { return m_settings->fileName().toStdString(); }

}  // namespace hx
