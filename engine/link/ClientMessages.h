#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the library sends the engine, as the engine reads it. Each reader takes
// one frame's payload and answers false when the payload does not hold the
// message's layout; the connection that sent it is then closed.
namespace engine::link {

enum class ClientCommand : uint16_t {
    JobMode = 0,
    JobKind = 1,
    StopJob = 3,
    EngineText = 12,
    JobValue = 13,
    JobList = 14,  // category 258
    JobFlag = 17,
    ResumeAnswer = 18,
    JobListBegin = 19,
    JobFile = 20,
    JobListEnd = 21,
    Command22 = 22,
};

struct ListedFile {
    uint8_t optionA = 0;
    uint8_t optionB = 0;
    int64_t size = -1;
    std::string folder;
    std::string name;
    std::string url;  // mirrors separated by "|"
};

struct ListHeader {
    uint32_t serial = 0;
    uint32_t fileCount = 0;
    std::string jobName;
};

struct JobListMessage {
    ListHeader header;
    std::vector<ListedFile> files;
};

struct JobFileMessage {
    uint32_t serial = 0;
    uint32_t index = 0;
    ListedFile file;
};

struct JobKeyMessage {
    uint32_t serial = 0;
    uint32_t engineKey = 0;
};

struct ResumeAnswerMessage {
    uint32_t engineKey = 0;
    uint32_t serial = 0;
    uint8_t answer = 0;
    uint8_t second = 0;
};

bool ReadJobMode(const uint8_t* p, std::size_t n, uint8_t& mode);
bool ReadJobKind(const uint8_t* p, std::size_t n, std::string& kind);
bool ReadEngineText(const uint8_t* p, std::size_t n, std::string& text);
// The whole list; the file count must match the entries present.
bool ReadJobList(const uint8_t* p, std::size_t n, JobListMessage& out);
bool ReadListHeader(const uint8_t* p, std::size_t n, ListHeader& out);
bool ReadJobFile(const uint8_t* p, std::size_t n, JobFileMessage& out);
bool ReadSerial(const uint8_t* p, std::size_t n, uint32_t& serial);
bool ReadJobKey(const uint8_t* p, std::size_t n, JobKeyMessage& out);
bool ReadResumeAnswer(const uint8_t* p, std::size_t n, ResumeAnswerMessage& out);

}  // namespace engine::link
