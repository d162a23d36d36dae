// tvx-hashlist INPUT OUTPUT: writes the Md4HashList of INPUT (the MD4 of every
// 1 MiB chunk, then the MD4 of those digests) to OUTPUT, the hash file the
// update server keeps next to each archive.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "util/MD4.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: tvx-hashlist INPUT OUTPUT\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "tvx-hashlist: cannot read %s\n", argv[1]);
        return 1;
    }
    const std::vector<char> body((std::istreambuf_iterator<char>(in)),
                                 std::istreambuf_iterator<char>());
    if (in.bad()) {
        std::fprintf(stderr, "tvx-hashlist: cannot read %s\n", argv[1]);
        return 1;
    }
    const std::vector<uint8_t> list = Md4HashList(body.data(), static_cast<int64_t>(body.size()));
    const std::string part = std::string(argv[2]) + ".part";
    std::ofstream out(part, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(list.data()),
              static_cast<std::streamsize>(list.size()));
    out.close();
    if (!out || std::rename(part.c_str(), argv[2]) != 0) {
        std::remove(part.c_str());
        std::fprintf(stderr, "tvx-hashlist: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
