// The main window through a whole download: the real library fetches the
// file list, the sizes, the skin and the files from nginx, and the window
// shows each stage. The test runs in a network namespace of its own, so that
// the library's other traffic (the engine's update check) stays inside it.
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QRegularExpression>
#include <QTest>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "QtTestApp.h"
#include "launcher/controls/CSkinButton.h"
#include "launcher/controls/CSkinProgress.h"
#include "launcher/controls/CSkinToolTip.h"
#include "launcher/controls/CTransparentStatic.h"
#include "launcher/core/DownloaderTexts.h"
#include "launcher/core/FolderPlaces.h"
#include "launcher/window/CTVXDownloaderDlg.h"
#include "platform/NetworkState.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"
#include "window/WindowTestSupport.h"

namespace {

using launcher::Control;

constexpr uint64_t kBigSize = 600000;
constexpr uint64_t kSmallSize = 1000;

// This thread, and every thread and process it starts from now on, in a
// network of its own with only loopback up. Once per process.
bool EnterPrivateNetwork(std::string& why) {
    static const std::string failure = [] {
        if (::unshare(CLONE_NEWNET) != 0)
            return std::string("unshare: ") + std::strerror(errno);
        const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ifreq request{};
        std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
        const bool up = s >= 0 && ::ioctl(s, SIOCGIFFLAGS, &request) == 0 &&
                        (request.ifr_flags |= IFF_UP, ::ioctl(s, SIOCSIFFLAGS, &request) == 0);
        if (s >= 0)
            ::close(s);
        return up ? std::string() : std::string("loopback cannot be brought up");
    }();
    why = failure;
    return failure.empty();
}

QString LabelText(const launcher::CTVXDownloaderDlg& window, Control control) {
    return window.Label(control)->text();
}

TEST(WindowFlowTest, DownloadShowsReadyProgressAndCompletion) {
    std::string why;
    ASSERT_TRUE(EnterPrivateNetwork(why)) << "needs a network namespace of its own: " << why;
    tvxtest::EnsureQtApp();
    // Only loopback is up here; the download must not wait for a network.
    platform::SetInternetProbe([] { return true; });

    tvxtest::NginxServer nginx({"location /files/ { limit_rate 200k; }"});
    ASSERT_TRUE(nginx.Started()) << nginx.Error();
    tvxtest::TempDir dir("tvx-window-flow-");
    const std::string package = windowtest::MakeSkinPackage(dir.Path() + "maker", {}, why);
    ASSERT_FALSE(package.empty()) << why;
    ASSERT_TRUE(nginx.WriteFile("fullinst/img.zip", package));
    ASSERT_TRUE(nginx.WritePatternFile("files/big.bin", kBigSize));
    ASSERT_TRUE(nginx.WritePatternFile("files/small.bin", kSmallSize, 2));
    ASSERT_TRUE(nginx.WriteFile(
        "fullinst/filelist.txt",
        nginx.HttpUrl("/files/big.bin") + "\r\n" + nginx.HttpUrl("/files/small.bin") + "\n"));

    launcher::DownloaderConfig config;
    config.fileListUrl = nginx.HttpUrl("/fullinst/filelist.txt");
    config.publisherKey.clear();  // the window's flow, with unsigned content
    config.skinUrl = nginx.HttpUrl("/fullinst/img.zip");
    config.gameId = "halvard2";
    config.gameTitle = "Halvard2";
    config.folderName = "halvard2";
    config.downloadMode = "1";  // direct: no engine in this namespace
    config.tempFolder = dir.Path() + "temp/";

    windowtest::ScriptedBoxes boxes;
    launcher::CTVXDownloaderDlg window(config, &boxes);

    // At completion the window is drawn while the question waits, as a
    // box's own loop would draw it; then "not now".
    bool askedToRun = false;
    QString percentAtEnd;
    bool runEnabledAtEnd = false;
    boxes.On(launcher::text::kCompleteQuestion, [&](const windowtest::ShownBox&) {
        QCoreApplication::processEvents();
        askedToRun = true;
        percentAtEnd = LabelText(window, Control::Percent);
        runEnabledAtEnd = window.Button(Control::Run)->isEnabled();
        tvxtest::SaveScreenshot(window, "window-complete");
        return launcher::MessageAnswer::kNo;
    });

    window.Initialise();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.geometry(), QRect(0, 0, 0, 0));
    EXPECT_EQ(window.windowTitle(), "Halvard2");
    EXPECT_FALSE(window.IsChecked(Control::HighSpeed));
    EXPECT_EQ(window.ToolTip().TipText().toStdString(), launcher::text::kHighSpeedHint);

