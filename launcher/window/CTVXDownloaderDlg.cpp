#include "launcher/window/CTVXDownloaderDlg.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWheelEvent>
#include <algorithm>

#include "launcher/app/WindowActivation.h"
#include "launcher/controls/CSkinButton.h"
#include "launcher/controls/CSkinProgress.h"
#include "launcher/controls/CSkinToolTip.h"
#include "launcher/controls/CTransparentStatic.h"
#include "launcher/dialogs/CNowLoading.h"
#include "launcher/dialogs/CResumeDlg.h"

namespace launcher {
namespace {

// The quit request travels with the other posted messages, so it takes
// effect only after the handler that asked for it has returned.
constexpr uint32_t kQuitMessage = 0x0012;

constexpr int kTipMaxWidth = 350;
constexpr QRgb kNoticeText = 0xFFFFFF00;  // yellow

class PostedMessageEvent final : public QEvent {
  public:
    static QEvent::Type Kind() {
        static const auto kind = static_cast<QEvent::Type>(QEvent::registerEventType());
        return kind;
    }
    explicit PostedMessageEvent(const platform::PostedMessage& posted)
        : QEvent(Kind()), message(posted) {}

    const platform::PostedMessage message;
};

struct LabelPlace {
    Control control;
    QRect rect;
};
constexpr LabelPlace kLabelPlaces[] = {
    {Control::CurrentFile, {112, 195, 100, 14}},   {Control::ElapsedTime, {112, 213, 100, 14}},
    {Control::RemainingTime, {112, 231, 100, 14}}, {Control::Total, {276, 195, 100, 14}},
    {Control::Received, {276, 213, 100, 14}},      {Control::Speed, {276, 231, 100, 14}},
    {Control::Percent, {404, 249, 100, 14}},       {Control::Notice, {56, 256, 400, 14}},
    {Control::Folder, {56, 302, 280, 14}},
};
constexpr QRect kNoticeInstallPlace{53, 265, 400, 14};

// The picture buttons in the order they are skinned, with the stem of their
// picture names; a plain button keeps its caption and this size.
struct ButtonPlace {
    Control control;
    const char* stem;
    const char* caption;
    QRect plain;
};
constexpr ButtonPlace kButtonPlaces[] = {
    {Control::Start, "btn_start", "시작", {184, 332, 76, 24}},
    {Control::Stop, "btn_stop", "중지", {268, 332, 76, 24}},
    {Control::Run, "btn_run", "실행", {100, 332, 76, 24}},
    {Control::Close, "btn_close", "닫기", {352, 332, 76, 24}},
    {Control::FolderButton, "btn_folder", "폴더", {340, 294, 56, 20}},
};
constexpr QRect kHighSpeedPlace{13, 293, 16, 16};
constexpr QRect kProgressPlace{113, 250, 282, 10};
constexpr QRect kAgreementFrame{0, 380, 640, 140};
constexpr int kAgreementFrameWidth = 2;

// Asked for by name; where the face is not installed, NanumGothic carries
// the Korean text rather than whatever the system picks first.
QFont SkinFont(const char* face, int pixels, int weight) {
    QFont font;
    font.setFamilies({QString::fromUtf8(face), QStringLiteral("NanumGothic")});
    font.setPixelSize(pixels);
    font.setWeight(static_cast<QFont::Weight>(weight));
    font.setStyleHint(QFont::SansSerif);
    font.setFixedPitch(false);
    return font;
}

// A JPEG cannot keep a colour exact: the transparent magenta of a button
// picture comes back a few steps off, worst along the button's edge. Pixels
// this close to magenta are taken as magenta again, so that they let the
// background show instead of drawing a pink fringe.
constexpr int kKeyTolerance = 80;

QImage WithExactKey(const QImage& picture) {
    QImage image = picture.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = row[x];
            if (qRed(p) >= 255 - kKeyTolerance && qGreen(p) <= kKeyTolerance &&
                qBlue(p) >= 255 - kKeyTolerance)
                row[x] = CSkinButton::kMagenta;
        }
    }
    return image;
}

