#include "platform/QSettingsProfileStore.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryFile>
#include <cerrno>
#include <limits>

namespace hx {

namespace {

QString keyPath(const std::string& section, const std::string& key) {
    return QString::fromStdString(section) + QLatin1Char('/') + QString::fromStdString(key);
}

QString keyPath(const QString& section, const QString& key) {
    return section.isEmpty() || section == QLatin1String("General") ? key : section + QLatin1Char('/') + key;
}

// Where QSettings keeps the user's INI profile of organisation "Quarvel40K".
QString userProfilePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Quarvel40K/Halnor40KU.ini");
}

// A FIFO or a device would block or never end when read: only a regular file
// (or none yet) is a profile.
bool regularOrAbsent(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) return errno == ENOENT || errno == ENOTDIR;
    return S_ISREG(info.st_mode);
}

// A value whose quote does not close swallows every line after it.
bool quoteLeftOpen(const QString& value) {
    bool open = false;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == QLatin1Char('\\')) {
            ++i;
        } else if (value[i] == QLatin1Char('"')) {
            open = !open;
        }
    }
    return open;
}

}  // namespace

CQSettingsProfileStore::CQSettingsProfileStore() : m_path(userProfilePath()) {
    m_regularFile = regularOrAbsent(m_path);
    if (m_regularFile)
        m_settings = std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                                 QStringLiteral("Quarvel40K"), QStringLiteral("Halnor40KU"));
    if (m_settings) m_path = m_settings->fileName();
    checkReadable();
}

CQSettingsProfileStore::CQSettingsProfileStore(const std::string& iniFilePath)
    : m_path(QString::fromStdString(iniFilePath)) {
    m_regularFile = regularOrAbsent(m_path);
    if (m_regularFile) m_settings = std::make_unique<QSettings>(m_path, QSettings::IniFormat);
    checkReadable();
}

// Every key line of the file must have come through as a key with a value.
// Keys with characters that the file escapes are not compared.
void CQSettingsProfileStore::checkReadable() {
    if (!m_regularFile) {
        m_readCleanly = false;
        m_problem = "The profile " + filePath() +
                    " is not a regular file, so it is neither read nor written: the settings of this run "
                    "are not saved.";
        return;
    }
    // A file that is not there holds nothing to lose (its folder may not be
    // reachable, which the first save tells).
    bool clean = m_settings->status() == QSettings::NoError || !QFileInfo::exists(m_path);
    const QStringList parsed = m_settings->allKeys();
    for (const QString& key : parsed)
        if (!m_settings->value(key).isValid()) clean = false;
    QFile file(m_settings->fileName());
    if (clean && file.open(QIODevice::ReadOnly)) {
        static const QRegularExpression plainKey(QStringLiteral("^[A-Za-z0-9_ .-]+$"));
        QString section;
        while (clean && !file.atEnd()) {
            const QString line = QString::fromUtf8(file.readLine()).trimmed();
            if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
                continue;
            if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
                section = line.mid(1, line.size() - 2);
                continue;
            }
            const qsizetype equals = line.indexOf(QLatin1Char('='));
            if (equals <= 0) continue;
            if (quoteLeftOpen(line.mid(equals + 1))) clean = false;
            const QString key = line.left(equals).trimmed();
            if (!plainKey.match(key).hasMatch() ||
                !plainKey.match(section.isEmpty() ? key : section).hasMatch())
                continue;
            if (!parsed.contains(keyPath(section, key))) clean = false;
        }
    }
    m_readCleanly = clean;
    if (!clean) recover();
}

void CQSettingsProfileStore::recover() {
    int firstBad = 0;
    QString firstBadText;
    auto note = [&](int number, const QString& text) {
        if (number <= 0 || (firstBad != 0 && firstBad <= number)) return;
        firstBad = number;
        firstBadText = text.left(60);
    };
    // The file without its lines that swallow others, read as QSettings reads
    // it; then the keys whose values do not decode are left out too.
    QByteArray kept;
    std::map<QString, int> lineOfKey;
    QFile file(m_path);
    if (file.open(QIODevice::ReadOnly)) {
        QString section;
        int number = 0;
        while (!file.atEnd()) {
            QByteArray raw = file.readLine();
            ++number;
            const QString line = QString::fromUtf8(raw).trimmed();
            const qsizetype equals = line.indexOf(QLatin1Char('='));
            if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
                section = line.mid(1, line.size() - 2);
            } else if (equals > 0 && !line.startsWith(QLatin1Char(';')) &&
                       !line.startsWith(QLatin1Char('#'))) {
                if (quoteLeftOpen(line.mid(equals + 1))) {
                    note(number, line);
                    continue;
                }
                lineOfKey.emplace(keyPath(section, line.left(equals).trimmed()), number);
            }
            if (!raw.endsWith('\n')) raw += '\n';
            kept += raw;
        }
    }
    QTemporaryFile readable;
    if (readable.open() && readable.write(kept) == kept.size() && readable.flush()) {
        QSettings settings(readable.fileName(), QSettings::IniFormat);
        for (const QString& key : settings.allKeys()) {
            const QVariant value = settings.value(key);
            if (value.isValid()) {
                m_recovered[key] = value;
            } else if (auto line = lineOfKey.find(key); line != lineOfKey.end()) {
                note(line->second, key);
            }
        }
    }
    m_problem = "The profile " + filePath() + " cannot be read";
    if (firstBad > 0)
        m_problem += " at line " + std::to_string(firstBad) + " (" + firstBadText.toStdString() + ")";
    m_problem +=
        ". The settings that can be read are used; what is changed in this run is not saved while the file "
        "stays as it is.";
}

CQSettingsProfileStore::~CQSettingsProfileStore() = default;

QVariant CQSettingsProfileStore::valueOf(const QString& path) const {
    if (auto held = m_unsaved.find(path); held != m_unsaved.end()) return held->second;
    if (!m_readCleanly) {
        auto recovered = m_recovered.find(path);
        return recovered == m_recovered.end() ? QVariant() : recovered->second;
    }
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

bool CQSettingsProfileStore::sync() {
    if (!m_readCleanly) return true;  // held back on purpose, and said so
    m_settings->sync();
    return m_settings->status() != QSettings::AccessError;
}

std::string CQSettingsProfileStore::filePath() const {
    return (m_settings ? m_settings->fileName() : m_path).toStdString();
}

bool CQSettingsProfileStore::repair() {
    if (m_readCleanly) return true;
    if (!m_regularFile) return false;
    const QString path = m_settings->fileName();
    const QString copy = path + QStringLiteral(".damaged");
    QFile::remove(copy);
    if (!QFile::copy(path, copy)) return false;
    m_settings->clear();
    for (const auto& [key, value] : m_recovered) m_settings->setValue(key, value);
    for (const auto& [key, value] : m_unsaved) m_settings->setValue(key, value);
    m_settings->sync();
    if (m_settings->status() == QSettings::AccessError) return false;
    m_readCleanly = true;
    m_problem.clear();
    m_recovered.clear();
    m_unsaved.clear();
    return true;
}

std::string CQSettingsProfileStore::unwritableText() const {
    return "The profile " + filePath() +
           " cannot be written (its folder's permissions, a read-only or full disk): the settings of this "
           "run "
           "are not saved.";
}

bool CQSettingsProfileStore::writable() const {
    const QFileInfo info(QString::fromStdString(filePath()));
    if (!QDir().mkpath(info.absolutePath())) return false;
    const QByteArray target =
        QFile::encodeName(info.exists() ? info.absoluteFilePath() : info.absolutePath());
    return ::access(target.constData(), W_OK) == 0;
}

}  // namespace hx
