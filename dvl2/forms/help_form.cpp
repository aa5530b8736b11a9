#include "dvl2/forms/help_form.h"

#include "dvl2/core/front_state.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace dvl::dvl2 {

QString HelpText() {
    return QStringLiteral(
        "Usage: dvl2 ARCHIVE [SWITCH]\n"
        "\n"
        "/n\tExtract to a folder chosen in \"Extract to..\"\n"
        "/h\tExtract into the archive's folder\n"
        "/d\tExtract into a new folder beside the archive, named after it\n"
        "/t\tTest the archive (RAR and ACE)\n"
        "/l\tList the archive\n"
        "(none)\tList the archive\n"
        "/?\tShow this help\n"
        "\n"
        "The archive's format is recognised from its first bytes (RAR, ACE, ZIP, ARJ, LHA).");
}

THelpForm::THelpForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName("helpform");
    setWindowTitle(QString::fromLatin1(kApplicationTitle));
    auto* layout = new QVBoxLayout(this);
    auto* text = new QLabel(HelpText(), this);
    text->setObjectName("HelpText");
    text->setTextFormat(Qt::PlainText);
    layout->addWidget(text);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("&OK"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

} // namespace dvl::dvl2
