// Fuzzes the framed-message dispatcher the way a connection feeds it: the
// received bytes are appended to a buffer, the dispatcher parses it, and what
// it consumed leaves the front. The same stream is delivered whole, one byte
// at a time, in pieces of arbitrary sizes and (when short) split in two at
// every byte; each delivery must dispatch the same messages to the same
// handlers and end the same way, and no handler may see a byte outside the
// buffer.
//
// Input: byte 0 chooses the handlers (bit 0: a raw handler, which switches the
// stream to raw mode; bits 1-2: how many typed handlers), byte 1 the raw
// handler's message size, then four bytes (category, command) per typed
// handler; the rest is the stream, length fields and all.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ostra/norvikqos/stack/nwCStreamDispatcher.h"

namespace {

void Check(bool ok) {
    if (!ok)
        __builtin_trap();
}

// A typed handler's payload starting with this byte stops the dispatcher, as
// a handler does whose connection closes under it.
constexpr uint8_t kStopByte = 'S';
// A raw message starting with these fails, or claims more than it was given.
constexpr uint8_t kRawError = 0xFF;
constexpr uint8_t kRawOverclaim = 0xFE;

struct Run {
    nwCStreamDispatcher dispatcher;
    std::string log;                 // what the handlers were given, in order
    const uint8_t* begin = nullptr;  // the buffer being parsed
    const uint8_t* end = nullptr;
    uint32_t rawSize = 1;
    bool failed = false;
};

struct TypedContext {
    Run* run;
    int index;
};

void OnTyped(const uint8_t* payload, uint32_t length, void* context) {
    auto* typed = static_cast<TypedContext*>(context);
    Run& run = *typed->run;
    Check(length <= nwStreamFrame::kMaxPayloadLength);
    Check(payload >= run.begin + nwStreamFrame::kHeaderSize && payload <= run.end &&
          length <= static_cast<size_t>(run.end - payload));
    Check(run.dispatcher.Header().length == length);
    run.log += "T" + std::to_string(typed->index) + ":" + std::to_string(length) + ":";
    run.log.append(reinterpret_cast<const char*>(payload), length);
    if (length > 0 && payload[0] == kStopByte)
        run.dispatcher.Stop();
}

int32_t OnRaw(const uint8_t* data, uint32_t length, void* context) {
    Run& run = *static_cast<Run*>(context);
    // Everything not yet consumed, through the end of the buffer.
    Check(data >= run.begin && data < run.end && length == static_cast<size_t>(run.end - data));
    if (length < run.rawSize)
        return 0;
    if (data[0] == kRawError)
        return -1;
    if (data[0] == kRawOverclaim)
        return static_cast<int32_t>(length) + 1;
    run.log += "R:";
    run.log.append(reinterpret_cast<const char*>(data), run.rawSize);
    return static_cast<int32_t>(run.rawSize);
}

struct Config {
    bool raw = false;
    uint32_t rawSize = 1;
    std::vector<std::pair<uint16_t, uint16_t>> typed;
};

// Delivers the stream in the given pieces; returns the handlers' log with the
// ending: the error, or how many bytes were left over.
std::string Deliver(const Config& config, const uint8_t* stream, size_t size,
                    const std::vector<size_t>& pieces) {
    Run run;
    run.rawSize = config.rawSize;
    std::vector<TypedContext> contexts(config.typed.size());
    for (size_t i = 0; i < config.typed.size(); ++i) {
        contexts[i] = {&run, static_cast<int>(i)};
        run.dispatcher.RegisterHandler(config.typed[i].first, config.typed[i].second, &OnTyped,
                                       &contexts[i]);
    }
    if (config.raw)
        run.dispatcher.RegisterRawHandler(&OnRaw, &run);
    Check(run.dispatcher.IsRawMode() == config.raw);

    std::vector<uint8_t> buffer;
    size_t at = 0;
    for (const size_t piece : pieces) {
        buffer.insert(buffer.end(), stream + at, stream + at + piece);
        at += piece;
        if (buffer.empty())
            continue;
        // An exact-size copy, so that any read past the end is caught.
        std::vector<uint8_t> view(buffer);
        run.begin = view.data();
        run.end = view.data() + view.size();
        int32_t consumed = 0;
        Check(run.dispatcher.Parse(view.data(), static_cast<uint32_t>(view.size()), consumed) ==
              qv::kLayerOk);
        if (consumed < 0) {
            run.log += "|error";
            return run.log;
        }
        Check(static_cast<size_t>(consumed) <= view.size());
        buffer.erase(buffer.begin(), buffer.begin() + consumed);
    }
    Check(at == size);
    // Once stopped, nothing more is parsed.
    if (run.dispatcher.IsStopped() && !buffer.empty()) {
        int32_t consumed = -7;
        run.dispatcher.Parse(buffer.data(), static_cast<uint32_t>(buffer.size()), consumed);
        Check(consumed == 0);
    }
    run.log += "|left " + std::to_string(buffer.size());
    return run.log;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    Config config;
    config.raw = (data[0] & 1) != 0;
    config.rawSize = 1u + data[1] % 32;
    const size_t typedCount = (data[0] >> 1) & 3;
    size_t at = 2;
    for (size_t i = 0; i < typedCount && at + 4 <= size; ++i, at += 4)
        config.typed.push_back({static_cast<uint16_t>(data[at] | data[at + 1] << 8),
                                static_cast<uint16_t>(data[at + 2] | data[at + 3] << 8)});
    const uint8_t* stream = data + at;
    const size_t length = size - at;

    const std::string whole = Deliver(config, stream, length, {length});

    // Each delivery copies the buffer, so byte by byte is quadratic: kept to
    // streams where that stays fast.
    if (length <= 2048) {
        const std::vector<size_t> bytes(length, 1);
        Check(Deliver(config, stream, length, bytes) == whole);
    }

    uint32_t seed = static_cast<uint32_t>(size);
    for (size_t i = 0; i < size; ++i)
        seed = seed * 31 + data[i];
    std::vector<size_t> pieces;
    for (size_t left = length; left > 0;) {
        seed = seed * 1103515245u + 12345u;
        const size_t piece = std::min(left, static_cast<size_t>((seed >> 16) % 61));
        pieces.push_back(piece);  // empty pieces too: a read event with nothing new
        left -= piece;
    }
    Check(Deliver(config, stream, length, pieces) == whole);

    if (length <= 256) {
        for (size_t split = 1; split < length; ++split)
            Check(Deliver(config, stream, length, {split, length - split}) == whole);
    }
    return 0;
}
