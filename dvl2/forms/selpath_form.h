// selpathform: "Extract to..", the choice of the destination folder: a
// drive selector coupled to a tree of folders.
#pragma once

#include "dvl2/core/dialogs_logic.h"

#include <QDialog>

#include <string>

class QComboBox;
class QFileSystemModel;
class QPushButton;
class QTreeView;

namespace dvl::dvl2 {

class Tselpathform : public QDialog {
    Q_OBJECT
public:
    explicit Tselpathform(QWidget* parent = nullptr);

    // Shows the dialog modally; the chosen folder (Windows form), empty when
    // it was cancelled or closed otherwise.
    std::string ShowModal(const std::string& archivePath);

    // The folder selected in Dir1 (Windows form).
    std::string SelectedFolder() const;
    void SelectFolder(const QString& nativePath);

    // The input box of "New folder"; replaceable so tests can answer it.
    AskName askName;

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void Drive1Change(int index);
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void FollowSelection();

private:
    QComboBox* Drive1 = nullptr;
    QTreeView* Dir1 = nullptr;
    QFileSystemModel* model_ = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    void ApplySelection();

    QString followed_;      // native path kept selected until the user picks one
    bool applying_ = false; // the selection is being set by us
    std::string archivePath_;
    std::string result_;
};

} // namespace dvl::dvl2
