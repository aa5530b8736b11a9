// The window "/?" shows: the switches and what each does.
#pragma once

#include <QDialog>

namespace dvl::dvl2 {

class THelpForm : public QDialog {
    Q_OBJECT
public:
    explicit THelpForm(QWidget* parent = nullptr);
};

// The help text (plain text, one switch a line).
QString HelpText();

} // namespace dvl::dvl2
