// ZipOptionsForm: "UnZip..", asked before a ZIP extraction when sibling
// archives exist. Its controls keep what the user entered for the run.
#pragma once

#include "dvl2/core/view.h"

#include <QDialog>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace dvl::dvl2 {

class TZipOptionsForm : public QDialog {
    Q_OBJECT
public:
    explicit TZipOptionsForm(QWidget* parent = nullptr);

    // Puts matchText into Edit1 and shows the dialog modally.
    ZipOptionsAnswer ShowModal(const std::string& matchText);

private slots:
    void btn_okClick();
    void btn_cancelClick();

private:
    QGroupBox* GroupBox1 = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QPushButton* btn_ok = nullptr;
    QPushButton* btn_cancel = nullptr;
    ZipOptionsAnswer::Button pressed_ = ZipOptionsAnswer::Button::Closed;
};

} // namespace dvl::dvl2