QString FromNarrow(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

MessageAnswer CTVXDownloaderDlg::WindowBoxes::Show(std::string_view caption, std::string_view text,
                                                   MessageButtons buttons) {
    return (window_.shown_ ? owned_ : free_).Show(caption, text, buttons);
}

CTVXDownloaderDlg::CTVXDownloaderDlg(DownloaderConfig config, IMessageBox* boxes,
                                     IFolderBrowser* browser)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint),
      ownBoxes_(std::make_unique<WindowBoxes>(*this)),
      boxes_(boxes ? boxes : ownBoxes_.get()),
      ownBrowser_(this),
      browser_(browser ? browser : &ownBrowser_),
      labelFont_(SkinFont("돋움", 12, 400)),
      noticeFont_(SkinFont("Verdana", 13, 700)),
      agreement_(*this),
      gameTitle_(config.gameTitle) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    CreateParts();
    controller_ = std::make_unique<CDownloaderController>(*this, std::move(config));
}

CTVXDownloaderDlg::~CTVXDownloaderDlg() {
    // The library and the installer thread end before anything they post
    // to goes away.
    controller_->OnDestroy();
}

void CTVXDownloaderDlg::CreateParts() {
    background_ = new QLabel(this);
    background_->hide();

    for (const LabelPlace& place : kLabelPlaces) {
        auto* label = new CTransparentStatic(this);
        label->setGeometry(place.rect);
        label->setWordWrap(false);
        labels_[place.control] = label;
    }
    // The notice is an opaque bar over the progress area: it stays hidden
    // until it has something to say.
    labels_[Control::Notice]->SetColors(QColor::fromRgb(kNoticeText), Qt::black);
    labels_[Control::Notice]->hide();

    for (const ButtonPlace& place : kButtonPlaces) {
        auto* button = new CSkinButton(this);
        button->setText(QString::fromUtf8(place.caption));
        button->setGeometry(place.plain);
        button->setFocusPolicy(Qt::TabFocus);
        buttons_[place.control] = button;
        connect(button, &QPushButton::clicked, this,
                [this, control = place.control] { controller_->OnCommand(control); });
    }
    auto* highSpeed = new CSkinButton(this);
    highSpeed->SetCheckBox(true);
    highSpeed->setGeometry(kHighSpeedPlace);
    highSpeed->hide();
    buttons_[Control::HighSpeed] = highSpeed;
    connect(highSpeed, &QPushButton::clicked, this,
            [this] { controller_->OnCommand(Control::HighSpeed); });

    progress_ = new CSkinProgress(this);
    progress_->setGeometry(kProgressPlace);
    toolTip_ = new CSkinToolTip(this);
}

void CTVXDownloaderDlg::Initialise() {
    if (initialised_)
        return;
    initialised_ = true;
    // Invisible until the skin sizes and centres it.
    setMinimumSize(0, 0);
    setGeometry(0, 0, 0, 0);
    controller_->OnInitialise();
}

int CTVXDownloaderDlg::Run() {
    // The window decides when the application ends: a message box closing
    // while the window is still invisible must not end it.
    const bool quitOnLastWindow = QGuiApplication::quitOnLastWindowClosed();
    QGuiApplication::setQuitOnLastWindowClosed(false);
    Initialise();
    if (!ended_)
        loop_.exec();
    controller_->OnDestroy();
    QGuiApplication::setQuitOnLastWindowClosed(quitOnLastWindow);
    return 0;
}

void CTVXDownloaderDlg::Activate() {
    // Before the skin there is no window to bring forward.
    if (shown_ && !ended_)
        RestoreAndRaise(*this);
}

void CTVXDownloaderDlg::Post(uint32_t message, uintptr_t wParam, uintptr_t lParam) {
    PostToSelf(message, wParam, lParam);
}

void CTVXDownloaderDlg::PostToSelf(uint32_t message, uintptr_t wParam, uintptr_t lParam) {
    // Qt takes the event over and delivers it on this window's thread.
    auto event =
        std::make_unique<PostedMessageEvent>(platform::PostedMessage{message, wParam, lParam});
    QCoreApplication::postEvent(this, event.release());
}

void CTVXDownloaderDlg::PostQuit() {
    PostToSelf(kQuitMessage, 0, 0);
}

bool CTVXDownloaderDlg::event(QEvent* event) {
    if (event->type() == PostedMessageEvent::Kind()) {
        const platform::PostedMessage& m = static_cast<PostedMessageEvent*>(event)->message;
        OnPosted(m.message, m.wParam, m.lParam);
        return true;
    }
    return QWidget::event(event);
}

