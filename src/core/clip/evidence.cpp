#include "core/clip/evidence.h"

#include "core/playback/card_device.h"
#include "core/storage/recording_catalogue.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <vector>

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/sha.h>
}

namespace korvante::clip {
namespace {

constexpr std::int64_t kHashBlock = 1 << 20;

QString q(const std::string &text) { return QString::fromStdString(text); }
std::string s(const QJsonValue &value) { return value.toString().toStdString(); }

std::string folderOf(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool isPlainName(const std::string &name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// Where a file of `size` bytes hashes to `sha256`: Ok; a file that differs:
// Changed; nothing readable there: Missing.
FileState check(ByteSource *source, std::int64_t size, const std::string &sha256)
{
    if (!source)
        return FileState::Missing;
    if (source->size() != size)
        return FileState::Changed;
    const std::string digest = sha256Of(*source);
    if (digest.empty())
        return FileState::Missing;
    return digest == sha256 ? FileState::Ok : FileState::Changed;
}

FileState checkPlain(const std::string &path, std::int64_t size, const std::string &sha256)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return FileState::Missing;
    const std::unique_ptr<ByteSource> source = openFileSource(path);
    if (!source)
        return FileState::Changed; // there, but not a readable file
    return check(source.get(), size, sha256);
}

// The card file `path` ("/DIR/NAME") on the card `device`, through the card library.
FileState checkCard(const std::string &device, const std::string &path, std::int64_t size, const std::string &sha256)
{
    StorageSource card;
    if (device.empty() || !setText64(card.devicePath, device))
        return FileState::Missing;
    if (std::FILE *f = std::fopen(device.c_str(), "rb"))
        std::fclose(f);
    else
        return FileState::Missing;
    card.kind = SourceTavo;
    card.label = device;
    // The card folder the file was read from is the one scanned.
    const std::size_t slash = path.find('/', 1);
    if (path.size() < 2 || path[0] != '/' || slash == std::string::npos)
        return FileState::Missing;
    RecordingCatalogue catalogue;
    catalogue.addFolder(path.substr(1, slash - 1));
    catalogue.setSources({card});
    std::fflush(stdout);
    if (!catalogue.selectSource(0))
        return FileState::Missing;
    for (const RecordingEntry &entry : catalogue.entries()) {
        if (!entry.isCardFile() || catalogue.cardPathOf(entry) != path)
            continue;
        const auto source = openCardSource(catalogue.cardDevice(), entry.cardFileId, path,
                                           findSharedCardDevice(catalogue.cardDevice()));
        return source ? check(source.get(), size, sha256) : FileState::Changed;
    }
    return FileState::Missing;
}

FileState better(FileState a, FileState b)
{
    if (a == FileState::Ok || b == FileState::Ok)
        return FileState::Ok;
    if (a == FileState::Changed || b == FileState::Changed)
        return FileState::Changed;
    return FileState::Missing;
}

} // namespace

std::string sha256Of(ByteSource &source, const std::function<void(std::int64_t)> &progress,
                     const std::atomic<bool> *cancel)
{
    struct AVSHA *sha = av_sha_alloc();
    if (!sha || av_sha_init(sha, 256) < 0) {
        av_free(sha);
        return {};
    }
    std::vector<std::uint8_t> block(static_cast<std::size_t>(kHashBlock));
    const std::int64_t size = source.size();
    std::int64_t done = 0;
    bool ok = true;
    while (done < size) {
        if (cancel && cancel->load()) {
            ok = false;
            break;
        }
        const std::int64_t n = source.readAt(done, block.data(), std::min(kHashBlock, size - done));
        if (n <= 0) {
            ok = false;
            break;
        }
        av_sha_update(sha, block.data(), static_cast<unsigned>(n));
        done += n;
        if (progress)
            progress(done);
    }
    std::uint8_t digest[32];
    av_sha_final(sha, digest);
    av_free(sha);
    if (!ok)
        return {};
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t b : digest) {
        text += kHex[b >> 4];
        text += kHex[b & 15];
    }
    return text;
}

std::string evidenceJson(const Evidence &e)
{
    QJsonObject clip{{QStringLiteral("name"), q(e.clipName)},
                     {QStringLiteral("size"), static_cast<qint64>(e.clipSize)},
                     {QStringLiteral("sha256"), q(e.clipSha256)}};
    QJsonObject options{{QStringLiteral("layout"), q(e.layout)},
                        {QStringLiteral("overlay"), e.overlay},
                        {QStringLiteral("sound"), e.sound},
                        {QStringLiteral("quality"), q(e.quality)},
                        {QStringLiteral("speedUnit"), q(e.speedUnit)},
                        {QStringLiteral("videoBitRate"), static_cast<qint64>(e.videoBitRate)},
                        {QStringLiteral("encoder"), q(e.encoder)},
                        {QStringLiteral("width"), e.width},
                        {QStringLiteral("height"), e.height}};
    QJsonArray sources;
    for (const EvidenceSource &source : e.sources) {
        QJsonArray parts;
        for (const EvidencePart &p : source.parts)
            parts.append(QJsonObject{{QStringLiteral("fromMs"), static_cast<qint64>(p.fromMs)},
                                     {QStringLiteral("toMs"), static_cast<qint64>(p.toMs)}});
        QJsonObject o{{QStringLiteral("role"), q(source.role)},
                      {QStringLiteral("name"), q(source.name)},
                      {QStringLiteral("path"), q(source.path)},
                      {QStringLiteral("size"), static_cast<qint64>(source.size)},
                      {QStringLiteral("sha256"), q(source.sha256)},
                      {QStringLiteral("parts"), parts}};
        if (!source.card.empty())
            o.insert(QStringLiteral("card"), q(source.card));
        sources.append(o);
    }
    const QJsonObject root{{QStringLiteral("evidence"), QStringLiteral("clip")},
                           {QStringLiteral("version"), 1},
                           {QStringLiteral("program"), q(e.program)},
                           {QStringLiteral("clip"), clip},
                           {QStringLiteral("in"), q(e.in)},
                           {QStringLiteral("out"), q(e.out)},
                           {QStringLiteral("options"), options},
                           {QStringLiteral("sources"), sources}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented).toStdString();
}

std::optional<Evidence> parseEvidence(const std::string &json, std::string &error)
{
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(json), &parseError);
    if (doc.isNull() || !doc.isObject()) {
        error = "not JSON: " + parseError.errorString().toStdString();
        return std::nullopt;
    }
    const QJsonObject root = doc.object();
    if (root.value(QStringLiteral("evidence")).toString() != QStringLiteral("clip")
        || root.value(QStringLiteral("version")).toInt() != 1) {
        error = "not a clip's evidence file";
        return std::nullopt;
    }
    Evidence e;
    const QJsonObject clip = root.value(QStringLiteral("clip")).toObject();
    e.clipName = s(clip.value(QStringLiteral("name")));
    e.clipSize = clip.value(QStringLiteral("size")).toInteger(-1);
    e.clipSha256 = s(clip.value(QStringLiteral("sha256")));
    e.in = s(root.value(QStringLiteral("in")));
    e.out = s(root.value(QStringLiteral("out")));
    e.program = s(root.value(QStringLiteral("program")));
    const QJsonObject options = root.value(QStringLiteral("options")).toObject();
    e.layout = s(options.value(QStringLiteral("layout")));
    e.overlay = options.value(QStringLiteral("overlay")).toBool();
    e.sound = options.value(QStringLiteral("sound")).toBool();
    e.quality = s(options.value(QStringLiteral("quality")));
    e.speedUnit = s(options.value(QStringLiteral("speedUnit")));
    e.videoBitRate = options.value(QStringLiteral("videoBitRate")).toInteger();
    e.encoder = s(options.value(QStringLiteral("encoder")));
    e.width = options.value(QStringLiteral("width")).toInt();
    e.height = options.value(QStringLiteral("height")).toInt();
    for (const QJsonValue &v : root.value(QStringLiteral("sources")).toArray()) {
        const QJsonObject o = v.toObject();
        EvidenceSource source;
        source.role = s(o.value(QStringLiteral("role")));
        source.name = s(o.value(QStringLiteral("name")));
        source.path = s(o.value(QStringLiteral("path")));
        source.card = s(o.value(QStringLiteral("card")));
        source.size = o.value(QStringLiteral("size")).toInteger(-1);
        source.sha256 = s(o.value(QStringLiteral("sha256")));
        for (const QJsonValue &p : o.value(QStringLiteral("parts")).toArray())
            source.parts.push_back({p.toObject().value(QStringLiteral("fromMs")).toInteger(),
                                    p.toObject().value(QStringLiteral("toMs")).toInteger()});
        if (!isPlainName(source.name)) {
            error = "a source without a usable file name";
            return std::nullopt;
        }
        e.sources.push_back(std::move(source));
    }
    if (!isPlainName(e.clipName) || e.clipSha256.size() != 64) {
        error = "no clip named in it";
        return std::nullopt;
    }
    return e;
}

