#pragma once

// The QObject that receives the extension's D-Bus signals for a ShellExtension (the bus delivers
// signals to slots); only ShellExtension.cpp includes it.

#include "backends/gnome/ShellExtension.h"

#include <QObject>
#include <QString>

namespace quenlit::gnome {

class ShellExtension::Receiver final : public QObject {
    Q_OBJECT
  public:
    explicit Receiver(ShellExtension& owner) : owner_(owner) {}

  public Q_SLOTS:  // NOLINT(readability-redundant-access-specifiers): moc needs the slots marked
    void hotKey(const QString& name) { owner_.hotKeyPressed.emit(name.toStdString()); }
    void clipboard(bool ours, bool empty) { owner_.clipboardChanged.emit(ours, empty); }
    void focus(int pid) { owner_.focusChanged.emit(pid); }
    void started() { owner_.registerAgain(); }

  private:
    ShellExtension& owner_;
};

}  // namespace quenlit::gnome