void CTVXDownloaderDlg::OnPosted(uint32_t message, uintptr_t wParam, uintptr_t lParam) {
    if (message == kQuitMessage) {
        OnQuit();
        return;
    }
    // A closed window handles nothing more; shutdown follows.
    if (ended_)
        return;
    controller_->HandleMessage(message, wParam, lParam);
}

void CTVXDownloaderDlg::OnQuit() {
    quitRequested_ = true;
    if (waitDialog_)
        waitDialog_->done(QDialog::Accepted);
    End();
}

void CTVXDownloaderDlg::End() {
    ended_ = true;
    hide();
    loop_.quit();
}

void CTVXDownloaderDlg::CloseWindow() {
    End();
}

IMessageBox& CTVXDownloaderDlg::MessageBox() {
    return *boxes_;
}

IFolderBrowser& CTVXDownloaderDlg::FolderBrowser() {
    return *browser_;
}

void CTVXDownloaderDlg::SetTitle(std::string_view title) {
    setWindowTitle(FromNarrow(title));
}

QWidget* CTVXDownloaderDlg::Part(Control control) const {
    if (const auto it = labels_.find(control); it != labels_.end())
        return it->second;
    if (const auto it = buttons_.find(control); it != buttons_.end())
        return it->second;
    if (control == Control::Progress)
        return progress_;
    if (control == Control::Agreement)
        return &agreement_.CheckBox();
    return nullptr;
}

CTransparentStatic* CTVXDownloaderDlg::Label(Control control) const {
    const auto it = labels_.find(control);
    return it == labels_.end() ? nullptr : it->second;
}

CSkinButton* CTVXDownloaderDlg::Button(Control control) const {
    const auto it = buttons_.find(control);
    return it == buttons_.end() ? nullptr : it->second;
}

void CTVXDownloaderDlg::EnableControl(Control control, bool enabled) {
    if (QWidget* part = Part(control))
        part->setEnabled(enabled);
}

void CTVXDownloaderDlg::ShowControl(Control control, bool shown) {
    if (QWidget* part = Part(control))
        part->setVisible(shown);
}

void CTVXDownloaderDlg::SetChecked(Control control, bool checked) {
    if (control == Control::Agreement)
        agreement_.CheckBox().setChecked(checked);
    else if (CSkinButton* button = Button(control))
        button->SetCheck(checked ? 1 : 0);
}

bool CTVXDownloaderDlg::IsChecked(Control control) const {
    if (control == Control::Agreement)
        return agreement_.CheckBox().isChecked();
    const CSkinButton* button = Button(control);
    return button && button->GetCheck() != 0;
}

void CTVXDownloaderDlg::SetHint(Control control, std::string_view text) {
    toolTip_->SetMaxTipWidth(kTipMaxWidth);
    toolTip_->AddTool(Part(control), FromNarrow(text));
}

void CTVXDownloaderDlg::SetProgress(int percent) {
    progress_->SetPos(percent);
}

void CTVXDownloaderDlg::PlaceNoticeForInstall() {
    labels_[Control::Notice]->setGeometry(kNoticeInstallPlace);
}

void CTVXDownloaderDlg::Refresh(const DisplayStrings& strings) {
    const std::pair<Control, const std::string*> texts[] = {
        {Control::CurrentFile, &strings.currentFile},
        {Control::Received, &strings.received},
        {Control::Total, &strings.total},
        {Control::RemainingTime, &strings.remainingTime},
        {Control::ElapsedTime, &strings.elapsedTime},
        {Control::Speed, &strings.speed},
        {Control::Folder, &strings.folder},
        {Control::Percent, &strings.percent},
        {Control::Notice, &strings.notice},
    };
    for (const auto& [control, text] : texts)
        labels_[control]->SetText(FromNarrow(*text));
}

void CTVXDownloaderDlg::ApplySkin(const UnpackedSkin& skin) {
    images_.Load(skin.folder, skin.entries);

    if (const QImage* picture = images_.Lookup("bk_main.jpg")) {
        background_->setPixmap(QPixmap::fromImage(*picture));
        background_->setGeometry(0, 0, kWindowSize.width(), kWindowSize.height());
        background_->lower();
        background_->show();
    }

    setFixedSize(kWindowSize);
    agreement_.Layout(labelFont_);
    buttons_[Control::Run]->setEnabled(false);
    SkinButtons();
    SkinProgress();

    for (const LabelPlace& place : kLabelPlaces)
        labels_[place.control]->setFont(place.control == Control::Notice ? noticeFont_
                                                                         : labelFont_);

    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        QRect frame(QPoint(0, 0), kWindowSize);
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    shown_ = true;
    show();
    update();
}

