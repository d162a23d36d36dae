#include "library/update/EngineFileRecord.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "util/Sha256.h"

std::string EngineRecordPath(const std::string& enginePath) {
    return enginePath + ".sha256";
}

bool RecordEngineFile(const std::string& enginePath) {
    const std::optional<FileHash> hash = HashFile(enginePath);
    const std::string path = EngineRecordPath(enginePath);
    if (!hash) {
        std::remove(path.c_str());
        return false;
    }
    const std::string temp = path + ".new";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out || !(out << Sha256Hex(hash->digest) << ' ' << hash->size << '\n') || !out.flush())
            return false;
    }
    return std::rename(temp.c_str(), path.c_str()) == 0;
}

bool EngineFileMatchesRecord(const std::string& enginePath) {
    std::ifstream in(EngineRecordPath(enginePath), std::ios::binary);
    const std::string text(std::istreambuf_iterator<char>(in), {});
    if (text.size() < 67 || text[64] != ' ' || text.back() != '\n')
        return false;
    const std::optional<Sha256Digest> digest = ParseSha256Hex(std::string_view(text).substr(0, 64));
    int64_t size = -1;
    const char* sizeEnd = text.data() + text.size() - 1;
    if (!digest || std::from_chars(text.data() + 65, sizeEnd, size).ptr != sizeEnd)
        return false;
    const std::optional<FileHash> hash = HashFile(enginePath);
    return hash && hash->size == size && hash->digest == *digest;
}
