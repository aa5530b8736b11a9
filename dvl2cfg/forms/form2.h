// Form2: "New filetype", the modal dialog that asks for an extension and a
// description and adds them to the main window's list.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace dvl::dvl2cfg {

class Tform1;

class TForm2 : public QDialog {
    Q_OBJECT
public:
    // mainWindow receives the row that OK adds.
    explicit TForm2(Tform1* mainWindow);

public slots:
    void FormShow();
    void edit_extChange();
    void btn_okClick();
    void btn_closeClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    Tform1* mainWindow_;
    QLabel* Label1 = nullptr;
    QLineEdit* edit_ext = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* edit_desc = nullptr;
    QPushButton* btn_ok = nullptr;
    QPushButton* btn_close = nullptr;
};

} // namespace dvl::dvl2cfg
