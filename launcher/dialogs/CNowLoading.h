#pragma once

// The wait shown while the downloaded installer is checked and started: an
// animation over one line of text, on white, without caption or buttons. It
// ends when it is closed or when the quit request arrives.

#include <QDialog>
#include <QString>

class QLabel;

namespace launcher {

class CAnimatedPicture;

class CNowLoading : public QDialog {
    Q_OBJECT

  public:
    // gif is a file or a resource path; by default the built-in animation.
    explicit CNowLoading(QWidget* parent = nullptr, const QString& gif = QString());
    ~CNowLoading() override;

    QString Text() const;
    CAnimatedPicture& Picture() { return *picture_; }

    // Ends the dialog from any thread: the request is queued to the dialog's
    // own thread.
    void PostQuit();

  public slots:
    void done(int result) override;

  protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    QString gif_;
    CAnimatedPicture* picture_ = nullptr;
    QLabel* text_ = nullptr;
};

}  // namespace launcher
