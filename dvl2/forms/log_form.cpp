#include "dvl2/forms/log_form.h"

#include "dvl2/forms/rar_form.h"

#include <QMenuBar>
#include <QStatusBar>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace dvl::dvl2 {

Tlogform::Tlogform(QWidget* parent) : QDialog(parent, Qt::Window) {
    setObjectName("logform");
    setWindowTitle(QStringLiteral("Error log.."));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* menu = new QMenuBar(this);
    menu->setObjectName("MainMenu1");
    QMenu* file = menu->addMenu(QStringLiteral("&File"));
    file->setObjectName("File1");
    QAction* close = file->addAction(QStringLiteral("&Close"));
    close->setObjectName("Close1");
    connect(close, &QAction::triggered, this, &Tlogform::Close1Click);
    layout->setMenuBar(menu);

    ListView1 = MakeReportList(
        this, "ListView1", {{"Archive", 90, false}, {"File", 200, false}, {"Error", 200, false}},
        false);
    layout->addWidget(ListView1);
    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName("StatusBar1");
    StatusBar1->setFixedHeight(19);
    layout->addWidget(StatusBar1);
    resize(569, 334);
}

void Tlogform::AddRow(const QString& archive, const QString& file, const QString& error) {
    AppendRow(ListView1, {archive, file, error});
}

int Tlogform::RowCount() const {
    return ListView1->topLevelItemCount();
}

void Tlogform::ShowModal(const QString& caption) {
    setWindowTitle(caption);
    ApplyOuterSize(this, 569, 334);
    CentreOnScreen(this);
    exec();
}

void Tlogform::Close1Click() {
    accept();
}

} // namespace dvl::dvl2
