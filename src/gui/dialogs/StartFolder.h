#pragma once
// Where the file and folder choosers open: a folder that exists. UI thread only.

#include <QDir>
#include <QFileInfo>
#include <QString>

namespace hx {

// wanted when it is a folder that exists, else the nearest of its parents
// that does, else the home folder.
inline QString existingFolder(const QString& wanted) {
    QString folder = wanted.isEmpty() ? QString() : QFileInfo(wanted).absoluteFilePath();
    while (!folder.isEmpty()) {
        if (QFileInfo(folder).isDir()) return folder;
        const QString parent = QFileInfo(folder).absolutePath();
        if (parent == folder) break;
        folder = parent;
    }
    return QDir::homePath();
}

}  // namespace hx
