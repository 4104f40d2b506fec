#include "evidence.h"

#include "core/playback/card_device.h"
#include "core/storage/recording_name.h"

#include <QCryptographicHash>

#include <algorithm>
#include <vector>

namespace korvante {

namespace {

// Large enough that a fast disk is not slowed by the calls, small enough that
// progress and cancellation answer within a few milliseconds.
constexpr std::int64_t kBlockBytes = 1 << 20;

std::string recordedText(const std::string &name)
{
    const NameDateTime dt = dateTimeOfName(name);
    if (!dt.isValid())
        return {};
    return formatDate(dt.year, dt.month, dt.day) + " " + formatTime(dt.hour, dt.minute, dt.second);
}

EvidenceFile describe(const std::string &role, const std::string &path, std::intptr_t device,
                      std::int32_t fileId)
{
    EvidenceFile file;
    file.role = role;
    file.path = path;
    file.name = std::string(fileNameOf(path));
    file.device = device;
    file.fileId = fileId;
    if (device != 0)
        file.deviceHold = findSharedCardDevice(reinterpret_cast<const unsigned char *>(device));
    if (auto source = openEvidenceSource(file))
        file.size = source->size();
    file.recorded = recordedText(file.name);
    return file;
}

} // namespace

std::vector<EvidenceFile> describeEvidence(const std::string &front, const std::string &rear,
                                           std::intptr_t device, std::int32_t fileId, bool cardTwoChannels)
{
    std::vector<EvidenceFile> files;
    if (front.empty())
        return files;
    if (device != 0) {
        files.push_back(describe(cardTwoChannels ? "Front and rear" : "Front", front, device, fileId));
        return files;
    }
    files.push_back(describe("Front", front, 0, -1));
    if (!rear.empty() && rear != "1CH" && rear != "NULL")
        files.push_back(describe("Rear", rear, 0, -1));
    return files;
}

std::unique_ptr<ByteSource> openEvidenceSource(const EvidenceFile &file)
{
    if (file.device == 0)
        return openFileSource(file.path);
    return openCardSource(reinterpret_cast<unsigned char *>(file.device), file.fileId, file.path, file.deviceHold);
}

DigestResult sha256Of(ByteSource &source, const std::function<void(std::int64_t)> &progress,
                      const std::atomic<bool> *cancel)
{
    DigestResult result;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    std::vector<char> block(static_cast<size_t>(kBlockBytes));
    const std::int64_t size = source.size();
    std::int64_t offset = 0;
    while (offset < size) {
        if (cancel && cancel->load()) {
            result.error = "cancelled";
            return result;
        }
        const std::int64_t got = source.readAt(offset, block.data(), std::min(kBlockBytes, size - offset));
        if (got <= 0) {
            // A file that shrinks or fails while it is read has no digest:
            // a digest of part of it would prove nothing.
            result.error = got < 0 ? "cannot be read" : "shorter than its size";
            return result;
        }
        hash.addData(QByteArrayView(block.data(), static_cast<qsizetype>(got)));
        offset += got;
        if (progress)
            progress(offset);
    }
    result.sha256 = hash.result().toHex().toStdString();
    return result;
}

std::vector<DigestResult> hashEvidence(const std::vector<EvidenceFile> &files, const DigestProgress &progress,
                                       const std::atomic<bool> *cancel)
{
    std::int64_t total = 0;
    for (const EvidenceFile &file : files)
        total += std::max<std::int64_t>(file.size, 0);
    std::vector<DigestResult> results;
    std::int64_t before = 0;
    for (const EvidenceFile &file : files) {
        std::unique_ptr<ByteSource> source = openEvidenceSource(file);
        if (!source) {
            results.push_back({{}, "cannot be read"});
        } else {
            results.push_back(sha256Of(
                *source,
                [&](std::int64_t done) {
                    if (progress)
                        progress(before + done, total);
                },
                cancel));
        }
        before += std::max<std::int64_t>(file.size, 0);
    }
    return results;
}

} // namespace korvante
