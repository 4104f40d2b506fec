#include "clip_dialog.h"

#include "core/platform/registry.h"
#include "gui/platform/message_box.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace korvante {

namespace {

const QString kCaption = QStringLiteral("Save clip");

// In the order of the layout box.
constexpr clip::Layout kLayouts[] = {clip::Layout::Front, clip::Layout::Rear, clip::Layout::Side, clip::Layout::Pip};

QString group()
{
    return Registry::profileGroup(CClipDialog::settingsSection());
}

} // namespace

CClipDialog::CClipDialog(clip::CameraTime in, const QString &spanText, QWidget *parent) : QDialog(parent), m_in(in)
{
    setWindowTitle(kCaption);
    setModal(true);
    build(spanText);
    restoreChoices();
}

CClipDialog::~CClipDialog() = default;

void CClipDialog::build(const QString &spanText)
{
    auto *span = new QLabel(spanText, this);
    span->setTextFormat(Qt::PlainText);

    m_layout = new QComboBox(this);
    m_layout->addItems({QStringLiteral("Front"), QStringLiteral("Rear"), QStringLiteral("Side by side"),
                        QStringLiteral("Picture in picture")});
    m_overlay = new QCheckBox(QStringLiteral("Date, time, speed, G and position in a band"), this);
    m_sound = new QCheckBox(QStringLiteral("Sound of the front channel"), this);
    m_quality = new QComboBox(this);
    m_quality->addItems({QStringLiteral("Source bitrate"), QStringLiteral("Half the source bitrate")});

    m_folder = new QLineEdit(this);
    auto *browse = new QPushButton(QStringLiteral("Folder…"), this);
    connect(browse, &QPushButton::clicked, this, &CClipDialog::browse);
    auto *folderRow = new QHBoxLayout;
    folderRow->addWidget(m_folder, 1);
    folderRow->addWidget(browse);
    m_name = new QLineEdit(QString::fromStdString(clip::proposedClipName(m_in)), this);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Span:"), span);
    form->addRow(QStringLiteral("Layout:"), m_layout);
    form->addRow(QStringLiteral("Overlay:"), m_overlay);
    form->addRow(QStringLiteral("Sound:"), m_sound);
    form->addRow(QStringLiteral("Quality:"), m_quality);
    form->addRow(QStringLiteral("Folder:"), folderRow);
    form->addRow(QStringLiteral("File name:"), m_name);

    auto *buttons = new QDialogButtonBox(this);
    m_save = buttons->addButton(QStringLiteral("Save"), QDialogButtonBox::AcceptRole);
    buttons->addButton(QDialogButtonBox::Cancel);
    m_save->setDefault(true);
    // Save checks first; only a request that may be written closes the dialog.
    connect(m_save, &QPushButton::clicked, this, [this] { trySave(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *column = new QVBoxLayout(this);
    column->addLayout(form);
    column->addWidget(buttons);
    setMinimumWidth(460);
}

void CClipDialog::restoreChoices()
{
    const QString g = group();
    QString folder = Registry::value(g, QStringLiteral("LastFolder")).toString();
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = QDir::homePath();
    m_folder->setText(folder);
    m_layout->setCurrentIndex(std::clamp(Registry::value(g, QStringLiteral("Layout"), 0).toInt(), 0, 3));
    m_overlay->setChecked(Registry::value(g, QStringLiteral("Overlay"), false).toBool());
    m_sound->setChecked(Registry::value(g, QStringLiteral("Sound"), true).toBool());
    m_quality->setCurrentIndex(std::clamp(Registry::value(g, QStringLiteral("Quality"), 0).toInt(), 0, 1));
}

void CClipDialog::rememberChoices() const
{
    Registry::Batch batch;
    const QString g = group();
    batch.setValue(g, QStringLiteral("LastFolder"), QFileInfo(QString::fromStdString(m_accepted.path)).absolutePath());
    batch.setValue(g, QStringLiteral("Layout"), m_layout->currentIndex());
    batch.setValue(g, QStringLiteral("Overlay"), m_overlay->isChecked());
    batch.setValue(g, QStringLiteral("Sound"), m_sound->isChecked());
    batch.setValue(g, QStringLiteral("Quality"), m_quality->currentIndex());
}

void CClipDialog::browse()
{
    const QString chosen =
        platform::Dialogs::getExistingDirectory(this, QStringLiteral("Folder for the clip"), m_folder->text());
    if (!chosen.isEmpty())
        m_folder->setText(chosen);
}

CClipDialog::Request CClipDialog::request() const
{
    Request r;
    QString name = m_name->text().trimmed();
    if (!name.isEmpty() && !name.endsWith(QStringLiteral(".mp4"), Qt::CaseInsensitive))
        name += QStringLiteral(".mp4");
    const QString folder = m_folder->text().trimmed();
    if (!folder.isEmpty() && !name.isEmpty())
        r.path = QDir(QFileInfo(folder).absoluteFilePath()).filePath(name).toStdString();
    r.options.layout = kLayouts[std::clamp(m_layout->currentIndex(), 0, 3)];
    r.options.overlay = m_overlay->isChecked();
    r.options.sound = m_sound->isChecked();
    r.options.quality = m_quality->currentIndex() == 1 ? clip::Quality::Half : clip::Quality::Source;
    return r;
}

bool CClipDialog::trySave()
{
    Request r = request();
    const QString name = m_name->text().trimmed();
    QString refusal;
    if (m_folder->text().trimmed().isEmpty())
        refusal = QStringLiteral("Choose a folder for the clip.");
    else if (name.isEmpty())
        refusal = QStringLiteral("Give the clip a file name.");
    else if (name.contains(QLatin1Char('/')))
        refusal = QStringLiteral("%1: a file name cannot hold \"/\".").arg(name);
    else if (const std::string why = clip::outputRefusal(r.path, false); !why.empty()) {
        // Only the existing files stand in the way: the user may replace them.
        if (clip::outputRefusal(r.path, true).empty()) {
            const QString question =
                QStringLiteral("%1 already exists (or its evidence file does).\nReplace it?")
                    .arg(QString::fromStdString(r.path));
            if (platform::messageBox(this, question, kCaption,
                                     platform::MB_YESNO | platform::MB_ICONQUESTION | platform::MB_DEFBUTTON2) !=
                platform::IDYES)
                return false;
            r.options.overwrite = true;
        } else {
            refusal = QString::fromStdString(why);
        }
    }
    if (!refusal.isEmpty()) {
        platform::messageBox(this, refusal + QStringLiteral("\nNothing was written."), kCaption,
                             platform::MB_OK | platform::MB_ICONWARNING);
        return false;
    }
    m_accepted = std::move(r);
    rememberChoices();
    accept();
    return true;
}

} // namespace korvante
