#include "platform/QSettingsProfileStore.h"

#include <limits>

namespace hx {

namespace {

QString keyPath(const std::string& section, const std::string& key) {
    return QString::fromStdString(section) + QLatin1Char('/') + QString::fromStdString(key);
}

}  // namespace

CQSettingsProfileStore::CQSettingsProfileStore()
    : m_settings(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                             QStringLiteral("Quarvel40K"), QStringLiteral("Halnor40KU"))) {}

CQSettingsProfileStore::CQSettingsProfileStore(const std::string& iniFilePath)
    : m_settings(std::make_unique<QSettings>(QString::fromStdString(iniFilePath), QSettings::IniFormat)) {}

CQSettingsProfileStore::~CQSettingsProfileStore() = default;

std::int32_t CQSettingsProfileStore::readInt(const std::string& section, const std::string& key,
                                             std::int32_t defaultValue) {
    const QVariant value = m_settings->value(keyPath(section, key));
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
    m_settings->setValue(keyPath(section, key), static_cast<int>(value));
}

std::string CQSettingsProfileStore::readText(const std::string& section, const std::string& key,
                                             const std::string& defaultValue) {
    const QVariant value = m_settings->value(keyPath(section, key));
    if (!value.isValid()) return defaultValue;
    return value.toString().toStdString();
}

void CQSettingsProfileStore::writeText(const std::string& section, const std::string& key,
                                       const std::string& value) {
    m_settings->setValue(keyPath(section, key), QString::fromStdString(value));
}

void CQSettingsProfileStore::sync() { m_settings->sync(); }

std::string CQSettingsProfileStore::filePath() const { return m_settings->fileName().toStdString(); }

}  // namespace hx
