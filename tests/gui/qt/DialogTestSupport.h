#pragma once
// Helpers of the dialog tests: one application object for the whole test
// program, and a way to act inside a modal dialog once it shows.

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace hx::test {

inline void ensureApplication() {
    if (QApplication::instance()) return;
    static int argc = 1;
    static char name[] = "test_dialogs";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

// Runs action once the event loop of a modal dialog (or message box) turns,
// with the active modal widget (null when none shows).
inline void whenModal(std::function<void(QWidget*)> action) {
    QTimer::singleShot(0, [action = std::move(action)] { action(QApplication::activeModalWidget()); });
}

}  // namespace hx::test