std::vector<VerifiedFile> verifyEvidence(const std::string &evidencePath, const Evidence &e,
                                         const std::string &sourcesFolder)
{
    const std::string beside = folderOf(evidencePath) + "/";
    std::vector<VerifiedFile> result;
    result.push_back({e.clipName, checkPlain(beside + e.clipName, e.clipSize, e.clipSha256)});

    std::vector<std::string> folders{beside};
    if (!sourcesFolder.empty()) {
        const std::string root = sourcesFolder.back() == '/' ? sourcesFolder : sourcesFolder + "/";
        folders.push_back(root);
        if (DIR *dir = ::opendir(root.c_str())) {
            std::vector<std::string> below;
            while (const dirent *entry = ::readdir(dir)) {
                const std::string name = entry->d_name;
                struct stat st {};
                if (name != "." && name != ".." && ::stat((root + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                    below.push_back(root + name + "/");
            }
            ::closedir(dir);
            std::sort(below.begin(), below.end());
            folders.insert(folders.end(), below.begin(), below.end());
        }
    }
    for (const EvidenceSource &source : e.sources) {
        FileState state = FileState::Missing;
        for (const std::string &folder : folders) {
            state = better(state, checkPlain(folder + source.name, source.size, source.sha256));
            if (state == FileState::Ok)
                break;
        }
        if (state != FileState::Ok && !source.path.empty())
            state = better(state, source.card.empty() ? checkPlain(source.path, source.size, source.sha256)
                                                      : checkCard(source.card, source.path, source.size,
                                                                  source.sha256));
        result.push_back({source.name, state});
    }
    return result;
}

} // namespace korvante::clip
