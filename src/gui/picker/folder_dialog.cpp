#include "folder_dialog.h"

#include "core/platform/registry.h"
#include "core/storage/storage_discovery.h"
#include "gui/picker/history_combo.h"
#include "gui/picker/picker_places.h"
#include "gui/platform/message_box.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QListView>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

namespace korvante {

namespace {

QString viewGroup()
{
    return Registry::profileGroup(QStringLiteral("XFolderDialog"));
}

bool isFolder(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() && info.isDir();
}

// The viewer's dark look: the panels' near-black, the list colours of the
// file list, buttons and fields framed in the skin's blue-grey.
QString darkStyle()
{
    return QStringLiteral(
        "QDialog#CXFolderDialog { background: rgb(16,16,16); }"
        "QLabel { color: rgb(229,229,229); }"
        "QListView, QTreeView, QListWidget { background: rgb(0,0,0); color: rgb(158,177,187);"
        " border: 1px solid rgb(76,85,118); selection-background-color: rgb(115,123,165);"
        " selection-color: rgb(229,229,229); outline: 0; }"
        "QListWidget#places { background: rgb(22,24,31); }"
        "QListWidget#places::item { padding: 3px 2px; }"
        "QHeaderView::section { background: rgb(40,44,56); color: rgb(229,229,229);"
        " border: 0; border-right: 1px solid rgb(76,85,118); padding: 2px 4px; }"
        "QPushButton, QToolButton { color: rgb(229,229,229); background: rgb(28,31,40);"
        " border: 1px solid rgb(76,85,118); padding: 3px 10px; }"
        "QPushButton:hover, QToolButton:hover { background: rgb(76,85,118); }"
        "QPushButton:pressed, QToolButton:pressed { background: rgb(115,123,165); }"
        "QPushButton:focus, QToolButton:focus { border: 1px solid rgb(158,177,187); }"
        "QLineEdit { color: rgb(229,229,229); background: rgb(28,31,40); border: 1px solid rgb(76,85,118);"
        " padding: 2px; selection-background-color: rgb(115,123,165); }"
        "QComboBox { color: rgb(229,229,229); background: rgb(28,31,40); border: 1px solid rgb(76,85,118);"
        " padding: 2px; combobox-popup: 0; }"
        "QComboBox QAbstractItemView { background: rgb(16,16,16); color: rgb(158,177,187);"
        " selection-background-color: rgb(115,123,165); selection-color: rgb(229,229,229); }"
        "QScrollBar:vertical { background: rgb(76,85,118); width: 12px; margin: 0; }"
        "QScrollBar:horizontal { background: rgb(76,85,118); height: 12px; margin: 0; }"
        "QScrollBar::handle { background: rgb(115,123,165); min-height: 24px; min-width: 24px; border-radius: 2px; }"
        "QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; }"
        "QScrollBar::add-page, QScrollBar::sub-page { background: none; }");
}

QIcon placeIcon(PickerPlace::Kind kind)
{
    switch (kind) {
    case PickerPlace::Kind::Home: return PickerIcons::home();
    case PickerPlace::Kind::Media: return PickerIcons::folder();
    case PickerPlace::Kind::Drive: return PickerIcons::drive();
    }
    return PickerIcons::folder();
}

} // namespace

CXFolderDialog::CXFolderDialog(QWidget *parent) : PanelDialog(parent)
{
    setObjectName(QStringLiteral("CXFolderDialog"));
    buildUi();
}

CXFolderDialog::~CXFolderDialog()
{
    // The model (and its gatherer thread) asks the icon provider for icons:
    // it goes before the provider does.
    delete m_model;
}

void CXFolderDialog::buildUi()
{
    setStyleSheet(darkStyle());
    m_icons = std::make_unique<PickerIcons>();
    m_model = new QFileSystemModel(this);
    m_model->setIconProvider(m_icons.get());
    m_model->setFilter(QDir::AllDirs | QDir::Files | QDir::NoDotAndDotDot);
    m_model->setNameFilters({QStringLiteral("*.avi"), QStringLiteral("*.AVI")});
    m_model->setNameFilterDisables(false); // hide, not grey out, other files
    m_model->setRootPath(QString());

    auto *top = new QHBoxLayout;
    auto *up = new QToolButton(this);
    up->setText(QStringLiteral("Up"));
    up->setObjectName(QStringLiteral("upButton"));
    connect(up, &QToolButton::clicked, this, [this] {
        QDir dir(m_currentFolder);
        if (dir.cdUp())
            navigateTo(dir.absolutePath());
    });
    m_location = new QLineEdit(this);
    m_location->setReadOnly(true);
    top->addWidget(up);
    top->addWidget(m_location, 1);
    const struct {
        const char *label;
        int command;
    } views[] = {{"Icons", viewcmd::Icons},     {"List", viewcmd::List},   {"Details", viewcmd::Details},
                 {"Small icons", viewcmd::SmallIcons}, {"Tiles", viewcmd::Tiles}};
    for (const auto &v : views) {
        auto *button = new QToolButton(this);
        button->setText(QString::fromUtf8(v.label));
        const int command = v.command;
        connect(button, &QToolButton::clicked, this, [this, command] { applyView(command); });
        top->addWidget(button);
    }

    m_list = new QListView(this);
    m_list->setObjectName(QStringLiteral("folderList"));
    m_list->setModel(m_model);
    m_tree = new QTreeView(this);
    m_tree->setObjectName(QStringLiteral("folderDetails"));
    m_tree->setModel(m_model);
    m_tree->setRootIsDecorated(false);
    m_tree->setItemsExpandable(false);
    m_tree->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_views = new QStackedWidget(this);
    m_views->addWidget(m_list);
    m_views->addWidget(m_tree);
    for (QAbstractItemView *view : {static_cast<QAbstractItemView *>(m_list), static_cast<QAbstractItemView *>(m_tree)}) {
        view->setSelectionMode(QAbstractItemView::SingleSelection);
        connect(view, &QAbstractItemView::activated, this, &CXFolderDialog::onActivated);
        connect(view->selectionModel(), &QItemSelectionModel::currentChanged, this,
                &CXFolderDialog::onSelectionChanged);
    }

    auto *bottom = new QHBoxLayout;
    auto *label = new QLabel(QStringLiteral("Folder &name:"), this);
    m_combo = new CHistoryCombo(this);
    label->setBuddy(m_combo);
    m_ok = new QPushButton(QStringLiteral("OK"), this);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"), this);
    for (QPushButton *b : {m_ok, cancel}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    connect(m_ok, &QPushButton::clicked, this, &CXFolderDialog::onOk);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_combo, &QComboBox::activated, this,
            [this](int index) { navigateFromCombo(m_combo->itemText(index), false); });
    // The combo box keeps the keyboard focus and hands keys to its line edit
    // directly, so both are watched.
    m_combo->installEventFilter(this);
    m_combo->lineEdit()->installEventFilter(this);
    bottom->addWidget(label);
    bottom->addWidget(m_combo, 1);
    bottom->addWidget(m_ok);
    bottom->addWidget(cancel);

    // Places: where cards and footage are kept. Drives come and go while
    // the picker is open, so the list is read again every two seconds.
    m_places = new QListWidget(this);
    m_places->setObjectName(QStringLiteral("places"));
    m_places->setFixedWidth(190);
    m_places->setIconSize(QSize(24, 24));
    m_places->setTextElideMode(Qt::ElideMiddle);
    connect(m_places, &QListWidget::itemClicked, this, [this](QListWidgetItem *item) {
        navigateTo(item->data(Qt::UserRole).toString());
    });
    connect(m_places, &QListWidget::itemActivated, this, [this](QListWidgetItem *item) {
        navigateTo(item->data(Qt::UserRole).toString());
    });
    m_placesTimer = new QTimer(this);
    m_placesTimer->setInterval(2000);
    connect(m_placesTimer, &QTimer::timeout, this, &CXFolderDialog::refreshPlaces);
    auto *middle = new QHBoxLayout;
    middle->addWidget(m_places);
    middle->addWidget(m_views, 1);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(middle, 1);
    layout->addLayout(bottom);
    resize(780, 480);
}

void CXFolderDialog::refreshPlaces()
{
    const std::vector<PickerPlace> places = pickerPlaces(systemRoot());
    // Unchanged: leave the list (and its selection) alone.
    bool same = static_cast<int>(places.size()) == m_places->count();
    for (int i = 0; same && i < m_places->count(); ++i)
        same = m_places->item(i)->data(Qt::UserRole).toString() == places[static_cast<size_t>(i)].path
            && m_places->item(i)->text() == places[static_cast<size_t>(i)].label;
    if (same)
        return;
    m_places->clear();
    for (const PickerPlace &place : places) {
        auto *item = new QListWidgetItem(placeIcon(place.kind), place.label, m_places);
        item->setData(Qt::UserRole, place.path);
        item->setToolTip(place.path);
    }
}

int CXFolderDialog::exec()
{
    refreshPlaces();
    m_placesTimer->start();
    m_combo->setMaximum(50);
    m_combo->loadHistory();
    if (m_combo->count() > 0 && m_combo->currentText().isEmpty())
        m_combo->setCurrentIndex(0);
    setWindowTitle(title.isEmpty() ? QStringLiteral("Select Folder") : title);
    if (!navigateTo(initialFolder))
        navigateTo(QDir::rootPath());
    m_combo->setFocus();
    return PanelDialog::exec();
}

bool CXFolderDialog::navigateTo(const QString &path)
{
    if (path.isEmpty() || !isFolder(path))
        return false;
    const QString folder = QDir(path).absolutePath();
    // Keep the view mode of the list being left, then give the new one the
    // current (or remembered) mode.
    if (!m_currentFolder.isEmpty())
        m_capturedView = capturedViewMode();
    const QModelIndex root = m_model->index(folder);
    // A selection made in the folder left behind is no choice in this one.
    m_list->selectionModel()->clear();
    m_tree->selectionModel()->clear();
    m_list->setRootIndex(root);
    m_tree->setRootIndex(root);
    m_currentFolder = folder;
    selectedPath = folder;
    m_location->setText(folder);
    if (applyViewMode) {
        if (!m_viewModeRead) {
            m_viewModeRead = true;
            if (rememberViewMode && viewMode == 0)
                viewMode = Registry::value(viewGroup(), QStringLiteral("ViewMode"), 0).toInt();
        }
        applyView(viewMode);
    }
    return true;
}

void CXFolderDialog::applyView(int command)
{
    switch (command) {
    case viewcmd::Details:
    case viewcmd::OldDetails:
        m_views->setCurrentWidget(m_tree);
        m_capturedView = viewcmd::Details;
        return;
    case viewcmd::Icons:
    case viewcmd::IconsLarge:
    case viewcmd::IconsMedium:
    case viewcmd::OldIcons:
    case viewcmd::OldThumbnails:
        m_list->setViewMode(QListView::IconMode);
        m_list->setIconSize(command == viewcmd::IconsLarge ? QSize(64, 64) : QSize(48, 48));
        m_list->setGridSize(QSize(110, 90));
        m_list->setFlow(QListView::LeftToRight);
        m_list->setWrapping(true);
        m_capturedView = command == viewcmd::IconsLarge ? viewcmd::IconsLarge : viewcmd::Icons;
        break;
    case viewcmd::SmallIcons:
        m_list->setViewMode(QListView::IconMode);
        m_list->setIconSize(QSize(16, 16));
        m_list->setGridSize(QSize(140, 24));
        m_list->setFlow(QListView::LeftToRight);
        m_list->setWrapping(true);
        m_capturedView = viewcmd::SmallIcons;
        break;
    case viewcmd::Tiles:
    case viewcmd::OldTiles:
        m_list->setViewMode(QListView::ListMode);
        m_list->setIconSize(QSize(32, 32));
        m_list->setGridSize(QSize(220, 44));
        m_list->setFlow(QListView::LeftToRight);
        m_list->setWrapping(true);
        m_capturedView = viewcmd::Tiles;
        break;
    default: // 0 and the list commands: the list view
        m_list->setViewMode(QListView::ListMode);
        m_list->setIconSize(QSize(16, 16));
        m_list->setGridSize(QSize());
        m_list->setFlow(QListView::TopToBottom);
        m_list->setWrapping(true);
        m_capturedView = viewcmd::List;
        break;
    }
    m_views->setCurrentWidget(m_list);
}

QString CXFolderDialog::selectedItemPath() const
{
    const QAbstractItemView *view = m_views->currentWidget() == m_tree
                                        ? static_cast<const QAbstractItemView *>(m_tree)
                                        : static_cast<const QAbstractItemView *>(m_list);
    const QModelIndexList rows = view->selectionModel()->selectedIndexes();
    if (rows.isEmpty())
        return {};
    const QModelIndex index = rows.first();
    return m_model->isDir(index) ? m_model->filePath(index) : QString();
}

void CXFolderDialog::onActivated(const QModelIndex &index)
{
    if (m_model->isDir(index))
        navigateTo(m_model->filePath(index));
}

void CXFolderDialog::onSelectionChanged()
{
    const QString item = selectedItemPath();
    selectedPath = item.isEmpty() ? m_currentFolder : item;
    m_combo->setEditText(selectedPath);
}

void CXFolderDialog::navigateFromCombo(const QString &text, bool typed)
{
    if (text.isEmpty() || !isFolder(text))
        return;
    navigateTo(text);
    if (typed)
        selectedPath = text;
}

bool CXFolderDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_combo || watched == m_combo->lineEdit()) {
        if (event->type() == QEvent::FocusOut) {
            navigateFromCombo(m_combo->currentText().trimmed(), true);
        } else if (event->type() == QEvent::KeyPress) {
            const auto *key = static_cast<QKeyEvent *>(event);
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                const QString text = m_combo->currentText().trimmed();
                // Enter goes to the typed path: a folder other than the one
                // shown opens; the one shown (or a path that is no folder) is
                // confirmed as typed, whatever is selected in the list.
                if (isFolder(text) && QDir(text).absolutePath() != m_currentFolder)
                    navigateFromCombo(text, true);
                else
                    confirm(text);
                return true;
            }
        }
    }
    return PanelDialog::eventFilter(watched, event);
}

void CXFolderDialog::onOk()
{
    QString path = selectedItemPath();
    if (path.isEmpty())
        path = m_combo->currentText().trimmed();
    confirm(path);
}

void CXFolderDialog::confirm(const QString &path)
{
    if (path.isEmpty()) {
        platform::messageBox(this, QStringLiteral("Please select a folder."), windowTitle(),
                             platform::MB_OK | platform::MB_ICONWARNING);
        return;
    }
    if (!isFolder(path)) {
        platform::messageBox(this, QStringLiteral("The folder '%1' isn't accessible.").arg(path), windowTitle(),
                             platform::MB_OK | platform::MB_ICONWARNING);
        return;
    }
    m_combo->setEditText(path);
    m_combo->saveHistory();
    selectedPath = path;
    accept();
}

void CXFolderDialog::done(int result)
{
    viewMode = m_capturedView;
    if (rememberViewMode && applyViewMode)
        Registry::setValue(viewGroup(), QStringLiteral("ViewMode"), viewMode);
    PanelDialog::done(result);
}

} // namespace korvante
