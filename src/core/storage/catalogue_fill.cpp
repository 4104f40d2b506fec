// Filling a list view with the catalogue's recordings: by kind, all kinds (with
// the repair of unfinished files) and searches; and the rear-partner lookup.

#include "core/platform/log.h"
#include "core/recording/max_speed.h"
#include "core/storage/recording_catalogue.h"
#include "core/storage/recording_name.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <thread>
#include <unordered_map>
#include <vector>

namespace korvante {
namespace {

// Seconds from the front's time at which a rear file is looked for, in order.
constexpr int kPartnerOffsets[] = {0, 1, -1, 2, -2, 3, -3};

struct FileCloser {
    void operator()(std::FILE *f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::string rowNumber(int row)
{
    char text[16];
    std::snprintf(text, sizeof text, "%03d", row);
    return text;
}

// The candidate's path with its name's date and time fields replaced by
// `base` + `offsetSeconds`, counted on the calendar (the name's clock has no
// time zone). Only those two fields of the file name move: the same digits
// elsewhere in the name or in a folder stay as they are. Empty when the name's
// fields are not the texts `base` was read from.
std::string movedCandidate(const std::string &candidate, std::string_view dateText, std::string_view timeText,
                           const NameDateTime &base, int offsetSeconds)
{
    const std::optional<NameDateTime> moved = base.movedBy(offsetSeconds);
    if (!moved)
        return {};
    const size_t nameStart = candidate.size() - fileNameOf(candidate).size();
    const std::string_view name = std::string_view(candidate).substr(nameStart);
    if (nameField(name, 1) != dateText || nameField(name, 2) != timeText)
        return {};
    const std::string movedName = withDateTimeFields(name, *moved);
    if (movedName.empty())
        return {};
    return candidate.substr(0, nameStart) + movedName;
}

// Flags of every probe: reading only, and a named pipe must not stall the list.
constexpr int kProbeFlags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;

bool opensForReading(const std::string &path)
{
    const int fd = ::open(path.c_str(), kProbeFlags);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

} // namespace

// Descriptors of the folders that one fill opens files in: each file is then
// opened by its name alone instead of walking its whole path again. Lives for
// one fill on the calling thread.
class FolderHandles final {
public:
    FolderHandles() = default;
    ~FolderHandles()
    {
        for (const auto &[folder, fd] : m_folders)
            if (fd >= 0)
                ::close(fd);
    }
    FolderHandles(const FolderHandles &) = delete;
    FolderHandles &operator=(const FolderHandles &) = delete;

    // Opens `path` with `flags`; -1 when it cannot be opened.
    int open(const std::string &path, int flags)
    {
        const size_t slash = path.rfind('/');
        if (slash == std::string::npos)
            return ::open(path.c_str(), flags);
        auto it = m_folders.find(path.substr(0, slash + 1));
        if (it == m_folders.end()) {
            const std::string folder = path.substr(0, slash + 1);
            it = m_folders.emplace(folder, ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)).first;
        }
        if (it->second < 0)
            return ::open(path.c_str(), flags);
        return ::openat(it->second, path.c_str() + slash + 1, flags);
    }

    bool opensForReading(const std::string &path)
    {
        const int fd = open(path, kProbeFlags);
        if (fd < 0)
            return false;
        ::close(fd);
        return true;
    }

private:
    std::unordered_map<std::string, int> m_folders;
};

std::string RecordingCatalogue::rearCandidateOf(const std::string &frontPath)
{
    const size_t nameStart = frontPath.size() - fileNameOf(frontPath).size();
    return frontPath.substr(0, nameStart) + replaceAll(frontPath.substr(nameStart), "_F", "_R");
}

std::string RecordingCatalogue::findRearPartner(const std::string &frontPath, const std::string &dateText,
                                                const std::string &timeText, int offsetSeconds) const
{
    const NameDateTime base = dateTimeOfFields(dateText, timeText);
    if (!base.isValid())
        return "NULL";
    const std::string path = movedCandidate(frontPath, dateText, timeText, base, offsetSeconds);
    if (!path.empty() && opensForReading(path))
        return path;
    return "NULL";
}

int RecordingCatalogue::shownRowOf(const std::string &name, const std::string &path) const
{
    int byName = -1;
    int named = 0;
    for (int row = 0; row < shownCount(); ++row) {
        const RecordingEntry *entry = shownEntryAt(row);
        if (!entry || entry->name != name)
            continue;
        if (!path.empty() && (entry->isCardFile() ? cardPathOf(*entry) : entry->path) == path)
            return row;
        byName = row;
        ++named;
    }
    return named == 1 ? byName : -1;
}

const RecordingEntry *RecordingCatalogue::entryOf(const std::string &name, const std::string &path) const
{
    const RecordingEntry *byName = nullptr;
    int named = 0;
    for (const RecordingEntry &entry : m_entries) {
        if (entry.name != name)
            continue;
        if (!path.empty() && (entry.isCardFile() ? cardPathOf(entry) : entry.path) == path)
            return &entry;
        byName = &entry;
        ++named;
    }
    return named == 1 ? byName : nullptr;
}

std::string RecordingCatalogue::rearFileOf(const std::string &frontPath, const std::string &name) const
{
    if (!isTwoChannelName(name))
        return {};
    const std::string candidate = rearCandidateOf(frontPath);
    const std::string dateText(nameField(name, 1)), timeText(nameField(name, 2));
    for (int offset : {0, 1, -1, 2, -2, 3, -3}) {
        std::string rear = findRearPartner(candidate, dateText, timeText, offset);
        if (rear != "NULL")
            return rear;
    }
    return {};
}

void RecordingCatalogue::buildPartnerIndex()
{
    if (m_entryPathsBuilt)
        return;
    m_entryPaths.clear();
    m_entryPaths.reserve(m_entries.size());
    for (size_t i = 0; i < m_entries.size(); ++i)
        if (!m_entries[i].isCardFile())
            m_entryPaths.emplace(m_entries[i].path, i);
    m_entryPathsBuilt = true;
}

bool RecordingCatalogue::partnerExists(const std::string &candidate, FolderHandles *folders,
                                       const std::vector<unsigned char> *headers) const
{
    // The scan read every name of the candidate's folder: a candidate with an
    // accepted extension that it did not keep was not there. A name it kept is
    // confirmed by opening it, as it may have gone since, unless this fill has
    // just opened it to read its header.
    if (m_entryPathsBuilt && m_scanComplete) {
        const auto it = m_entryPaths.find(candidate);
        if (it == m_entryPaths.end()) {
            if (extensionAccepted(std::string(fileNameOf(candidate)).c_str()))
                return false;
        } else if (headers && it->second < headers->size()) {
            return (*headers)[it->second] != HeaderUnreadable;
        }
    }
    return folders ? folders->opensForReading(candidate) : opensForReading(candidate);
}

std::string RecordingCatalogue::channelsOf(const RecordingEntry &entry) const
{
    return channelsWith(entry, nullptr, nullptr);
}

std::string RecordingCatalogue::channelsWith(const RecordingEntry &entry, FolderHandles *folders,
                                             const std::vector<unsigned char> *headers) const
{
    if (!isTwoChannelName(entry.name))
        return "F";
    // A card recording carries both channels in its one file; there is no
    // partner to look for (and the working folder must not be consulted).
    if (entry.isCardFile())
        return "F/R";
    // A name whose date and time are no point in time has no partner.
    const NameDateTime base = dateTimeOfName(entry.name);
    if (!base.isValid())
        return "F";
    const std::string candidate = rearCandidateOf(entry.path);
    const std::string_view dateText = nameField(entry.name, 1);
    const std::string_view timeText = nameField(entry.name, 2);
    for (int offset : kPartnerOffsets) {
        const std::string path = movedCandidate(candidate, dateText, timeText, base, offset);
        if (!path.empty() && partnerExists(path, folders, headers))
            return "F/R";
    }
    return "F";
}

std::vector<unsigned char> RecordingCatalogue::readHeaders() const
{
    // Reading ten thousand headers is system-call bound: two workers, each with
    // its own folder handles, share the entries and are joined before this
    // returns, so nothing outlives the call.
    const size_t n = m_entries.size();
    std::vector<unsigned char> headers(n, HeaderIntact);
    auto check = [&](size_t from, size_t to) {
        FolderHandles folders;
        for (size_t i = from; i < to; ++i) {
            const RecordingEntry &entry = m_entries[i];
            if (entry.isCardFile()) // read through the card library, never the working folder
                continue;
            const int fd = folders.open(entry.path, kProbeFlags);
            if (fd < 0) {
                headers[i] = HeaderUnreadable;
                continue;
            }
            headers[i] = isIntactDescriptor(fd) ? HeaderIntact : HeaderUnfinished;
            ::close(fd);
        }
    };
    const size_t half = n / 2;
    if (n >= 256 && std::thread::hardware_concurrency() > 1) {
        std::thread worker(check, half, n);
        check(0, half);
        worker.join();
    } else {
        check(0, n);
    }
    return headers;
}

void RecordingCatalogue::repairUnfinished(const RecordingEntry &entry)
{
    std::string why;
    FilePtr file(openForRepair(entry.path, false, entry.device, entry.inode, why));
    if (!file) {
        // Listed as it is, and said: the user learns it stays unfinished.
        m_failedRepairs.push_back(entry.name + ": " + why);
        logWarning("unfinished recording not repaired: " + entry.path + ": " + why);
        return;
    }
    bool writeFailed = false;
    const RepairPlan plan = korvante::repair(file.get(), &writeFailed, &why);
    if (!writeFailed && std::fflush(file.get()) != 0) {
        writeFailed = true;
        why = std::strerror(errno);
    }
    if (writeFailed) {
        // Still unfinished (the header is written last): the next listing tries again.
        m_failedRepairs.push_back(entry.name + ": " + why);
        logError("repair of an unfinished recording failed to write: " + entry.path + ": " + why);
    } else if (plan.repairable) {
        m_repairedFiles.push_back(entry.path);
        logInfo("repaired unfinished recording " + entry.path + ": zeros from byte "
                + std::to_string(plan.zeroFillStart) + " to its end (" + std::to_string(plan.zeroFillLength)
                + " bytes), RIFF size " + std::to_string(plan.riffSize));
    }
}

int RecordingCatalogue::fill(ListView &view, FillMode mode, int kind, const SearchCriteria *criteria)
{
    const bool search = mode == FillMode::SearchKind || mode == FillMode::SearchAll;
    const bool byKind = mode == FillMode::Kind || mode == FillMode::SearchKind;
    if (!byKind && m_entries.empty())
        return 0;
    m_shownEntries.clear();
    m_failedRepairs.clear();
    m_repairedFiles.clear();
    buildPartnerIndex();
    FolderHandles folders;
    const std::vector<unsigned char> headers = mode == FillMode::All ? readHeaders() : std::vector<unsigned char>();
    const std::vector<unsigned char> *headerStates = mode == FillMode::All ? &headers : nullptr;
    view.setRedraw(false);
    view.deleteAllRows();
    view.setBusyCursor(true);

    int row = 0;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        const RecordingEntry &entry = m_entries[i];
        // A file that did not open is not intact either; opening it for writing
        // is tried all the same, and it is listed without repair when that fails.
        if (mode == FillMode::All && headers[i] != HeaderIntact)
            repairUnfinished(entry);
        const bool known = i < m_nameFacts.size();
        if (known ? m_nameFacts[i].rear : isRearName(entry.name))
            continue;
        const auto entryKind = known ? static_cast<RecordingKind>(m_nameFacts[i].kind) : kindOfName(entry.name);
        if (byKind && filterKindOf(entryKind) != kind)
            continue;

        const NameDateTime dt = dateTimeOfName(entry.name);
        std::string dateColumn = formatDate(dt.year, dt.month, dt.day);
        if (search) {
            // Searches read through the computer's file system: card files are
            // never found there.
            if (entry.isCardFile())
                continue;
            NameDateTime day = dt;
            day.hour = day.minute = day.second = 0;
            const std::optional<std::time_t> t = day.toLocalTime();
            if (!t || *t < criteria->start || *t > criteria->end)
                continue;
            FilePtr file(std::fopen(entry.path.c_str(), "rb"));
            if (!file)
                continue;
            std::setvbuf(file.get(), nullptr, _IONBF, 0);
            const std::optional<int32_t> speed = findMaxSpeed(file.get(), entry.sizeKiB);
            if (!speed)
                continue;
            const float value = static_cast<float>(*speed);
            if (value < criteria->minSpeed || value > kMaxPlausibleSpeedKmh)
                continue;
            std::tm tm{};
            const std::time_t when = *t;
            if (localtime_r(&when, &tm))
                dateColumn = formatDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
        }

        ++row;
        const int position = row - 1;
        view.insertRow(position, rowNumber(row));
        view.setColumnText(position, ColumnDate, dateColumn);
        view.setColumnText(position, ColumnTime, formatTime(dt.hour, dt.minute, dt.second));
        view.setColumnText(position, ColumnKind, kindText(entryKind));
        view.setColumnText(position, ColumnChannels, channelsWith(entry, &folders, headerStates));
        view.setColumnText(position, ColumnName, displayName(entry.name));
        m_shownEntries.push_back(i);
    }
    view.setRedraw(true);
    view.setBusyCursor(false);
    return row;
}

int RecordingCatalogue::listKind(int kind, ListView &view) { return fill(view, FillMode::Kind, kind, nullptr); }

int RecordingCatalogue::listAll(ListView &view) { return fill(view, FillMode::All, 0, nullptr); }

int RecordingCatalogue::listAllWithoutRepair(ListView &view)
{
    return fill(view, FillMode::AllWithoutRepair, 0, nullptr);
}

int RecordingCatalogue::searchKind(ListView &view, const SearchCriteria &criteria, int kind)
{
    return fill(view, FillMode::SearchKind, kind, &criteria);
}

int RecordingCatalogue::searchAll(ListView &view, const SearchCriteria &criteria)
{
    return fill(view, FillMode::SearchAll, 0, &criteria);
}

} // namespace korvante
