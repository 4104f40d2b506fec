#pragma once
// "Save clip": the options of a clip of the marked span (layout, overlay,
// sound, quality) and where it goes (a folder and a file name proposed from
// the span's camera start). Save checks the place as the command line does:
// a refusal is shown in a message box and the dialog stays; an existing clip
// is replaced only when the user says so. Nothing is written here.
//
// The folder and the options chosen last are kept in the registry's
// profile section "Clip" and proposed again.
//
// Ownership: a modal child of the window that opens it. UI thread only.

#include "core/clip/clip_writer.h"

#include <QDialog>

#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace korvante {

class CClipDialog final : public QDialog {
    Q_OBJECT
public:
    struct Request {
        std::string path;
        clip::ClipOptions options;
    };

    // `in` and `out` are the span (Out after In); `spanText` says it to the user.
    CClipDialog(clip::CameraTime in, const QString &spanText, QWidget *parent = nullptr);
    ~CClipDialog() override;

    // What Save checks and accepts: the path and options as set now (no
    // overwrite until the user agreed to one).
    Request request() const;
    // Runs Save's checks; on success remembers the folder and options and
    // accepts the dialog. False (the dialog stays) after a refusal, or when
    // the user would not replace an existing file.
    bool trySave();
    // The request Save accepted (overwrite set when the user agreed).
    const Request &accepted() const { return m_accepted; }

    QComboBox *layoutBox() const { return m_layout; }
    QComboBox *qualityBox() const { return m_quality; }
    QCheckBox *overlayBox() const { return m_overlay; }
    QCheckBox *soundBox() const { return m_sound; }
    QLineEdit *folderEdit() const { return m_folder; }
    QLineEdit *nameEdit() const { return m_name; }
    QPushButton *saveButton() const { return m_save; }

    // The registry section of the remembered choices.
    static QString settingsSection() { return QStringLiteral("Clip"); }

private:
    void build(const QString &spanText);
    void restoreChoices();
    void rememberChoices() const;
    void browse();

    clip::CameraTime m_in;
    QComboBox *m_layout = nullptr;
    QComboBox *m_quality = nullptr;
    QCheckBox *m_overlay = nullptr;
    QCheckBox *m_sound = nullptr;
    QLineEdit *m_folder = nullptr;
    QLineEdit *m_name = nullptr;
    QPushButton *m_save = nullptr;
    Request m_accepted;
};

} // namespace korvante
