#include "platform/StandardPaths.h"

#include <QDir>
#include <QStandardPaths>

#include "app/LogChannel.h"

namespace hx::standardPaths {

namespace {

std::string withFinalSlash(const QString& folder) {
    std::string text = QDir::cleanPath(folder).toStdString();
    if (text.empty() || text.back() != '/') text += '/';
    return text;
}

}  // namespace

std::string documentsFolder() {
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QDir().mkpath(documents)) return withFinalSlash(documents);
    return withFinalSlash(QDir::homePath());
}

std::string runtimeFolder() {
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty()) return withFinalSlash(runtime);
    return hx::runtimeFolder();
}

}  // namespace hx::standardPaths
