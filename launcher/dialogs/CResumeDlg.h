#pragma once

// The question asked when the library finds a partly downloaded file:
// continue it ("예") or start it again ("아니오"). The answers are read after
// the dialog has ended; Enter and Escape end it with both left at 1.

#include <QDialog>
#include <QString>
#include <cstdint>

class QCheckBox;
class QLabel;
class QPushButton;

namespace launcher {

class CResumeDlg : public QDialog {
    Q_OBJECT

  public:
    // The first line names the game by its title.
    explicit CResumeDlg(const QString& gameTitle, QWidget* parent = nullptr);

    // 1 = continue the partial file, 0 = download it again.
    uint8_t Resume() const { return resume_; }
    // 1 = the answer holds for every file of the job.
    uint8_t ApplyToAll() const { return applyToAll_; }

    QString FirstLine() const;
    QString SecondLine() const;

  public slots:
    // The two buttons; each ends the dialog through its close request.
    void OnYes();
    void OnNo();

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void Finish();

    uint8_t resume_ = 1;
    uint8_t applyToAll_ = 1;
    QLabel* firstLine_ = nullptr;
    QLabel* secondLine_ = nullptr;
    QPushButton* yes_ = nullptr;
    QPushButton* no_ = nullptr;
    QCheckBox* allFiles_ = nullptr;
};

}  // namespace launcher
