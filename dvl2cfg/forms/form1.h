// form1: the configuration window. The file-types tab edits the extensions
// registered to dvl2 and the context-menu actions; the about tab shows the
// picture, the authors and the thanks texts in turn.
#pragma once

#include "dvl2cfg/core/associations.h"
#include "dvl2cfg/forms/window_logic.h"

#include <QDialog>

#include <functional>
#include <string>

class QFrame;
class QLabel;
class QListWidget;
class QPushButton;
class QTabWidget;
class QTimer;
class QTreeWidget;

namespace dvl::dvl2cfg {

class TForm2;

class Tform1 : public QDialog {
    Q_OBJECT
public:
    // programFolder: the Windows-form folder of the running program, where
    // the INI file, readme.txt and version.txt lie.
    explicit Tform1(std::string programFolder, QWidget* parent = nullptr);

    void SetNewFileTypeDialog(TForm2* dialog) { newFileTypeDialog_ = dialog; }
    // How the shell's "open" is done for a native path (tests record it).
    void SetFileOpener(std::function<void(const QString&)> opener) {
        openFile_ = std::move(opener);
    }

    // Adds a row to the list (kept sorted) and enables Apply.
    void AddFileType(const FileTypeRow& row);
    // The rows in list order and the checked actions.
    AssociationState CurrentState() const;

public slots:
    void ListView1Click();
    void btn_deleteassocClick();
    void btn_newassocClick();
    void CheckListBox1ClickCheck();
    void btn_applyClick();
    void btn_okClick();
    void btn_closeClick();
    void PageControl1Change();
    void Timer1Timer();
    void btn_readmeClick();
    void btn_versionClick();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildFileTypesTab();
    void BuildAboutTab();
    void BuildButtons();
    void FormCreate();
    void ShowLoadedState(const AssociationState& state);
    bool ApplyAssociationsShowingErrors();
    void OpenBesideProgram(const char* name, const char* missingText);

    std::string programFolder_;
    TForm2* newFileTypeDialog_ = nullptr;
    std::function<void(const QString&)> openFile_;
    ThanksRotation thanks_;

    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QWidget* TabSheet3 = nullptr;
    QLabel* Label1 = nullptr;
    QTreeWidget* ListView1 = nullptr;
    QPushButton* btn_newassoc = nullptr;
    QPushButton* btn_deleteassoc = nullptr;
    QLabel* Label3 = nullptr;
    QFrame* Bevel2 = nullptr;
    QLabel* Label9 = nullptr;
    QListWidget* CheckListBox1 = nullptr;
    QFrame* Panel1 = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* label_thanks = nullptr;
    QPushButton* btn_readme = nullptr;
    QPushButton* btn_version = nullptr;
    QPushButton* btn_ok = nullptr;
    QPushButton* btn_close = nullptr;
    QPushButton* btn_apply = nullptr;
    QTimer* Timer1 = nullptr;
};

// Centres a window on its screen.
void CentreOnScreen(QWidget* window);

} // namespace dvl::dvl2cfg
