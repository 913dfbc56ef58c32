#pragma once
// Widgets in tests: one offscreen QApplication for the whole test program
// (made on first use, destroyed after the last test, so the toolkit releases
// what it holds) and a measurement document over an in-memory profile.

#include <QApplication>
#include <QImage>
#include <memory>

#include "app/Application.h"
#include "data/Halnor55KUDoc.h"
#include "settings/ProfileStore.h"
#include "support/FakeMessagePort.h"
#include "support/TempDir.h"

namespace hx::test {

inline void ensureApplication() {
    static int argc = 1;
    static char name[] = "test_gui";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) new QApplication(argc, argv);
}

struct PaneDocument {
    PaneDocument() { ensureApplication(); }
    TempDir dir;
    CHalnor40KUApp app;
    CMemoryProfileStore store;
    FakeMessagePort port;
    CHalnor55KUDoc doc{app, store, port, dir.folder()};
};

// Pixels of one colour in a rectangle of a picture (logical = device pixels here).
inline int countColour(const QImage& image, const QRect& area, const QColor& colour) {
    int n = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (image.pixelColor(x, y) == colour) ++n;
    return n;
}

}  // namespace hx::test
