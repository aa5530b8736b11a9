#include "dvl2/forms/zip_options_form.h"

#include "dvl2/forms/rar_form.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace dvl::dvl2 {

TZipOptionsForm::TZipOptionsForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName("ZipOptionsForm");
    setWindowTitle(QStringLiteral("UnZip.."));
    setFixedSize(350, 149);

    GroupBox1 = new QGroupBox(QStringLiteral(" Options "), this);
    GroupBox1->setObjectName("GroupBox1");
    GroupBox1->setGeometry(8, 8, 241, 129);
    CheckBox1 =
        new QCheckBox(QStringLiteral("Extract all files matching current archive."), GroupBox1);
    CheckBox1->setObjectName("CheckBox1");
    CheckBox1->setGeometry(16, 24, 209, 17);
    Label1 = new QLabel(QStringLiteral("Match:"), GroupBox1);
    Label1->setObjectName("Label1");
    Label1->move(16, 51);
    Label1->adjustSize();
    Edit1 = new QLineEdit(GroupBox1);
    Edit1->setObjectName("Edit1");
    Edit1->setGeometry(56, 48, 121, Edit1->sizeHint().height());
    Label2 = new QLabel(QStringLiteral("Mask:"), GroupBox1);
    Label2->setObjectName("Label2");
    Label2->move(16, 90);
    Label2->adjustSize();
    Edit2 = new QLineEdit(QStringLiteral("*.*"), GroupBox1);
    Edit2->setObjectName("Edit2");
    Edit2->setGeometry(56, 88, 121, Edit2->sizeHint().height());

    btn_ok = new QPushButton(QStringLiteral("&OK"), this);
    btn_ok->setObjectName("btn_ok");
    btn_ok->setGeometry(264, 16, 75, 25);
    btn_ok->setDefault(true);
    btn_cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    btn_cancel->setObjectName("btn_cancel");
    btn_cancel->setGeometry(264, 48, 75, 25);
    connect(btn_ok, &QPushButton::clicked, this, &TZipOptionsForm::btn_okClick);
    connect(btn_cancel, &QPushButton::clicked, this, &TZipOptionsForm::btn_cancelClick);
}

ZipOptionsAnswer TZipOptionsForm::ShowModal(const std::string& matchText) {
    Edit1->setText(QString::fromStdString(matchText));
    pressed_ = ZipOptionsAnswer::Button::Closed;
    CentreOnScreen(this);
    btn_ok->setFocus();
    exec();
    ZipOptionsAnswer answer;
    answer.button = pressed_;
    answer.extractAll = CheckBox1->isChecked();
    answer.match = Edit1->text().toStdString();
    answer.mask = Edit2->text().toStdString();
    return answer;
}

void TZipOptionsForm::btn_okClick() {
    pressed_ = ZipOptionsAnswer::Button::Ok;
    accept();
}

void TZipOptionsForm::btn_cancelClick() {
    pressed_ = ZipOptionsAnswer::Button::Cancel;
    reject();
}

} // namespace dvl::dvl2
