// logform: the error log, shown modally at the end of an operation when it
// has rows.
#pragma once

#include <QDialog>

class QTreeWidget;
class QStatusBar;

namespace dvl::dvl2 {

class Tlogform : public QDialog {
    Q_OBJECT
public:
    explicit Tlogform(QWidget* parent = nullptr);

    void AddRow(const QString& archive, const QString& file, const QString& error);
    int RowCount() const;
    // FormShow sets the caption; returns when the window is closed.
    void ShowModal(const QString& caption);

private slots:
    void Close1Click();

private:
    QTreeWidget* ListView1 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
};

} // namespace dvl::dvl2
