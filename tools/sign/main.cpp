// tvx-sign: the publisher's side of the signed release metadata.
//
//   tvx-sign keygen --private FILE --public FILE
//   tvx-sign file-list --key FILE --list FILE --files DIR --version N
//                      (--expires UNIX-TIME | --valid-days DAYS) [--out FILE]
//   tvx-sign engine-update --key FILE --manifest FILE --files DIR --version N
//                      (--expires UNIX-TIME | --valid-days DAYS) [--out FILE]
//
// file-list binds the list's bytes and, for every URL line, the file named by
// the URL's last path segment in DIR; engine-update binds the manifest's bytes
// and every archive its url="..." attributes name, found the same way. The
// metadata goes to FILE.release beside the list or manifest unless --out says
// otherwise. The private key never leaves the publisher's machine; the public
// one is built into the downloader with -DTVX_PUBLISHER_KEY=FILE.

#include <sys/stat.h>

#include <charconv>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "util/Ed25519.h"
#include "util/ReleaseMetadata.h"
#include "util/Sha256.h"

namespace {

int Usage() {
    std::cerr << "usage: tvx-sign keygen --private FILE --public FILE\n"
                 "       tvx-sign file-list --key FILE --list FILE --files DIR --version N\n"
                 "                (--expires UNIX-TIME | --valid-days DAYS) [--out FILE]\n"
                 "       tvx-sign engine-update --key FILE --manifest FILE --files DIR --version N\n"
                 "                (--expires UNIX-TIME | --valid-days DAYS) [--out FILE]\n";
    return 2;
}

int Fail(const std::string& text) {
    std::cerr << "tvx-sign: " << text << "\n";
    return 1;
}

std::optional<std::string> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad())
        return std::nullopt;
    return text.str();
}

// Written beside, then renamed: a reader never sees half a file.
bool WriteAll(const std::string& path, const std::string& text, mode_t mode) {
    const std::string temp = path + ".new";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out)
            return false;
        out << text;
        if (!out.flush())
            return false;
    }
    return ::chmod(temp.c_str(), mode) == 0 && std::rename(temp.c_str(), path.c_str()) == 0;
}

// The name a URL's file is stored under: its last path segment, without query.
std::string FileNameOf(std::string url) {
    if (const size_t bar = url.find('|'); bar != std::string::npos)
        url.resize(bar);
    if (const size_t query = url.find_first_of("?#"); query != std::string::npos)
        url.resize(query);
    const size_t slash = url.rfind('/');
    return slash == std::string::npos ? url : url.substr(slash + 1);
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// The URL lines as the launcher reads them: trimmed, blank ones left out.
std::vector<std::string> ListUrls(const std::string& text) {
    std::vector<std::string> urls;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        size_t begin = 0, end = line.size();
        while (begin < end && IsBlank(line[begin]))
            ++begin;
        while (end > begin && IsBlank(line[end - 1]))
            --end;
        if (end > begin)
            urls.push_back(line.substr(begin, end - begin));
    }
    return urls;
}

std::string XmlUnescape(std::string text) {
    static const std::pair<const char*, char> kEntities[] = {
        {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}, {"&amp;", '&'}};
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        bool replaced = false;
        if (text[i] == '&') {
            for (const auto& [entity, c] : kEntities) {
                const std::string_view e(entity);
                if (text.compare(i, e.size(), e) == 0) {
                    out += c;
                    i += e.size() - 1;
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced)
            out += text[i];
    }
    return out;
}

// Every url="..." attribute of the manifest, in order, once each.
std::vector<std::string> ManifestUrls(const std::string& text) {
    std::vector<std::string> urls;
    const std::string key = "url=\"";
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
        if (at > 0 && !IsBlank(text[at - 1]))
            continue;
        const size_t end = text.find('"', at + key.size());
        if (end == std::string::npos)
            break;
        std::string url = XmlUnescape(text.substr(at + key.size(), end - at - key.size()));
        bool seen = false;
        for (const std::string& u : urls)
            seen = seen || u == url;
        if (!seen && !url.empty())
            urls.push_back(std::move(url));
    }
    return urls;
}

