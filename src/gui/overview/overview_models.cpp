#include "overview_models.h"

#include "overview_text.h"

#include <chrono>

namespace korvante {

namespace {

QString timeText(overview::CameraTime time, bool tenths = false)
{
    return QString::fromStdString(overview::cameraTimeText(time, tenths));
}

// The end of a trip on the day it started shows its time alone.
QString endText(const overview::Trip &trip)
{
    const QString start = timeText(trip.start);
    const QString end = timeText(trip.end);
    return start.left(10) == end.left(10) ? end.mid(11) : end;
}

QVariant alignmentOf(bool number)
{
    return QVariant::fromValue(Qt::Alignment(number ? Qt::AlignRight | Qt::AlignVCenter
                                                    : Qt::AlignLeft | Qt::AlignVCenter));
}

} // namespace

void TripListModel::setTrips(std::shared_ptr<const overview::OverviewResult> result, std::vector<overview::Trip> trips)
{
    beginResetModel();
    m_result = std::move(result);
    m_trips = std::move(trips);
    endResetModel();
}

void TripListModel::setSpeedUnit(int unit)
{
    if (unit == m_unit)
        return;
    m_unit = unit;
    if (!m_trips.empty())
        emit dataChanged(index(0, Distance), index(rowCount() - 1, MaxSpeed));
}

int TripListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_trips.size());
}

int TripListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString TripListModel::text(const overview::Trip &trip, int row, int column) const
{
    switch (column) {
    case No:
        return QStringLiteral("%1").arg(row + 1, 2, 10, QLatin1Char('0'));
    case Start:
        return timeText(trip.start);
    case End:
        return endText(trip);
    case Duration:
        return overview_text::duration(std::chrono::duration_cast<std::chrono::milliseconds>(trip.duration()));
    case Distance:
        return overview_text::distance(trip.distanceM, m_unit);
    case MaxSpeed:
        return overview_text::speed(trip.maxSpeedKmh, m_unit);
    case PeakG:
        return overview_text::force(trip.peakG);
    case Recordings:
        return QString::number(trip.recordings.size());
    default:
        return {};
    }
}

QVariant TripListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const overview::Trip &trip = m_trips[static_cast<size_t>(index.row())];
    if (role == Qt::DisplayRole)
        return text(trip, index.row(), index.column());
    if (role == Qt::TextAlignmentRole)
        return alignmentOf(index.column() >= Duration);
    if (role == Qt::ToolTipRole && m_result && !trip.recordings.empty()) {
        const size_t first = trip.recordings.front();
        if (first < m_result->items.size())
            return QStringLiteral("Double-click to play %1").arg(QString::fromStdString(m_result->items[first].name));
    }
    return {};
}

QVariant TripListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::TextAlignmentRole)
        return alignmentOf(section >= Duration);
    if (role != Qt::DisplayRole)
        return {};
    static const char *const titles[ColumnCount] = {"NO.", "START", "END", "DURATION", "DISTANCE", "MAX SPEED", "PEAK G",
                                                    "REC."};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(titles[section]) : QVariant();
}

void IncidentListModel::setIncidents(std::shared_ptr<const overview::OverviewResult> result,
                                     std::vector<overview::Incident> incidents)
{
    beginResetModel();
    m_result = std::move(result);
    m_incidents = std::move(incidents);
    endResetModel();
}

void IncidentListModel::setSpeedUnit(int unit)
{
    if (unit == m_unit)
        return;
    m_unit = unit;
    if (!m_incidents.empty())
        emit dataChanged(index(0, SpeedBefore), index(rowCount() - 1, SpeedBefore));
}

int IncidentListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_incidents.size());
}

int IncidentListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString IncidentListModel::text(const overview::Incident &incident, int row, int column) const
{
    switch (column) {
    case No:
        return QStringLiteral("%1").arg(row + 1, 3, 10, QLatin1Char('0'));
    case Time:
        return timeText(incident.at, true);
    case Force:
        return overview_text::force(incident.g);
    case Recording:
        if (m_result && incident.recording < m_result->items.size())
            return QString::fromStdString(m_result->items[incident.recording].name);
        return {};
    case SpeedBefore:
        return overview_text::speed(incident.speedBeforeKmh, m_unit);
    default:
        return {};
    }
}

QVariant IncidentListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const overview::Incident &incident = m_incidents[static_cast<size_t>(index.row())];
    if (role == Qt::DisplayRole)
        return text(incident, index.row(), index.column());
    if (role == Qt::TextAlignmentRole)
        return alignmentOf(index.column() == Force || index.column() == SpeedBefore);
    if (role == Qt::ToolTipRole)
        return QStringLiteral("%1 s into %2; double-click to play from 5 s before")
            .arg(incident.offsetMs / 1000.0, 0, 'f', 1)
            .arg(text(incident, index.row(), Recording));
    return {};
}

QVariant IncidentListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::TextAlignmentRole)
        return alignmentOf(section == Force || section == SpeedBefore);
    if (role != Qt::DisplayRole)
        return {};
    static const char *const titles[ColumnCount] = {"NO.", "CAMERA TIME", "FORCE", "RECORDING", "SPEED BEFORE"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(titles[section]) : QVariant();
}

} // namespace korvante
