#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/app/EngineLog.h"
#include "engine/jobs/EngineJob.h"
#include "engine/link/ClientMessages.h"
#include "engine/link/LinkConnection.h"
#include "engine/link/LinkServer.h"
#include "platform/EventLoop.h"

namespace engine::app {

struct EngineSettings {
    uint16_t port = 57006;
    // With no client and no job for this long the engine ends by itself.
    std::chrono::milliseconds idleLimit{60000};
};

// The engine: the link's listening socket and its clients, the jobs they hand
// over, and a once-a-second tick for progress, the network state and the
// idle end.
class Engine final : private link::ILinkConnectionHandler, private jobs::IJobHost {
  public:
    Engine(platform::EventLoop& loop, jobs::ITransferBackend& backend, EngineLog& log,
           EngineSettings settings);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Listens and starts the tick; false when the port cannot be had.
    bool Start();

  private:
    struct Client {
        uint64_t id = 0;
        std::unique_ptr<link::LinkConnection> connection;
        bool closed = false;
        // Settings that apply to the next job list from this client.
        uint8_t mode = 2;
        std::string kind;
        std::vector<uint32_t> flaggedSerials;
        std::optional<link::JobListMessage> pieces;
    };

    bool OnFrame(link::LinkConnection& connection, const wire::FrameHeader& header,
                 const uint8_t* payload) override;
    void OnConnectionClosed(link::LinkConnection& connection) override;
    void SendToClient(jobs::EngineJob& job, std::string frame) override;
    void OnJobEnded(jobs::EngineJob& job) override;
    void Log(std::string_view line) override;

    link::ILinkConnectionHandler& AsHandler() { return *this; }
    jobs::IJobHost& AsHost() { return *this; }
    void OnAccept(int fd);
    bool HandleClientFrame(Client& client, const wire::FrameHeader& header, const uint8_t* p);
    void StartJob(Client& client, link::JobListMessage list);
    jobs::EngineJob* FindJob(const Client& client, uint32_t serial, uint32_t key);
    Client* FindClient(const link::LinkConnection& connection);
    void Tick();
    void ScheduleSweep();
    void Sweep();

    platform::EventLoop& loop_;
    jobs::ITransferBackend& backend_;
    EngineLog& log_;
    const EngineSettings settings_;
    link::LinkServer server_;
    std::vector<std::unique_ptr<Client>> clients_;
    std::vector<std::unique_ptr<jobs::EngineJob>> jobs_;
    uint32_t nextKey_ = 1;
    uint64_t nextClientId_ = 1;
    bool networkUp_ = true;
    bool sweepPosted_ = false;
    std::chrono::steady_clock::time_point idleSince_;
};

}  // namespace engine::app