    // Ready: the skin has arrived and the start button is there.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return window.isVisible() && window.Button(Control::Start)->isEnabled(); }, 30000))
        << boxes.Texts();
    QCoreApplication::processEvents();
    EXPECT_EQ(window.size(), QSize(640, 380));
    const QString folder = QString::fromStdString(launcher::DefaultDownloadFolderFor("halvard2"));
    const struct {
        Control control;
        QRect place;
        QString text;
    } ready[] = {
        {Control::CurrentFile, {112, 195, 100, 14}, "[1/2]big.bin"},
        {Control::ElapsedTime, {112, 213, 100, 14}, "00:00:00"},
        {Control::RemainingTime, {112, 231, 100, 14}, "00:00:00"},
        {Control::Total, {276, 195, 100, 14}, "586.91 KB"},  // 601000 bytes
        {Control::Received, {276, 213, 100, 14}, "0 Bytes"},
        {Control::Speed, {276, 231, 100, 14}, "0 Bytes/Sec"},
        {Control::Percent, {404, 249, 100, 14}, "0%"},
        {Control::Folder, {56, 302, 280, 14}, folder},
    };
    for (const auto& label : ready) {
        SCOPED_TRACE(static_cast<int>(label.control));
        EXPECT_EQ(window.Label(label.control)->geometry(), label.place);
        EXPECT_EQ(LabelText(window, label.control), label.text);
        EXPECT_TRUE(window.Label(label.control)->isVisible());
    }
    EXPECT_FALSE(window.Button(Control::Stop)->isEnabled());
    EXPECT_FALSE(window.Button(Control::Run)->isEnabled());
    EXPECT_TRUE(window.Button(Control::FolderButton)->isEnabled());
    tvxtest::SaveScreenshot(window, "window-ready");

    // Mid-download: the first progress of the slowed big file.
    QTest::mouseClick(window.Button(Control::Start), Qt::LeftButton);
    EXPECT_TRUE(window.Button(Control::Stop)->isEnabled());
    EXPECT_FALSE(window.Button(Control::Start)->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const QString percent = LabelText(window, Control::Percent);
            return percent != "0%" && percent != "100%" && !percent.isEmpty();
        },
        30000))
        << boxes.Texts();
    QCoreApplication::processEvents();
    const QRegularExpression size(R"(^\d+(\.\d\d)? (Bytes|KB|MB)$)");
    const QRegularExpression speed(R"(^\d+(\.\d\d)? (Bytes|KB|MB)/Sec$)");
    const QRegularExpression time(R"(^\d\d:\d\d:\d\d$)");
    EXPECT_TRUE(size.match(LabelText(window, Control::Received)).hasMatch())
        << LabelText(window, Control::Received).toStdString();
    EXPECT_TRUE(speed.match(LabelText(window, Control::Speed)).hasMatch())
        << LabelText(window, Control::Speed).toStdString();
    EXPECT_TRUE(time.match(LabelText(window, Control::ElapsedTime)).hasMatch());
    EXPECT_TRUE(time.match(LabelText(window, Control::RemainingTime)).hasMatch());
    EXPECT_GT(window.Progress().GetPos(), 0);
    EXPECT_LT(window.Progress().GetPos(), 100);
    tvxtest::SaveScreenshot(window, "window-downloading");

    // Completion: the question, the full bar, the run button.
    ASSERT_TRUE(QTest::qWaitFor([&] { return askedToRun; }, 30000)) << boxes.Texts();
    EXPECT_EQ(percentAtEnd, "100%");
    EXPECT_TRUE(runEnabledAtEnd);
    EXPECT_EQ(window.Progress().GetPos(), 100);
    EXPECT_FALSE(window.Button(Control::Start)->isEnabled());
    const std::string target = launcher::DefaultDownloadFolderFor("halvard2");
    EXPECT_EQ(std::filesystem::file_size(target + "big.bin"), kBigSize);
    EXPECT_EQ(std::filesystem::file_size(target + "small.bin"), kSmallSize);
    EXPECT_EQ(boxes.Shown().size(), 1u) << boxes.Texts();

    // Escape closes the finished window without a question.
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_TRUE(window.Ended());
    platform::SetInternetProbe(nullptr);
}

}  // namespace
