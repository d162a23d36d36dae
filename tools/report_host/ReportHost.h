#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "ReportHostConnection.h"

struct ReportHostOptions {
    std::string address = "127.0.0.1";
    uint16_t port = 54547;
    std::string outPath = "reports.jsonl";
    // Descriptor that gets "listening <port>\n" and is closed once the host
    // accepts connections; -1 for none.
    int readyFd = -1;
};

// The report host: accepts agent connections on one address, records every
// report record as one JSON line {"job_name":..,"url":..,"bytes":..} appended
// to the output file, and answers each report message. A connection that sends
// anything malformed is dropped; the others go on. SIGTERM and SIGINT end Run.
class ReportHost {
  public:
    explicit ReportHost(ReportHostOptions options);
    ~ReportHost();
    ReportHost(const ReportHost&) = delete;
    ReportHost& operator=(const ReportHost&) = delete;

    // Opens the output file, listens and announces the port. False with a
    // message when any of that fails. Blocks SIGTERM and SIGINT for the calling
    // thread: they are taken as events of the loop instead.
    bool Start(std::string& error);
    uint16_t Port() const { return port_; }
    // Serves until SIGTERM or SIGINT; 0 then, 1 when the loop itself failed.
    int Run();

  private:
    void AcceptAll();
    void Serve(int fd, uint32_t events);
    void Drop(int fd, const std::string& reason);
    bool WriteRecord(const ReportRecord& record);
    void Announce() const;

    ReportHostOptions options_;
    uint16_t port_ = 0;
    int epoll_ = -1;
    int listen_ = -1;
    int signal_ = -1;
    int out_ = -1;
    // Accepting is paused while the process has no descriptor left.
    bool acceptPaused_ = false;
    std::unordered_map<int, std::unique_ptr<ReportHostConnection>> connections_;
};
