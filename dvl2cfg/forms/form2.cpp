#include "dvl2cfg/forms/form2.h"

#include "dvl2cfg/forms/form1.h"
#include "dvl2cfg/forms/window_logic.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace dvl::dvl2cfg {

namespace {

constexpr int kMaxExtensionLength = 3;

QLabel* MakeLabel(QWidget* parent, const char* name, const char* text, int left, int top) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setObjectName(name);
    label->move(left, top);
    label->adjustSize();
    return label;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, int left, int top, int width) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setGeometry(left, top, width, 21);
    return edit;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* text, int left, int top) {
    auto* button = new QPushButton(QString::fromLatin1(text), parent);
    button->setObjectName(name);
    button->setGeometry(left, top, 75, 23);
    return button;
}

} // namespace

TForm2::TForm2(Tform1* mainWindow)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                           Qt::MSWindowsFixedSizeDialogHint),
      mainWindow_(mainWindow) {
    setObjectName("Form2");
    setWindowTitle(QStringLiteral("New filetype"));
    setModal(true);
    setFixedSize(311, 102);

    Label1 = MakeLabel(this, "Label1", "Extension:", 24, 16);
    edit_ext = MakeEdit(this, "edit_ext", 24, 32, 57);
    edit_ext->setMaxLength(kMaxExtensionLength);
    Label2 = MakeLabel(this, "Label2", "Description:", 88, 16);
    edit_desc = MakeEdit(this, "edit_desc", 88, 32, 201);

    btn_ok = MakeButton(this, "btn_ok", "&OK", 150, 71);
    btn_ok->setDefault(true);
    btn_ok->setEnabled(false);
    btn_close = MakeButton(this, "btn_close", "&Cancel", 230, 71);

    connect(edit_ext, &QLineEdit::textChanged, this, &TForm2::edit_extChange);
    connect(btn_ok, &QPushButton::clicked, this, &TForm2::btn_okClick);
    connect(btn_close, &QPushButton::clicked, this, &TForm2::btn_closeClick);
}

void TForm2::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void TForm2::FormShow() {
    edit_ext->clear();
    edit_desc->clear();
    edit_extChange(); // clearing an empty edit signals no change
    CentreOnScreen(this);
    edit_ext->setFocus();
}

void TForm2::edit_extChange() {
    btn_ok->setEnabled(!edit_ext->text().isEmpty());
}

void TForm2::btn_okClick() {
    accept();
    if (mainWindow_)
        mainWindow_->AddFileType(
            NewFileTypeRow(edit_ext->text().toStdString(), edit_desc->text().toStdString()));
}

void TForm2::btn_closeClick() {
    reject();
}

} // namespace dvl::dvl2cfg
