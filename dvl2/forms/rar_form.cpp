#include "dvl2/forms/rar_form.h"

#include "dvl2/core/front_state.h"
#include "dvl2/forms/help_form.h"
#include "dvl2/forms/log_form.h"
#include "dvl2/forms/selpath_form.h"
#include "dvl2/forms/zip_options_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>

#include <algorithm>

namespace dvl::dvl2 {

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

QProgressBar* MakeBar(QWidget* parent, const char* name, int left, int top) {
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(name);
    bar->setGeometry(left, top, 249, 8);
    bar->setTextVisible(false);
    bar->setRange(0, 100);
    bar->setValue(0); // a QProgressBar starts at -1 otherwise
    return bar;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* text, int left, int top) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setObjectName(name);
    label->move(left, top);
    label->adjustSize();
    return label;
}

} // namespace

void ApplyOuterSize(QWidget* window, int width, int height, bool fixed) {
    const QSize frame = window->frameGeometry().size() - window->geometry().size();
    const QSize client(std::max(1, width - frame.width()), std::max(1, height - frame.height()));
    if (fixed)
        window->setFixedSize(client);
    else
        window->resize(client);
}

void CentreOnScreen(QWidget* window) {
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

QTreeWidget* MakeReportList(QWidget* parent, const char* name,
                            std::initializer_list<ColumnSpec> columns, bool multiSelect) {
    auto* list = new QTreeWidget(parent);
    list->setObjectName(name);
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setUniformRowHeights(true);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSelectionMode(multiSelect ? QAbstractItemView::ExtendedSelection
                                       : QAbstractItemView::SingleSelection);
    list->setColumnCount(int(columns.size()));
    QStringList titles;
    for (const ColumnSpec& c : columns)
        titles << QString::fromLatin1(c.title);
    list->setHeaderLabels(titles);
    int index = 0;
    for (const ColumnSpec& c : columns) {
        list->setColumnWidth(index, c.width);
        const Qt::Alignment align = (c.rightAligned ? Qt::AlignRight : Qt::AlignLeft);
        list->headerItem()->setTextAlignment(index, align | Qt::AlignVCenter);
        ++index;
    }
    list->header()->setStretchLastSection(false);
    return list;
}

void AppendRow(QTreeWidget* list, const QStringList& cells) {
    auto* item = new QTreeWidgetItem(cells);
    for (int i = 0; i < cells.size(); ++i)
        item->setTextAlignment(i, Qt::Alignment(list->headerItem()->textAlignment(i)));
    list->addTopLevelItem(item);
}

TRarForm::TRarForm(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      logic_(*this) {
    setObjectName("RarForm");
    resize(412, 333);
    BuildProgressPanel();
    BuildListPanels();
    // Keys reach the window before its controls.
    qApp->installEventFilter(this);
}

TRarForm::~TRarForm() {
    qApp->removeEventFilter(this);
}

void TRarForm::BuildProgressPanel() {
    Panel1 = new QFrame(this);
    Panel1->setObjectName("Panel1");
    Panel1->setFrameShape(QFrame::NoFrame);
    Panel1->setGeometry(0, 0, 365, 142);
    lbl_filename = MakeLabel(Panel1, "lbl_filename", "File:", 56, 15);
    ProgressBar1 = MakeBar(Panel1, "ProgressBar1", 56, 31);
    lbl_archivename = MakeLabel(Panel1, "lbl_archivename", "Archive:", 56, 44);
    ProgressBar2 = MakeBar(Panel1, "ProgressBar2", 56, 60);
    btn_cancel = new QPushButton(QStringLiteral("&Cancel"), Panel1);
    btn_cancel->setObjectName("btn_cancel");
    btn_cancel->setGeometry(276, 83, 75, 25);
    connect(btn_cancel, &QPushButton::clicked, this, &TRarForm::btn_cancelClick);
    Panel1->hide();
    Panel1->setEnabled(false);
}

void TRarForm::BuildListPanels() {
    Panel2 = new QFrame(this);
    Panel2->setObjectName("Panel2");
    Panel2->setGeometry(0, 0, 412, 333);
    ListView1 = MakeReportList(Panel2, "ListView1",
                               {{"FileName", 100, false},
                                {"Date / Time", 90, false},
                                {"Packed", 80, true},
                                {"Unpacked", 80, true},
                                {"Ratio", 38, false}},
                               true);
    ListView1->setGeometry(Panel2->rect());
    Panel2->hide();
    Panel2->setEnabled(false);

    Panel3 = new QFrame(this);
    Panel3->setObjectName("Panel3");
    ListView2 =
        MakeReportList(Panel3, "ListView2",
                       {{"Archive", 100, false}, {"File", 208, false}, {"Size", 80, true}}, true);
    Panel3->hide();
    Panel3->setEnabled(false);
}

void TRarForm::SetDialogs(Tselpathform* selpath, TZipOptionsForm* zipOptions, Tlogform* log) {
    selpath_ = selpath;
    zipOptions_ = zipOptions;
    log_ = log;
}

void TRarForm::SetArguments(const std::string& arg1, const std::string& arg2) {
    arg1_ = arg1;
    arg2_ = arg2;
}

void TRarForm::PrepareLayout(const WindowLayout& layout) {
    QFrame* shown = layout.panel == Panel::Progress    ? Panel1
                    : layout.panel == Panel::ZipList   ? Panel2
                    : layout.panel == Panel::OtherList ? Panel3
                                                       : nullptr;
    for (QFrame* panel : {Panel1, Panel2, Panel3}) {
        panel->setVisible(panel == shown);
        panel->setEnabled(panel == shown);
    }
    ApplyOuterSize(this, layout.outerWidth, layout.outerHeight, true);
    outerSize_ = QSize(layout.outerWidth, layout.outerHeight);
    FitPanel3(); // a hidden window gets its resize event only when shown
    setWindowTitle(Q(layout.caption));
    CentreOnScreen(this);
}

void TRarForm::SetFileLabel(const std::string& text) {
    lbl_filename->setText(Q(text));
    lbl_filename->adjustSize();
}

void TRarForm::SetArchiveLabel(const std::string& text) {
    lbl_archivename->setText(Q(text));
    lbl_archivename->adjustSize();
}

void TRarForm::SetEntryBar(int position) {
    ProgressBar1->setValue(std::clamp(position, 0, ProgressBar1->maximum()));
}

void TRarForm::SetVolumeBar(int position, int maximum) {
    // A range of 0..0 would make the bar a busy indicator.
    ProgressBar2->setRange(0, std::max(maximum, 1));
    ProgressBar2->setValue(std::clamp(position, 0, ProgressBar2->maximum()));
}

void TRarForm::AddZipListRow(const ZipListRow& row) {
    QStringList cells;
    for (const std::string& cell : row)
        cells << Q(cell);
    AppendRow(ListView1, cells);
}

void TRarForm::AddOtherListRow(const OtherListRow& row) {
    AppendRow(ListView2, {Q(row[0]), Q(row[1]), Q(row[2])});
}

void TRarForm::AddLogRow(const std::string& archive, const std::string& file,
                         const std::string& error) {
    if (log_) log_->AddRow(Q(archive), Q(file), Q(error));
}

int TRarForm::LogRowCount() const {
    return log_ ? log_->RowCount() : 0;
}

void TRarForm::ShowLogModal(const std::string& caption) {
    if (log_) log_->ShowModal(Q(caption));
}

std::string TRarForm::ShowExtractTo() {
    return selpath_ ? selpath_->ShowModal(logic_.State().ArchivePath) : std::string();
}

ZipOptionsAnswer TRarForm::ShowZipOptions(const std::string& matchText) {
    return zipOptions_ ? zipOptions_->ShowModal(matchText) : ZipOptionsAnswer{};
}

void TRarForm::ShowHelp() {
    THelpForm help(this);
    help.exec();
}

void TRarForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FitPanel3();
}

void TRarForm::FitPanel3() {
    // Panel3 fills the window; its list fills the panel.
    Panel3->setGeometry(rect());
    ListView2->setGeometry(Panel3->rect());
}

void TRarForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (shown_) return;
    shown_ = true;
    logic_.FormShow(arg1_, arg2_);
}

