#pragma once
// Widgets in tests: one offscreen QApplication for the whole test program
// (made on first use, destroyed after the last test, so the toolkit releases
// what it holds), a measurement document over an in-memory profile, and
// acting inside a modal dialog.

#include <QApplication>
#include <QImage>
#include <QTimer>
#include <functional>
#include <memory>
#include <type_traits>

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

// Runs action once a modal widget of type T shows (a dialog's or message
// box's event loop turns), with that widget.
template <class T = QWidget>
void whenModal(std::function<void(std::type_identity_t<T>*)> action) {
    auto* poll = new QTimer;
    poll->setInterval(1);
    QObject::connect(poll, &QTimer::timeout, [poll, action = std::move(action)] {
        T* shown = qobject_cast<T*>(QApplication::activeModalWidget());
        if (!shown) return;
        poll->stop();
        poll->deleteLater();
        action(shown);
    });
    poll->start();
}

// Answers every modal dialog of type T that opens while it lives: the window
// tests run the whole program, which opens dialogs by itself.
template <class T>
class ModalAnswerer {
  public:
    explicit ModalAnswerer(std::function<void(T&)> answer) : m_answer(std::move(answer)) {
        m_poll.setInterval(5);
        QObject::connect(&m_poll, &QTimer::timeout, [this] {
            T* shown = qobject_cast<T*>(QApplication::activeModalWidget());
            if (!shown || m_answering) return;
            m_answering = true;
            m_answer(*shown);
            m_answering = false;
        });
        m_poll.start();
    }

  private:
    QTimer m_poll;
    std::function<void(T&)> m_answer;
    bool m_answering = false;
};

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
