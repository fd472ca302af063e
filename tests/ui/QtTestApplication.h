#pragma once

// One Qt application for the whole test program, on the offscreen platform (no display needed).
// A widgets application, so the tests that draw panels and those that only load icons can run in
// one process.

#include <QApplication>

#include <cstdlib>

namespace quenlit::testing {

inline void ensureQtApplication() {
    if (QCoreApplication::instance() != nullptr) return;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "ui_tests";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);  // lives as long as the test program
}

}  // namespace quenlit::testing
