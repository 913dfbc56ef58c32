#pragma once
// Window tests: the main window on the port of the whole program, run in
// virtual time against simulated units. The Animal ID dialog that the program
// opens after connecting takes the unit's block and is cancelled, unless a
// test clears answerAnimal and answers it itself.

#include <gtest/gtest.h>

#include <memory>

#include "GuiTestSupport.h"
#include "control/ControlRig.h"
#include "gui/CMainFrame.h"
#include "gui/dialogs/CAnimalIdDialog.h"

namespace hx::test {

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ensureApplication();
        frame = std::make_unique<CMainFrame>(rig.loop);
        rig.ports.ui = &frame->uiPort();
    }
    void TearDown() override {
        rig.stop();  // the shell's shut-down still talks to the window
        frame.reset();
    }
    // Starts the program (units added before) and shows the window at that size.
    void startWindow(int width, int height) {
        rig.start();
        frame->attach(rig.doc(), rig.controller());
        frame->resize(width, height);
        frame->show();
    }

    // First member: the answerer's timer below needs the application, also
    // when this test runs alone.
    const bool applicationReady = (ensureApplication(), true);
    ControlRig rig;
    std::unique_ptr<CMainFrame> frame;
    bool answerAnimal = true;
    ModalAnswerer<CAnimalIdDialog> animalAnswer{[this](CAnimalIdDialog& dialog) {
        if (!answerAnimal) return;
        rig.runFor(500);
        dialog.reject();
    }};
};

}  // namespace hx::test
