#include "engine/app/Engine.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "engine/link/EngineMessages.h"
#include "platform/NetworkState.h"
#include "platform/PeerOwner.h"

namespace engine::app {
namespace {

using link::ClientCommand;

bool Is(const wire::FrameHeader& h, ClientCommand command) {
    return h.command == static_cast<uint16_t>(command);
}

jobs::JobOrderFile ToJobFile(const link::ListedFile& f) {
    return jobs::JobOrderFile{f.size, f.folder, f.name, f.url};
}

}  // namespace

Engine::Engine(platform::EventLoop& loop, jobs::ITransferBackend& backend, EngineLog& log,
               EngineSettings settings)
    : loop_(loop), backend_(backend), log_(log), settings_(settings), server_(loop, [this](int fd) {
          OnAccept(fd);
      }) {}

Engine::~Engine() {
    // Jobs first: their transfers belong to the backend, their reports to clients.
    jobs_.clear();
    clients_.clear();
}

bool Engine::Start() {
    if (!server_.Listen(settings_.port)) {
        log_.Write("cannot listen on 127.0.0.1:" + std::to_string(settings_.port) + ": " +
                   std::strerror(errno));
        return false;
    }
    networkUp_ = platform::IsInternetConnected();
    idleSince_ = std::chrono::steady_clock::now();
    log_.Write("listening on 127.0.0.1:" + std::to_string(settings_.port) +
               (networkUp_ ? ", network up" : ", network down"));
    return loop_.StartTick(1000, [this] { Tick(); });
}

void Engine::OnAccept(int fd) {
    // Jobs write files with this user's rights and the resume question tells
    // what exists: only a program of the same user may hand jobs over. The
    // check comes before anything is read from or written to the socket.
    const std::optional<platform::UserId> owner = platform::LoopbackPeerOwner(fd);
    if (!owner || *owner != platform::CurrentUser()) {
        log_.Write(owner ? "refused a client of another user (uid " + std::to_string(*owner) + ")"
                         : std::string("refused a client whose user is unknown"));
        ::close(fd);
        return;
    }
    auto client = std::make_unique<Client>();
    client->id = nextClientId_++;
    client->connection = std::make_unique<link::LinkConnection>(loop_, fd, AsHandler());
    log_.Write("client connected");
    // A client that connects while the network is down hears of it at once.
    if (!networkUp_)
        client->connection->Send(link::BuildNetworkChange(false));
    clients_.push_back(std::move(client));
}

Engine::Client* Engine::FindClient(const link::LinkConnection& connection) {
    for (auto& c : clients_)
        if (c->connection.get() == &connection)
            return c.get();
    return nullptr;
}

bool Engine::OnFrame(link::LinkConnection& connection, const wire::FrameHeader& header,
                     const uint8_t* payload) {
    Client* client = FindClient(connection);
    if (!client)
        return false;
    const bool ok = HandleClientFrame(*client, header, payload);
    if (!ok)
        log_.Write("malformed message (category " + std::to_string(header.category) + ", command " +
                   std::to_string(header.command) + "): closing the client");
    return ok;
}

bool Engine::HandleClientFrame(Client& client, const wire::FrameHeader& header, const uint8_t* p) {
    const std::size_t n = header.length;
    if (header.category == wire::kCategoryJobList) {
        link::JobListMessage list;
        if (!Is(header, ClientCommand::JobList) || !link::ReadJobList(p, n, list))
            return false;
        StartJob(client, std::move(list));
        return true;
    }
    if (header.category != wire::kCategory)
        return false;
    switch (static_cast<ClientCommand>(header.command)) {
        case ClientCommand::JobMode:
            return link::ReadJobMode(p, n, client.mode);
        case ClientCommand::JobKind:
            return link::ReadJobKind(p, n, client.kind);
        case ClientCommand::EngineText: {
            std::string text;
            if (!link::ReadEngineText(p, n, text))
                return false;
            log_.Write("engine text: " + text);
            return true;
        }
        case ClientCommand::JobFlag: {
            uint32_t serial = 0;
            if (!link::ReadSerial(p, n, serial))
                return false;
            client.flaggedSerials.push_back(serial);
            return true;
        }
        case ClientCommand::JobValue:
        case ClientCommand::Command22:
            return true;  // nothing of the engine depends on them
        case ClientCommand::JobListBegin: {
            link::JobListMessage list;
            if (!link::ReadListHeader(p, n, list.header))
                return false;
            client.pieces = std::move(list);
            return true;
        }
        case ClientCommand::JobFile: {
            link::JobFileMessage file;
            if (!link::ReadJobFile(p, n, file) || !client.pieces ||
                file.serial != client.pieces->header.serial ||
                file.index != client.pieces->files.size() ||
                file.index >= client.pieces->header.fileCount)
                return false;
            client.pieces->files.push_back(std::move(file.file));
            return true;
        }
        case ClientCommand::JobListEnd: {
            uint32_t serial = 0;
            if (!link::ReadSerial(p, n, serial) || !client.pieces ||
                serial != client.pieces->header.serial ||
                client.pieces->files.size() != client.pieces->header.fileCount)
                return false;
            link::JobListMessage list = std::move(*client.pieces);
            client.pieces.reset();
            StartJob(client, std::move(list));
            return true;
        }
        case ClientCommand::StopJob: {
            link::JobKeyMessage stop;
            if (!link::ReadJobKey(p, n, stop))
                return false;
            if (jobs::EngineJob* job = FindJob(client, stop.serial, stop.engineKey))
                job->Stop();
            return true;
        }
        case ClientCommand::ResumeAnswer: {
            link::ResumeAnswerMessage answer;
            if (!link::ReadResumeAnswer(p, n, answer))
                return false;
            if (jobs::EngineJob* job = FindJob(client, answer.serial, answer.engineKey))
                job->Answer(answer.answer != 0);
            return true;
        }
        case ClientCommand::JobList:
            return false;  // only with category 258
    }
    return false;
}

jobs::EngineJob* Engine::FindJob(const Client& client, uint32_t serial, uint32_t key) {
    for (auto& job : jobs_) {
        // A stop can come before the client learned the key.
        if (job->ClientId() == client.id && job->Serial() == serial && !job->IsOver() &&
            (key == link::kNoKey || job->EngineKey() == key))
            return job.get();
    }
    return nullptr;
}

void Engine::StartJob(Client& client, link::JobListMessage list) {
    if (FindJob(client, list.header.serial, link::kNoKey)) {
        client.connection->Send(link::BuildJobError(list.header.serial, "job already running"));
        return;
    }
    jobs::JobOrder order;
    order.serial = list.header.serial;
    order.name = list.header.jobName;
    order.kind = client.kind;
    order.mode = client.mode;
    auto flagged =
        std::find(client.flaggedSerials.begin(), client.flaggedSerials.end(), order.serial);
    order.flag = flagged != client.flaggedSerials.end();
    if (order.flag)
        client.flaggedSerials.erase(flagged);
    for (const link::ListedFile& f : list.files)
        order.files.push_back(ToJobFile(f));
    client.mode = 2;
    client.kind.clear();
    jobs_.push_back(std::make_unique<jobs::EngineJob>(AsHost(), backend_, std::move(order),
                                                      nextKey_++, client.id));
    jobs_.back()->Start();
}

void Engine::OnConnectionClosed(link::LinkConnection& connection) {
    Client* client = FindClient(connection);
    if (!client)
        return;
    log_.Write("client closed");
    client->closed = true;
    // Jobs live only as long as the client that gave them; a client that
    // comes back hands them over again and they resume.
    for (auto& job : jobs_)
        if (job->ClientId() == client->id)
            job->Stop();
    ScheduleSweep();
}

void Engine::SendToClient(jobs::EngineJob& job, std::string frame) {
    for (auto& c : clients_)
        if (c->id == job.ClientId() && !c->closed)
            c->connection->Send(std::move(frame));
}

void Engine::OnJobEnded(jobs::EngineJob&) {
    ScheduleSweep();
}

void Engine::Log(std::string_view line) {
    log_.Write(line);
}

void Engine::ScheduleSweep() {
    if (sweepPosted_)
        return;
    sweepPosted_ = true;
    loop_.Post([this] { Sweep(); });
}

void Engine::Sweep() {
    sweepPosted_ = false;
    std::erase_if(jobs_, [](const auto& job) { return job->IsOver(); });
    std::erase_if(clients_, [](const auto& c) { return c->closed; });
}

void Engine::Tick() {
    for (auto& job : jobs_)
        job->Tick();

    const bool up = platform::IsInternetConnected();
    if (up != networkUp_) {
        networkUp_ = up;
        log_.Write(up ? "network up" : "network down");
        for (auto& c : clients_)
            if (!c->closed)
                c->connection->Send(link::BuildNetworkChange(up));
    }

    const auto now = std::chrono::steady_clock::now();
    if (!clients_.empty() || !jobs_.empty()) {
        idleSince_ = now;
    } else if (now - idleSince_ >= settings_.idleLimit) {
        log_.Write("idle: ending");
        loop_.Quit();
    }
}

}  // namespace engine::app