void CTVXDownloaderDlg::SkinButtons() {
    for (const ButtonPlace& place : kButtonPlaces) {
        const std::string stem = place.stem;
        const QImage* pictures[] = {
            images_.Lookup(stem + ".jpg"),
            images_.Lookup(stem + "_mo.jpg"),
            images_.Lookup(stem + "_se.jpg"),
            images_.Lookup(stem + "_di.jpg"),
        };
        CSkinButton& button = *buttons_[place.control];
        button.move(place.plain.topLeft());
        if (std::find(std::begin(pictures), std::end(pictures), nullptr) != std::end(pictures))
            continue;  // any picture missing: the plain look, caption and all
        constexpr QRgb key = CSkinButton::kMagenta;
        if (button.SetBitmaps(WithExactKey(*pictures[0]), key, WithExactKey(*pictures[1]), key,
                              WithExactKey(*pictures[2]), key, WithExactKey(*pictures[3]),
                              key) != SkinButtonResult::Ok)
            continue;
        // The picture carries the caption.
        button.setText(QString());
        button.DrawTransparent();
        button.SizeToContent();
    }
}

void CTVXDownloaderDlg::SkinProgress() {
    const QImage* picture = images_.Lookup("progressbar.jpg");
    if (!picture)
        return;
    progress_->SetBitmap(QPixmap::fromImage(*picture));
    progress_->SetRange(0, 100);
    progress_->SetPos(0);
    progress_->SetTextFormat(QStringLiteral("%d%%"));
    progress_->SetBarFont(noticeFont_);
    progress_->setGeometry(kProgressPlace);
}

ResumeAnswer CTVXDownloaderDlg::RunResumeDialog() {
    CResumeDlg dialog(FromNarrow(gameTitle_), this);
    dialog.exec();
    return {dialog.Resume(), dialog.ApplyToAll()};
}

void CTVXDownloaderDlg::RunWaitDialog() {
    if (quitRequested_)
        return;
    CNowLoading dialog(this);
    waitDialog_ = &dialog;
    dialog.exec();
    waitDialog_ = nullptr;
}

void CTVXDownloaderDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor::fromRgb(kSurfaceColor));
    // The frame of the agreement panel; below the visible area like the
    // panel itself.
    const QRect outer = kAgreementFrame;
    const int w = kAgreementFrameWidth;
    painter.fillRect(QRect(outer.left(), outer.top(), outer.width(), w), Qt::black);
    painter.fillRect(QRect(outer.left(), outer.bottom() - w + 1, outer.width(), w), Qt::black);
    painter.fillRect(QRect(outer.left(), outer.top(), w, outer.height()), Qt::black);
    painter.fillRect(QRect(outer.right() - w + 1, outer.top(), w, outer.height()), Qt::black);
}

void CTVXDownloaderDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        if (!ended_)
            controller_->OnCommand(Control::Close);
        return;
    }
    QWidget::keyPressEvent(event);
}

void CTVXDownloaderDlg::closeEvent(QCloseEvent* event) {
    if (ended_) {
        event->accept();
        return;
    }
    // The controller decides; it closes the window itself when it agrees.
    event->ignore();
    controller_->OnCloseRequest();
}

void CTVXDownloaderDlg::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    dragging_ = true;
    dragPointer_ = event->globalPosition().toPoint();
    dragWindow_ = pos();
    grabMouse();
    event->accept();
}

void CTVXDownloaderDlg::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    move(dragWindow_ + (event->globalPosition().toPoint() - dragPointer_));
    event->accept();
}

void CTVXDownloaderDlg::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !dragging_) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    dragging_ = false;
    releaseMouse();
    event->accept();
}

void CTVXDownloaderDlg::wheelEvent(QWheelEvent* event) {
    agreement_.Wheel(event->angleDelta().y());
    event->accept();
}

void CTVXDownloaderDlg::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMaximized)) {
        // Restored instead: the window has one size only.
        QMetaObject::invokeMethod(
            this, [this] { setWindowState(windowState() & ~Qt::WindowMaximized); },
            Qt::QueuedConnection);
    }
    QWidget::changeEvent(event);
}

}  // namespace launcher
