#pragma once
// The overview panel's two lists as item models over one overview result:
// the source's trips in camera-time order and its incidents strongest first.
// The models hold the result (shared, never changed) and the trips and
// incidents built from it; the panel sets them anew when either changes.
//
// UI thread only.

#include "core/overview/card_overview.h"
#include "core/overview/source_overview.h"

#include <QAbstractTableModel>

#include <memory>
#include <vector>

namespace korvante {

class TripListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { No, Start, End, Duration, Distance, MaxSpeed, PeakG, Recordings, ColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    void setTrips(std::shared_ptr<const overview::OverviewResult> result, std::vector<overview::Trip> trips);
    // 0 km/h, 1 mph, 2 knots: distances and speeds are written in it.
    void setSpeedUnit(int unit);
    const std::vector<overview::Trip> &trips() const { return m_trips; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QString text(const overview::Trip &trip, int row, int column) const;

    std::shared_ptr<const overview::OverviewResult> m_result;
    std::vector<overview::Trip> m_trips;
    int m_unit = 0;
};

class IncidentListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { No, Time, Force, Recording, SpeedBefore, ColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    // `incidents` strongest first, as findIncidents gives them.
    void setIncidents(std::shared_ptr<const overview::OverviewResult> result,
                      std::vector<overview::Incident> incidents);
    void setSpeedUnit(int unit);
    const std::vector<overview::Incident> &incidents() const { return m_incidents; }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QString text(const overview::Incident &incident, int row, int column) const;

    std::shared_ptr<const overview::OverviewResult> m_result;
    std::vector<overview::Incident> m_incidents;
    int m_unit = 0;
};

} // namespace korvante