void TRarForm::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    FirstPaint();
}

void TRarForm::FirstPaint() {
    // The operation runs from the event loop, not inside the paint.
    if (logic_.TakeStartPending())
        QMetaObject::invokeMethod(this, &TRarForm::RunOperation, Qt::QueuedConnection);
    // Once the window system has framed the window, its outer size can be met.
    if (outerSize_.isValid()) {
        const QSize frame = frameGeometry().size() - geometry().size();
        if (frame.width() > 0 || frame.height() > 0) {
            const QSize outer = outerSize_;
            outerSize_ = QSize();
            QMetaObject::invokeMethod(
                this, [this, outer] { ApplyOuterSize(this, outer.width(), outer.height(), true); },
                Qt::QueuedConnection);
        }
    }
}

void TRarForm::RunOperation() {
    logic_.RunOperation();
}

void TRarForm::closeEvent(QCloseEvent* event) {
    logic_.CloseRequested();
    event->accept();
}

bool TRarForm::eventFilter(QObject* watched, QEvent* event) {
    // Lists and panels may cover the whole window, so that the window itself
    // gets no paint; the first paint of any of its parts counts.
    if (event->type() == QEvent::Paint && watched != this && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this)
        FirstPaint();
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape && !key->isAutoRepeat()) logic_.KeyDown(27);
    }
    return QWidget::eventFilter(watched, event);
}

void TRarForm::btn_cancelClick() {
    logic_.CancelClick();
}

} // namespace dvl::dvl2
