#include "dvl2/forms/qt_hooks.h"

#include "platform/hooks.h"

#include <QApplication>
#include <QFontDatabase>
#include <QMessageBox>
#include <QPushButton>

namespace dvl::dvl2 {

namespace {

using platform::MessageBoxRequest;
using platform::MessageButtons;
using platform::MessageIcon;
using platform::MessageResult;

QMessageBox::Icon ToQtIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Error:
        return QMessageBox::Critical;
    case MessageIcon::Question:
        return QMessageBox::Question;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

MessageResult ShowQtMessageBox(const MessageBoxRequest& request) {
    // Texts use carriage returns as line breaks.
    QString text = QString::fromStdString(request.text);
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QMessageBox box(ToQtIcon(request.icon), QString::fromStdString(request.caption), text,
                    QMessageBox::NoButton, QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    box.setObjectName("MessageBox");
    QPushButton* yes = nullptr;
    QPushButton* cancel = nullptr;
    switch (request.buttons) {
    case MessageButtons::YesNo: {
        yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
        yes->setObjectName("Yes");
        QPushButton* no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
        no->setObjectName("No");
        box.setEscapeButton(no);
        break;
    }
    case MessageButtons::OkCancel:
        box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole)->setObjectName("OK");
        cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
        cancel->setObjectName("Cancel");
        break;
    case MessageButtons::Ok:
        box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole)->setObjectName("OK");
        break;
    }
    box.exec();
    if (request.buttons == MessageButtons::YesNo)
        return box.clickedButton() == yes ? MessageResult::Yes : MessageResult::No;
    if (cancel && box.clickedButton() != nullptr && box.clickedButton() == cancel)
        return MessageResult::Cancel;
    return MessageResult::Ok;
}

} // namespace

void InstallQtHooks() {
    platform::SetProcessMessagesHook([] { QCoreApplication::processEvents(); });
    platform::SetTerminateHook([] {
        // Queued, so that a running back end finishes before the loop ends
        // (and a quit asked for before the loop starts is not lost).
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    platform::SetMessageBoxHook(ShowQtMessageBox);
}

// The windows are laid out for MS Sans Serif at 8 points; Debian's fonts-wine
// ships a face of it. Without it the desktop's sans font stands in.
void ApplyProgramFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setStyleHint(QFont::SansSerif);
    const int id = QFontDatabase::addApplicationFont("/usr/share/wine/fonts/ms_sans_serif.ttf");
    if (id >= 0 && !QFontDatabase::applicationFontFamilies(id).isEmpty())
        font.setFamily(QFontDatabase::applicationFontFamilies(id).front());
    font.setPointSize(8);
    QApplication::setFont(font);
}

} // namespace dvl::dvl2