int Keygen(std::map<std::string, std::string>& options) {
    if (!options.count("--private") || !options.count("--public"))
        return Usage();
    const std::optional<Ed25519KeyPair> pair = GenerateEd25519KeyPair();
    if (!pair)
        return Fail("cannot make an Ed25519 key pair");
    if (!WriteAll(options["--private"], pair->privatePem, 0600))
        return Fail("cannot write " + options["--private"]);
    if (!WriteAll(options["--public"], pair->publicPem, 0644))
        return Fail("cannot write " + options["--public"]);
    std::cout << "key pair: private " << options["--private"] << ", public "
              << options["--public"] << "\n";
    return 0;
}

int Sign(ReleaseKind kind, std::map<std::string, std::string>& options) {
    const std::string documentOption = kind == ReleaseKind::kFileList ? "--list" : "--manifest";
    if (!options.count("--key") || !options.count(documentOption) || !options.count("--files") ||
        !options.count("--version") ||
        (options.count("--expires") == options.count("--valid-days")))
        return Usage();
    const std::optional<std::string> key = ReadAll(options["--key"]);
    if (!key || !Ed25519PublicPemOf(*key))
        return Fail("no Ed25519 private key in " + options["--key"]);
    const std::string documentPath = options[documentOption];
    const std::optional<std::string> document = ReadAll(documentPath);
    if (!document)
        return Fail("cannot read " + documentPath);

    ReleaseMetadata metadata;
    metadata.kind = kind;
    const std::string& version = options["--version"];
    if (std::from_chars(version.data(), version.data() + version.size(), metadata.version).ptr !=
            version.data() + version.size() || version.empty())
        return Fail("--version must be a whole number, not '" + version + "'");
    if (options.count("--expires")) {
        const std::string& text = options["--expires"];
        if (std::from_chars(text.data(), text.data() + text.size(), metadata.expires).ptr !=
                text.data() + text.size() || text.empty())
            return Fail("--expires must be a Unix time, not '" + text + "'");
    } else {
        int64_t days = 0;
        const std::string& text = options["--valid-days"];
        if (std::from_chars(text.data(), text.data() + text.size(), days).ptr !=
                text.data() + text.size() || days <= 0 || days > 36500)
            return Fail("--valid-days must be 1 to 36500, not '" + text + "'");
        metadata.expires = static_cast<int64_t>(std::time(nullptr)) + days * 86400;
    }
    metadata.subjectSha256 = CSha256::Of(*document);
    metadata.subjectSize = static_cast<int64_t>(document->size());

    const std::vector<std::string> names =
        kind == ReleaseKind::kFileList ? ListUrls(*document) : ManifestUrls(*document);
    if (names.empty())
        return Fail(documentPath + " names no files");
    for (const std::string& name : names) {
        if (name.find('\n') != std::string::npos)
            return Fail("a name holds a line break: " + name);
        const std::string path = options["--files"] + "/" + FileNameOf(name);
        const std::optional<FileHash> hash = HashFile(path);
        if (!hash)
            return Fail("cannot read " + path + " (for " + name + ")");
        if (metadata.Find(name))
            return Fail(documentPath + " names " + name + " twice");
        metadata.files.push_back(ReleaseFile{name, hash->size, hash->digest});
    }
    const std::string text = SignedReleaseText(metadata, *key);
    if (text.empty())
        return Fail("cannot sign with " + options["--key"]);
    const std::string out =
        options.count("--out") ? options["--out"] : documentPath + kReleaseMetadataSuffix;
    if (!WriteAll(out, text, 0644))
        return Fail("cannot write " + out);
    std::cout << "release metadata: version " << metadata.version << ", " << metadata.files.size()
              << " files, expires " << metadata.expires << ", in " << out << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return Usage();
    const std::string command = argv[1];
    std::map<std::string, std::string> options;
    for (int i = 2; i < argc; i += 2) {
        const std::string name = argv[i];
        if (name.rfind("--", 0) != 0 || i + 1 >= argc || options.count(name))
            return Usage();
        options[name] = argv[i + 1];
    }
    if (command == "keygen")
        return Keygen(options);
    if (command == "file-list")
        return Sign(ReleaseKind::kFileList, options);
    if (command == "engine-update")
        return Sign(ReleaseKind::kEngineUpdate, options);
    return Usage();
}
