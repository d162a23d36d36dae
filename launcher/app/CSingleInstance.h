#pragma once

// One launcher per file list. The first launcher holds the lock file and
// listens on a local socket of the same name; a later one finds the lock
// held and asks, through the socket, that the first one's window come to the
// front.

#include <QLocalServer>
#include <QObject>
#include <functional>
#include <string>

#include "launcher/core/CInstanceLock.h"

namespace launcher {

class CSingleInstance : public QObject {
    Q_OBJECT
  public:
    // name: the single-instance name; runtimeFolder, a private folder of the
    // user's own, holds the lock file and the socket (with any other folder
    // the claim fails and the launcher goes on alone).
    CSingleInstance(const std::string& name, const std::string& runtimeFolder);

    // Takes the lock. When acquired, also listens for later launchers.
    LockResult Claim();

    // Called (on this thread) each time a later launcher asks for the window.
    void SetActivateHandler(std::function<void()> handler) { onActivate_ = std::move(handler); }

    // In a later launcher: asks the first one to activate its window, waiting
    // at most timeoutMs for it to take the request. False when nobody listens.
    bool AskFirstToActivate(int timeoutMs = 2000) const;

  private:
    void OnNewConnection();

    std::string lockPath_;
    std::string socketPath_;
    CInstanceLock lock_;
    QLocalServer server_;
    std::function<void()> onActivate_;
};

}  // namespace launcher
