// RarForm: the main window. Shows the progress panel or one of the two list
// panels, starts the operation at its first paint and forwards Cancel,
// Escape and the close box to the front end's logic.
#pragma once

#include "dvl2/core/front_end.h"
#include "dvl2/core/view.h"

#include <QWidget>

class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace dvl::dvl2 {

class Tselpathform;
class TZipOptionsForm;
class Tlogform;

class TRarForm : public QWidget, public MainView {
    Q_OBJECT
public:
    explicit TRarForm(QWidget* parent = nullptr);
    ~TRarForm() override;

    // The other windows, created after this one.
    void SetDialogs(Tselpathform* selpath, TZipOptionsForm* zipOptions, Tlogform* log);
    // The command-line arguments the start-up sequence reads when the window
    // is first shown.
    void SetArguments(const std::string& arg1, const std::string& arg2);

    FrontEnd& Logic() { return logic_; }

    // MainView.
    void PrepareLayout(const WindowLayout& layout) override;
    void SetFileLabel(const std::string& text) override;
    void SetArchiveLabel(const std::string& text) override;
    void SetEntryBar(int position) override;
    void SetVolumeBar(int position, int maximum) override;
    void AddZipListRow(const ZipListRow& row) override;
    void AddOtherListRow(const OtherListRow& row) override;
    void AddLogRow(const std::string& archive, const std::string& file,
                   const std::string& error) override;
    int LogRowCount() const override;
    void ShowLogModal(const std::string& caption) override;
    std::string ShowExtractTo() override;
    ZipOptionsAnswer ShowZipOptions(const std::string& matchText) override;
    void ShowHelp() override;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void btn_cancelClick();
    void RunOperation();

private:
    void BuildProgressPanel();
    void BuildListPanels();
    // At every paint of the window or a part of it: starts a pending
    // operation and, once the frame is known, meets the outer size.
    void FirstPaint();
    void FitPanel3();

    FrontEnd logic_;
    std::string arg1_, arg2_;
    bool shown_ = false;
    QSize outerSize_; // still to be met once the frame is known

    QFrame* Panel1 = nullptr;
    QLabel* lbl_filename = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QLabel* lbl_archivename = nullptr;
    QProgressBar* ProgressBar2 = nullptr;
    QPushButton* btn_cancel = nullptr;
    QFrame* Panel2 = nullptr;
    QTreeWidget* ListView1 = nullptr;
    QFrame* Panel3 = nullptr;
    QTreeWidget* ListView2 = nullptr;

    Tselpathform* selpath_ = nullptr;
    TZipOptionsForm* zipOptions_ = nullptr;
    Tlogform* log_ = nullptr;
};

// Window helpers shared by the forms.
// Resizes so that the frame (when the window system reports one) is w x h;
// a fixed size keeps a dialog border from being dragged.
void ApplyOuterSize(QWidget* window, int width, int height, bool fixed = false);
void CentreOnScreen(QWidget* window);
// A read-only report list with the given columns (title, width, right-aligned).
struct ColumnSpec {
    const char* title;
    int width;
    bool rightAligned;
};
QTreeWidget* MakeReportList(QWidget* parent, const char* name,
                            std::initializer_list<ColumnSpec> columns, bool multiSelect);
void AppendRow(QTreeWidget* list, const QStringList& cells);

} // namespace dvl::dvl2
