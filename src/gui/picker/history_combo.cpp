#include "history_combo.h"

#include "core/platform/registry.h"

#include <QAbstractItemView>
#include <QLineEdit>

namespace korvante {

CHistoryCombo::CHistoryCombo(QWidget *parent) : QComboBox(parent)
{
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setObjectName(QStringLiteral("historyCombo"));
}

QString CHistoryCombo::effectiveLastKey() const
{
    if (!m_lastKey.isEmpty())
        return m_lastKey;
    if (!m_keyPrefix.isEmpty())
        return m_keyPrefix;
    return QStringLiteral("Last");
}

void CHistoryCombo::setMaximum(int maximum)
{
    m_maximum = maximum;
    while (count() > m_maximum)
        removeItem(count() - 1);
}

QString CHistoryCombo::entryKey(int n) const
{
    return QStringLiteral("%1%2").arg(m_keyPrefix).arg(n, 4, 10, QLatin1Char('0'));
}

void CHistoryCombo::loadHistory()
{
    const QString group = Registry::profileGroup(m_section);
    clear();
    for (int i = 0; i < m_maximum; ++i) {
        const QString entry = Registry::value(group, entryKey(i)).toString();
        if (entry.isEmpty())
            break;
        addItem(entry);
    }
    if (!m_saveLast)
        return;
    const QString last = Registry::value(group, effectiveLastKey()).toString();
    const int index = findText(last, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0)
        setCurrentIndex(index);
    else
        setEditText(last);
}

void CHistoryCombo::saveHistory()
{
    const QString text = currentText().trimmed();
    if (!text.isEmpty()) {
        insertItem(0, text);
        for (int i = count() - 1; i > 0; --i)
            if (itemText(i) == text)
                removeItem(i);
        while (count() > m_maximum)
            removeItem(count() - 1);
        setCurrentIndex(0);
    }
    // One write of the settings file for the whole history.
    Registry::Batch registry;
    const QString group = Registry::profileGroup(m_section);
    const int n = count();
    for (int i = 0; i < n; ++i)
        registry.setValue(group, entryKey(i), itemText(i));
    for (int i = n; i <= kMaximumDeletedKey; ++i) {
        if (!registry.contains(group, entryKey(i)))
            break;
        registry.remove(group, entryKey(i));
    }
    if (m_saveLast)
        registry.setValue(group, effectiveLastKey(), currentText());
}

void CHistoryCombo::showPopup()
{
    // Tall enough for the entries, up to the usual limit of the list.
    setMaxVisibleItems(qBound(1, count(), 30));
    QComboBox::showPopup();
}

} // namespace korvante
