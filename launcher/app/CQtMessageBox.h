#pragma once

// Message boxes of the Qt window: QMessageBox, modal over an owner window or
// without one. A call from another thread (the installer thread) is carried
// over to the user-interface thread and waits there for the answer.

#include <QPointer>
#include <QWidget>

#include "launcher/core/IMessageBox.h"

namespace launcher {

class CQtMessageBox : public IMessageBox {
  public:
    // owner may be null: boxes without an owner window.
    explicit CQtMessageBox(QWidget* owner = nullptr) : owner_(owner) {}

    MessageAnswer Show(std::string_view caption, std::string_view text,
                       MessageButtons buttons) override;

  private:
    MessageAnswer ShowHere(const QString& caption, const QString& text, MessageButtons buttons,
                           QWidget* owner);

    QPointer<QWidget> owner_;
};

}  // namespace launcher
