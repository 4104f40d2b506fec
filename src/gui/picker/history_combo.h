#pragma once
// An editable combo box holding the recently chosen folders, kept in the
// application's registry profile: section "FolderHistory", one key per entry
// ("Folder0000", "Folder0001", ...), and the last choice under "Folder".
// UI thread only.

#include <QComboBox>

namespace korvante {

class CHistoryCombo final : public QComboBox {
    Q_OBJECT
public:
    static constexpr int kDefaultMaximum = 100;
    static constexpr int kMaximumDeletedKey = 999;

    explicit CHistoryCombo(QWidget *parent = nullptr);

    QString section() const { return m_section; }
    QString keyPrefix() const { return m_keyPrefix; }
    // The key of the last choice: lastKey, else the prefix, else "Last".
    QString effectiveLastKey() const;
    int maximum() const { return m_maximum; }
    // Lowers or raises the most entries kept; extra list entries are dropped.
    void setMaximum(int maximum);
    bool saveLast() const { return m_saveLast; }
    void setSaveLast(bool on) { m_saveLast = on; }

    // Registry key of entry number `n` ("%s%04d").
    QString entryKey(int n) const;

    // Fills the list from the registry (stops at the first empty entry or at
    // the maximum) and selects or shows the last choice.
    void loadHistory();
    // Puts the current text (trimmed) at the top, drops an equal entry further
    // down, cuts the list to the maximum and writes it back; stale keys after
    // the list are deleted up to the first missing one.
    void saveHistory();

    void showPopup() override;

private:
    QString m_section = QStringLiteral("FolderHistory");
    QString m_keyPrefix = QStringLiteral("Folder");
    QString m_lastKey;
    int m_maximum = kDefaultMaximum;
    bool m_saveLast = true;
};

} // namespace korvante
